#pragma once

#include "protocol.h"

#include <QString>

namespace sendloop {

// The display text the window starts with, and an unattended test sends unless told.
inline const QString kInitialText = QStringLiteral(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN ");

// Fills an empty display text when the loop starts: 78 characters, two blanks in the middle.
inline const QString kTestText = QStringLiteral(
    "8-8-8= Teste 8-8-8= Teste 8-8-8= Teste  8-8-8= Teste 8-8-8= Teste 8-8-8= Teste");

inline constexpr int kMaxRate = 65535;

// Bytes one tick writes: the cursor command and the text frame.
constexpr qsizetype tickBytes(qsizetype textLength)
{
    return protocol::kCommandFrameBytes + protocol::kTextHeaderBytes + textLength;
}

// A tick goes out whole or not at all: it needs room for all its bytes in what the
// transmit buffer has free. When the line cannot keep up with the rate, the buffer stays
// full and the ticks that do not fit are skipped.
constexpr bool tickFits(qsizetype textLength, qsizetype bufferFree)
{
    return tickBytes(textLength) <= bufferFree;
}

} // namespace sendloop
