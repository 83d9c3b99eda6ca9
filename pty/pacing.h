#pragma once

#include <QtGlobal>

#include <algorithm>
#include <chrono>

// The pace of a serial line as its far end meets it: a reader takes bytes no faster than
// the line delivers them, with a few milliseconds' worth of slack, so that the sender meets
// the back-pressure of real hardware. A rate of 0 is no limit.
class Pacing
{
public:
    using nanoseconds = std::chrono::nanoseconds;

    // Bytes the reader may take in one go: 16 ms of line time at 960 bytes a second.
    static constexpr double kBurst = 16.0;

    explicit Pacing(double bytesPerSecond = 0)
        : m_rate(bytesPerSecond)
    {
    }

    double rate() const { return m_rate; }
    void setRate(double bytesPerSecond) { m_rate = bytesPerSecond; }

    // How many bytes may be read at `now`, at most `most`; 0 means wait for untilNext().
    qsizetype allowance(nanoseconds now, qsizetype most)
    {
        if (m_rate <= 0)
            return most;
        if (m_last.count() >= 0) {
            const double seconds = std::chrono::duration<double>(now - m_last).count();
            m_credit = std::min(kBurst, m_credit + std::max(0.0, seconds) * m_rate);
        }
        m_last = now;
        return std::min(most, qsizetype(m_credit));
    }
    void take(qsizetype bytes)
    {
        if (m_rate > 0)
            m_credit -= double(bytes);
    }
    // How long until the next byte may be read.
    nanoseconds untilNext() const
    {
        if (m_rate <= 0 || m_credit >= 1)
            return nanoseconds{0};
        return nanoseconds(qint64((1.0 - m_credit) / m_rate * 1e9));
    }

private:
    double m_rate;
    double m_credit = kBurst;
    nanoseconds m_last{-1};
};
