// Windows-1252 both ways and the text boxes' display mapping: one byte per character, and
// whatever the line can carry comes back exactly.
#include "check.h"
#include "text/boxtext.h"
#include "text/win1252.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    // The input as bytes from the line...
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = win1252::decode(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(win1252::encode(text) == bytes);
    FUZZ_CHECK(win1252::fitToCodePage(text) == text);
    FUZZ_CHECK(boxtext::unrender(boxtext::render(text, boxtext::Layout::Lines)) == text);
    // A log shows one symbol per byte; the five bytes the code page leaves undefined share
    // one symbol, so the box keeps the text itself and never reads it back from the screen.
    const QString log = boxtext::render(text, boxtext::Layout::Log);
    FUZZ_CHECK(log.size() == text.size());
    QString readBack = text;
    for (QChar &c : readBack) {
        if (c.unicode() >= 0x80 && c.unicode() < 0xA0)
            c = boxtext::kNoGlyph;
    }
    FUZZ_CHECK(boxtext::unrender(log) == readBack);

    // ...and as UTF-16 typed or pasted by a user, any code units at all.
    const QString typed(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    const QByteArray carried = win1252::encode(typed);
    FUZZ_CHECK(carried.size() == win1252::length(typed));
    const QString kept = win1252::fitToCodePage(typed);
    FUZZ_CHECK(win1252::decode(carried) == kept);
    FUZZ_CHECK(win1252::encode(kept) == carried);
    // Typed keys: only what the line carries is kept, and it is carried unchanged.
    const QString keys = boxtext::encodableOnly(typed);
    FUZZ_CHECK(win1252::decode(win1252::encode(keys)) == keys);
    // A paste cut to the room left never splits a CR LF or a surrogate pair.
    const qsizetype room = size > 0 ? data[0] % 64 : 0;
    const qsizetype units = boxtext::fittingUnits(typed, room);
    FUZZ_CHECK(units <= typed.size());
    FUZZ_CHECK(win1252::length(QStringView(typed).left(units)) <= room);
    FUZZ_CHECK(units == 0 || units == typed.size() || !typed[units - 1].isHighSurrogate()
               || !typed[units].isLowSurrogate());
    FUZZ_CHECK(units == 0 || units == typed.size() || typed[units - 1] != u'\r'
               || typed[units] != u'\n');
    return 0;
}
