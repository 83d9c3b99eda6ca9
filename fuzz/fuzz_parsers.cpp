// Frame building and the readers of typed numbers (the loop's rate, the port number).
#include "check.h"
#include "protocol/frames.h"
#include "protocol/sendloop.h"
#include "text/number.h"

#include <optional>

namespace {

// Blanks around, then decimal digits, no more of them than `max` has, at most `max`.
std::optional<int> reference(const QString &text, int max)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > QString::number(max).size())
        return std::nullopt;
    long value = 0;
    for (const QChar c : t) {
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value <= max ? std::optional<int>(int(value)) : std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool wrong = data[0] & 1;
    const QByteArray text(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QByteArray frame = frames::text(text, wrong);
    if (text.size() > protocol::kMaxLengthByte - (wrong ? 1 : 0)) {
        FUZZ_CHECK(frame.isEmpty());
    } else {
        FUZZ_CHECK(frame.size() == 2 + text.size());
        FUZZ_CHECK(uchar(frame[0]) == protocol::kTextMarker);
        FUZZ_CHECK(uchar(frame[1]) == text.size() + (wrong ? 1 : 0));
        FUZZ_CHECK(frame.sliced(2) == text);
    }
    const auto command = frames::Command(data[0]);
    FUZZ_CHECK(frames::command(command) == QByteArray("\xA0") + char(data[0]));

    const QString typed = QString::fromUtf8(text);
    FUZZ_CHECK(numbers::parse(typed, sendloop::kMaxRate) == reference(typed, sendloop::kMaxRate));
    FUZZ_CHECK(numbers::parse(typed, 255) == reference(typed, 255));
    return 0;
}
