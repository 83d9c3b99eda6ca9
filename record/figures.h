#pragma once

#include "protocol/replies.h"

#include <QString>

#include <chrono>
#include <map>
#include <optional>

// How fast the keyboard answers: replies' latencies in bins, exact to the bin over any wait,
// at a memory that grows with the spread of the waits, not with their number: 10 µs bins up
// to 100 ms, 1 ms bins up to 10 s, 100 ms bins beyond. The largest is also kept exactly.
class LatencyHistogram
{
public:
    using microseconds = std::chrono::microseconds;

    void add(microseconds latency);
    qint64 count() const { return m_count; }
    // The q-quantile (0 < q <= 1) by nearest rank, as the top of its bin, never above the
    // largest; none without data.
    std::optional<microseconds> quantile(double q) const;
    std::optional<microseconds> max() const;
    LatencyHistogram &operator+=(const LatencyHistogram &other);

private:
    static qint64 binOf(microseconds latency);
    static microseconds topOf(qint64 bin);

    std::map<qint64, qint64> m_bins;
    qint64 m_count = 0;
    microseconds m_max{0};
};

// The keyboard's figures over a stretch of the line (since the port's open, a section of the
// record, a whole record), counted from what the reply matcher made of it.
class Figures
{
public:
    using Outcome = replies::Outcome;

    void frameSent() { ++m_framesSent; }
    void judged(const Outcome &outcome);
    void tickSkipped() { ++m_ticksSkipped; }

    qint64 framesSent() const { return m_framesSent; }
    qint64 accepted() const { return m_accepted; }
    qint64 refused() const { return m_refused; }
    // Frames that should have been accepted and were refused, and the other way round.
    qint64 goodRefused() const { return m_goodRefused; }
    qint64 wrongAccepted() const { return m_wrongAccepted; }
    // Frames whose reply did not come in time: those that should have been accepted, and
    // those that should have been refused.
    qint64 goodUnanswered() const { return m_goodUnanswered; }
    qint64 wrongUnanswered() const { return m_wrongUnanswered; }
    qint64 unanswered() const { return m_goodUnanswered + m_wrongUnanswered; }
    qint64 unexpected() const { return m_unexpected; }
    qint64 otherBytes() const { return m_other; }
    qint64 ticksSkipped() const { return m_ticksSkipped; }
    // Replies to frames the keyboard could answer at once: a refusal after the frame gap
    // tells the keyboard's gap, not how fast it answers.
    const LatencyHistogram &latency() const { return m_latency; }
    // The slowest of those replies.
    std::optional<std::chrono::microseconds> slowest() const { return m_latency.max(); }

    // One figure a line, in Portuguese, for a person.
    QString summary() const;
    // The figures of two stretches of the line together.
    Figures &operator+=(const Figures &other);

private:
    qint64 m_framesSent = 0;
    qint64 m_accepted = 0;
    qint64 m_refused = 0;
    qint64 m_goodRefused = 0;
    qint64 m_wrongAccepted = 0;
    qint64 m_goodUnanswered = 0;
    qint64 m_wrongUnanswered = 0;
    qint64 m_unexpected = 0;
    qint64 m_other = 0;
    qint64 m_ticksSkipped = 0;
    LatencyHistogram m_latency;
};

// A latency as the figures write it: milliseconds with three decimals ("20.113").
QString millisecondsText(std::chrono::microseconds latency);
