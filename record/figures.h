#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <array>
#include <chrono>
#include <deque>
#include <optional>

// How fast the keyboard answers: replies' latencies in fixed bins, so that a session of
// days costs the same memory as one of a minute. 10 µs bins up to 100 ms, then 1 ms bins up
// to 10 s; the largest is also kept exactly.
class LatencyHistogram
{
public:
    using microseconds = std::chrono::microseconds;

    void add(microseconds latency);
    qint64 count() const { return m_count; }
    // The q-quantile (0 < q <= 1) by nearest rank, as the top of its bin; none without data.
    std::optional<microseconds> quantile(double q) const;
    std::optional<microseconds> max() const;

private:
    static constexpr int kFineBins = 10'000;  // 10 µs each, to 100 ms
    static constexpr int kCoarseBins = 9'900; // 1 ms each, to 10 s
    static int binOf(microseconds latency);
    static microseconds topOf(int bin);

    std::array<qint64, kFineBins + kCoarseBins + 1> m_bins{}; // the last: 10 s and beyond
    qint64 m_count = 0;
    microseconds m_max{0};
};

// The keyboard's figures for a session: kept from the port's open whatever the logs' limit
// does. A reply (06 or 15) answers the oldest frame not yet answered; its latency runs from
// the moment that frame's last byte left the wire to the reply's arrival.
class SessionFigures
{
public:
    using nanoseconds = std::chrono::nanoseconds;
    using microseconds = std::chrono::microseconds;

    // A new session: every count back to zero.
    void reset() { *this = SessionFigures(); }
    void frameSent(nanoseconds lastByteOnWire);
    // Bytes that arrived at `at`; returns the latency of each reply among them, in order.
    QList<microseconds> received(QByteArrayView bytes, nanoseconds at);
    void tickSkipped() { ++m_ticksSkipped; }
    // The line is gone or closed: frames still unanswered will never be.
    void lineEnded() { m_unanswered.clear(); }

    qint64 framesSent() const { return m_framesSent; }
    qint64 accepted() const { return m_accepted; }
    qint64 refused() const { return m_refused; }
    qint64 otherBytes() const { return m_other; }
    qint64 ticksSkipped() const { return m_ticksSkipped; }
    const LatencyHistogram &latency() const { return m_latency; }

    // One figure a line, in Portuguese, for a person.
    QString summary() const;

private:
    // Frames sent and not answered; a keyboard that stopped answering leaves them here, so
    // only the newest are kept.
    static constexpr qsizetype kMaxUnanswered = 4096;

    qint64 m_framesSent = 0;
    qint64 m_accepted = 0;
    qint64 m_refused = 0;
    qint64 m_other = 0;
    qint64 m_ticksSkipped = 0;
    std::deque<nanoseconds> m_unanswered;
    LatencyHistogram m_latency;
};

// A latency as the figures write it: milliseconds with three decimals ("20.113").
QString millisecondsText(std::chrono::microseconds latency);
