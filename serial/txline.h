#pragma once

#include <QtGlobal>

#include <algorithm>
#include <chrono>

// Estimate of what the line still has to carry of the bytes handed to the system.
// A UART sends at the baud rate whatever we do; a pseudo-terminal ignores the rate, so the
// control paces its writes by this clock and the far end sees the timing of a real line.
class TxLine
{
public:
    using nanoseconds = std::chrono::nanoseconds;

    explicit TxLine(nanoseconds byteTime)
        : m_byteTime(byteTime)
    {
    }

    void setByteTime(nanoseconds byteTime) { m_byteTime = byteTime; }
    nanoseconds byteTime() const { return m_byteTime; }

    // The system says it still holds `bytes` for the line: they are on it until then at least.
    void holding(qsizetype bytes, nanoseconds now)
    {
        m_idleAt = std::max<nanoseconds>(m_idleAt, now + bytes * m_byteTime);
    }

    void handOver(qsizetype bytes, nanoseconds now)
    {
        m_idleAt = std::max(m_idleAt, now) + bytes * m_byteTime;
    }

    // Bytes not yet on the far side, rounded up: a byte half sent still occupies the line.
    qsizetype pending(nanoseconds now) const
    {
        if (now >= m_idleAt)
            return 0;
        return qsizetype((m_idleAt - now + m_byteTime - nanoseconds{1}) / m_byteTime);
    }

    // Time from now until no more than the given number of bytes is pending.
    nanoseconds untilPendingAtMost(qsizetype bytes, nanoseconds now) const
    {
        const nanoseconds at = m_idleAt - bytes * m_byteTime;
        return at > now ? at - now : nanoseconds{0};
    }

    // When the last byte handed over leaves the wire, by this clock.
    nanoseconds idleAt() const { return m_idleAt; }

    void reset() { m_idleAt = nanoseconds{0}; }

private:
    nanoseconds m_byteTime;
    nanoseconds m_idleAt{0};
};
