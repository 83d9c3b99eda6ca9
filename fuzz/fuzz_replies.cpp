// The reply matcher on any sequence of frames sent, bytes received and time passing.
#include "check.h"
#include "protocol/frames.h"
#include "protocol/replies.h"

#include <deque>

using namespace std::chrono_literals;
using replies::Outcome;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    Input in(data, size);
    replies::Matcher matcher(std::chrono::milliseconds(1 + in.byte()));
    std::chrono::nanoseconds now{0};
    // Frames sent and not yet judged, in order: the matcher must judge each exactly once,
    // in the order sent.
    std::deque<QByteArray> open;
    qint64 sent = 0;
    qint64 judged = 0;
    const auto check = [&](const QList<Outcome> &outcomes) {
        for (const Outcome &o : outcomes) {
            if (o.kind != Outcome::Kind::Answered && o.kind != Outcome::Kind::Unanswered)
                continue;
            FUZZ_CHECK(!open.empty());
            FUZZ_CHECK(o.frame == open.front());
            FUZZ_CHECK(o.latency >= 0us);
            open.pop_front();
            ++judged;
        }
        FUZZ_CHECK(qsizetype(open.size()) == matcher.waiting());
    };
    while (!in.empty()) {
        now += std::chrono::microseconds(in.byte() * 97);
        switch (in.byte() % 3) {
        case 0: {
            const QByteArray frame = in.byte() % 2 == 0
                                         ? frames::command(frames::Command::Line1)
                                         : frames::text(in.bytes(8), in.byte() % 2 == 0);
            // The line clock puts the frame's end after its hand-over.
            const auto end = now + std::chrono::microseconds(in.byte() * 1042);
            open.push_back(frame);
            ++sent;
            check(matcher.sent(frame, now, end));
            break;
        }
        case 1: {
            const QByteArray bytes = in.bytes(6);
            const QList<Outcome> outcomes = matcher.received(bytes, now);
            qsizetype perByte = 0;
            for (const Outcome &o : outcomes)
                perByte += o.kind != Outcome::Kind::Unanswered ? 1 : 0;
            FUZZ_CHECK(perByte == bytes.size());
            check(outcomes);
            break;
        }
        default:
            check(matcher.expire(now));
            // Nothing overdue is left waiting.
            if (const auto next = matcher.nextDeadline())
                FUZZ_CHECK(*next >= now);
            break;
        }
    }
    FUZZ_CHECK(sent == judged + matcher.waiting());
    return 0;
}
