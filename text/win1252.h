#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Text travels on the line as Windows-1252, one byte per character. Qt's own codec for it
// exists only where Qt uses ICU, so the program carries the table itself.
namespace win1252 {

// Byte -> character. Total and one-to-one: the five bytes the code page leaves undefined
// (81, 8D, 8F, 90, 9D) map to the C1 control of the same value, as Windows does.
QChar toUnicode(uchar byte);
QString decode(QByteArrayView bytes);

// Character -> byte; a code point the code page lacks (a surrogate pair counts as one)
// becomes '?', so the byte count always equals the character count.
QByteArray encode(QStringView text);

// Whether the code page has a byte for this code point.
bool encodable(char32_t codePoint);
// The text as the line will carry it: each code point the code page lacks becomes '?'.
QString fitToCodePage(QStringView text);

// Number of characters as the line counts them: code points, not UTF-16 units.
qsizetype length(QStringView text);

// Control characters have no glyph: C0 and DEL are shown as Unicode control pictures
// (U+2400-U+241F, U+2421); every other character stands for itself. And back.
QChar controlPicture(QChar c);
QChar fromControlPicture(QChar c);

// The ASCII name of a control byte (00-1F, 7F: "NUL", "ACK", "DEL"); for any other byte its
// two hex digits, for a byte with no character of its own.
QString mnemonic(uchar byte);

} // namespace win1252
