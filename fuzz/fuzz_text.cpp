// Windows-1252 both ways and the text boxes' display mapping: one byte per character, and
// whatever the line can carry comes back exactly.
#include "app/widgets/textbox.h"
#include "check.h"
#include "serial/win1252.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    // The input as bytes from the line...
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = win1252::decode(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(win1252::encode(text) == bytes);
    FUZZ_CHECK(win1252::fitToCodePage(text) == text);
    FUZZ_CHECK(TextBox::unrender(TextBox::render(text, TextBox::Mode::Lines)) == text);
    // A log shows one symbol per byte; the five bytes the code page leaves undefined share
    // one symbol, so the box keeps the text itself and never reads it back from the screen.
    const QString shown = TextBox::render(text, TextBox::Mode::Log);
    FUZZ_CHECK(shown.size() == text.size());
    QString readBack = text;
    for (QChar &c : readBack) {
        if (c.unicode() >= 0x80 && c.unicode() < 0xA0)
            c = QChar(char16_t(0xFFFD));
    }
    FUZZ_CHECK(TextBox::unrender(shown) == readBack);

    // ...and as UTF-16 typed or pasted by a user, any code units at all.
    const QString typed(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    const QByteArray carried = win1252::encode(typed);
    FUZZ_CHECK(carried.size() == win1252::length(typed));
    const QString kept = win1252::fitToCodePage(typed);
    FUZZ_CHECK(win1252::decode(carried) == kept);
    FUZZ_CHECK(win1252::encode(kept) == carried);
    return 0;
}
