#include "replies.h"

#include <algorithm>

namespace replies {

Expect expected(QByteArrayView frame)
{
    if (frame.size() >= protocol::kTextHeaderBytes && uchar(frame[0]) == protocol::kTextMarker
        && qsizetype(uchar(frame[1])) > frame.size() - protocol::kTextHeaderBytes)
        return Expect::RefuseAfterGap;
    return Expect::Accept;
}

Outcome Matcher::unanswered(const Waiting &w)
{
    Outcome o;
    o.kind = Outcome::Kind::Unanswered;
    o.expected = w.expected;
    o.frame = w.frame;
    return o;
}

QList<Outcome> Matcher::sent(const QByteArray &frame, nanoseconds handedAt, nanoseconds lastByteOut)
{
    const Expect expect = expected(frame);
    nanoseconds deadline
        = lastByteOut + (expect == Expect::RefuseAfterGap ? protocol::kFrameGap : nanoseconds{0})
          + m_bound;
    // The keyboard answers in order: a frame behind one that waits out the gap waits with it.
    if (!m_waiting.empty())
        deadline = std::max(deadline, m_waiting.back().deadline);
    m_waiting.push_back({frame, expect, handedAt, lastByteOut, deadline});
    QList<Outcome> given;
    while (qsizetype(m_waiting.size()) > kMaxWaiting) {
        given.append(unanswered(m_waiting.front()));
        m_waiting.pop_front();
    }
    return given;
}

QList<Outcome> Matcher::expire(nanoseconds now)
{
    QList<Outcome> out;
    while (!m_waiting.empty() && m_waiting.front().deadline < now) {
        out.append(unanswered(m_waiting.front()));
        m_waiting.pop_front();
    }
    return out;
}

QList<Outcome> Matcher::received(QByteArrayView bytes, nanoseconds at)
{
    QList<Outcome> out = expire(at);
    for (const char c : bytes) {
        Outcome o;
        o.reply = protocol::classify(uchar(c));
        if (o.reply == protocol::ByteClass::Other) {
            out.append(o);
            continue;
        }
        // A reply that began to arrive before the oldest frame was even written cannot be its
        // answer: it was on the line already.
        if (m_waiting.empty() || at < m_waiting.front().handedAt) {
            o.kind = Outcome::Kind::Unexpected;
            out.append(o);
            continue;
        }
        const Waiting &w = m_waiting.front();
        o.kind = Outcome::Kind::Answered;
        o.expected = w.expected;
        o.frame = w.frame;
        o.latency = std::chrono::duration_cast<std::chrono::microseconds>(
            std::max(at - w.lastByteOut, nanoseconds{0}));
        out.append(o);
        m_waiting.pop_front();
    }
    return out;
}

std::optional<std::chrono::nanoseconds> Matcher::nextDeadline() const
{
    if (m_waiting.empty())
        return std::nullopt;
    return m_waiting.front().deadline;
}

} // namespace replies
