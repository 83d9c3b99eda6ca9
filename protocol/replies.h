#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <chrono>
#include <deque>
#include <optional>

// How the keyboard's replies answer the frames sent: every frame expects exactly one reply,
// and replies answer frames in the order they went. A reply with no frame waiting for it (a
// second answer, one left on the line from before the port was opened) answers nothing; a
// frame whose reply is overdue is unanswered, and a reply after that answers nothing either:
// a late reply credited to the next frame would shift every verdict after it.
namespace replies {

// What a frame should be answered with, read from its own bytes. A text frame whose length
// byte claims one byte more than it carries waits for a byte that never comes: the keyboard
// refuses it once the line stays quiet for the frame gap. Everything else is answered at once.
enum class Expect { Accept, RefuseAfterGap };
Expect expected(QByteArrayView frame);

// Replies, when no bound is given: the longest a keyboard may take to answer a frame.
inline constexpr std::chrono::milliseconds kDefaultBound{1000};

struct Outcome
{
    enum class Kind {
        Answered,   // a reply (06 or 15) to the oldest frame waiting
        Unanswered, // a frame whose reply did not come in time
        Unexpected, // a reply (06 or 15) with no frame waiting for it
        Other,      // a byte that is no reply
    };
    Kind kind = Kind::Other;
    protocol::ByteClass reply = protocol::ByteClass::Other; // Answered, Unexpected
    Expect expected = Expect::Accept;                       // Answered, Unanswered
    // Answered: from the frame's last byte on the wire to the reply, never negative.
    std::chrono::microseconds latency{0};
    QByteArray frame; // Answered, Unanswered: the frame it is about

    bool answeredAsExpected() const
    {
        return kind == Kind::Answered
               && (reply == protocol::ByteClass::Ack) == (expected == Expect::Accept);
    }
};

class Matcher
{
public:
    using nanoseconds = std::chrono::nanoseconds;

    // Frames waiting beyond this are given up as unanswered, oldest first: a keyboard that
    // stopped answering must not fill the memory on a fast loop with a long bound.
    static constexpr qsizetype kMaxWaiting = 4096;

    explicit Matcher(std::chrono::milliseconds bound = kDefaultBound)
        : m_bound(bound)
    {
    }
    void setBound(std::chrono::milliseconds bound) { m_bound = bound; }
    std::chrono::milliseconds bound() const { return m_bound; }

    // A frame handed to the system at `handedAt`, whose last byte leaves the wire at
    // `lastByteOut`; returns what had to be given up to make room for it.
    QList<Outcome> sent(const QByteArray &frame, nanoseconds handedAt, nanoseconds lastByteOut);
    // Frames whose replies are overdue at `now`, oldest first.
    QList<Outcome> expire(nanoseconds now);
    // Bytes that arrived at `at`: first the frames overdue by then, then one outcome per byte.
    QList<Outcome> received(QByteArrayView bytes, nanoseconds at);
    // The line ended: frames still waiting are dropped, neither answered nor unanswered.
    void drop() { m_waiting.clear(); }

    qsizetype waiting() const { return qsizetype(m_waiting.size()); }
    // When the oldest frame's reply becomes overdue.
    std::optional<nanoseconds> nextDeadline() const;

private:
    struct Waiting
    {
        QByteArray frame;
        Expect expected;
        nanoseconds handedAt;
        nanoseconds lastByteOut;
        nanoseconds deadline;
    };
    static Outcome unanswered(const Waiting &w);

    std::chrono::milliseconds m_bound;
    std::deque<Waiting> m_waiting;
};

} // namespace replies
