#pragma once

#include <QtGlobal>

#include <chrono>

// The keyboard's display protocol, as both ends of the line speak it. Everything that
// builds, reads, checks or plays frames takes its bytes and sizes from here.
namespace protocol {

// A text frame: A5, a length byte n, then n characters for the display at its cursor.
inline constexpr uchar kTextMarker = 0xA5;
inline constexpr qsizetype kTextHeaderBytes = 2;
// The largest count the length byte can state.
inline constexpr qsizetype kMaxLengthByte = 255;

// A command frame: A0 and one command byte.
inline constexpr uchar kCommandMarker = 0xA0;
inline constexpr qsizetype kCommandFrameBytes = 2;

// The display: two lines of 40 characters, line 1 at addresses 00-27, line 2 at 40-67.
inline constexpr int kColumns = 40;
inline constexpr uchar kLine2Address = 0x40;

// A command byte with this bit set moves the cursor to the address in the other seven.
inline constexpr uchar kSetAddress = 0x80;

enum class Command : uchar {
    Clear = 0x01,
    Line1 = kSetAddress | 0x00,
    Line2 = kSetAddress | kLine2Address,
};

// The keyboard answers every frame: accepted or refused.
inline constexpr uchar kAck = 0x06;
inline constexpr uchar kNack = 0x15;

// What a received byte is to whoever reads the line: the one place bytes are sorted.
enum class ByteClass { Ack, Nack, Other };
constexpr ByteClass classify(uchar byte)
{
    return byte == kAck ? ByteClass::Ack : byte == kNack ? ByteClass::Nack : ByteClass::Other;
}

// A frame whose bytes stop coming for longer than this is incomplete: the keyboard refuses it
// once the line has been quiet that long.
inline constexpr std::chrono::milliseconds kFrameGap{50};

} // namespace protocol
