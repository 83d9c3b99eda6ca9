// Frame building and the readers of typed numbers (the loop's rate, the port number).
#include "check.h"
#include "display/frames.h"
#include "display/sendloop.h"
#include "serial/portmap.h"

#include <optional>

namespace {

// Blanks around, then one to five decimal digits, at most `max`.
std::optional<int> reference(const QString &text, int max)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 5)
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
    if (text.size() > (wrong ? 254 : 255)) {
        FUZZ_CHECK(frame.isEmpty());
    } else {
        FUZZ_CHECK(frame.size() == 2 + text.size());
        FUZZ_CHECK(uchar(frame[0]) == 0xA5);
        FUZZ_CHECK(uchar(frame[1]) == text.size() + (wrong ? 1 : 0));
        FUZZ_CHECK(frame.sliced(2) == text);
    }
    const auto command = frames::Command(data[0]);
    FUZZ_CHECK(frames::command(command) == QByteArray("\xA0") + char(data[0]));

    const QString typed = QString::fromUtf8(text);
    FUZZ_CHECK(sendloop::parseRate(typed) == reference(typed, sendloop::kMaxRate));
    const auto port = ports::parseNumber(typed);
    const auto expected = reference(typed, 99999);
    FUZZ_CHECK(port == expected);
    return 0;
}
