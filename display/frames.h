#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The two frames the keyboard's display understands: text (A5, length, text) and
// command (A0, command byte).
namespace frames {

inline constexpr char kTextMarker = char(0xA5);
inline constexpr char kCommandMarker = char(0xA0);

enum class Command : quint8 {
    Clear = 0x01,
    Line1 = 0x80,
    Line2 = 0xC0,
};

// Longest text whose length byte still fits (one less with the wrong length asked for).
qsizetype maxTextLength(bool wrongLength);

// The text goes out as given: nothing trimmed, padded or translated. A text too long for
// the length byte yields an empty array rather than a frame that lies about its length.
QByteArray text(QByteArrayView text, bool wrongLength);
QByteArray command(Command c);

} // namespace frames
