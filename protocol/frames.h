#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QByteArrayView>

// The two frames the keyboard's display understands: text (A5, length, text) and
// command (A0, command byte).
namespace frames {

using Command = protocol::Command;

// Longest text whose length byte still fits (one less with the wrong length asked for).
qsizetype maxTextLength(bool wrongLength);

// The text goes out as given: nothing trimmed, padded or translated. A text too long for
// the length byte yields an empty array rather than a frame that lies about its length.
QByteArray text(QByteArrayView text, bool wrongLength);
QByteArray command(Command c);

} // namespace frames
