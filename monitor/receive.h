#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// What one block of received bytes does to the logs and counters, as plain data: the
// window assigns each box once per block instead of once per byte, with the same result.
namespace monitor {

// The HEX log's length (in characters) at which the next block empties both logs, and the
// length past which it empties them in any case.
inline constexpr qsizetype kLogEmptiesAt = 600;
inline constexpr qsizetype kLogLimit = 1000;

// Upper-case hex digits without leading zeros: "0", "6", "A", "15", "A5".
QString hexCode(uchar byte);

// The HEX log's limits, tested once per block before anything is appended.
bool logsMustEmpty(qsizetype hexLogLength);

// A count box's text read as its leading whole number (blanks, an optional sign, digits;
// anything after is ignored, no number reads as 0), plus `amount`, as plain decimal.
// Exact for any number of digits: no overflow, no rounding, no exponent.
QString addToCount(const QString &box, qint64 amount);

struct Boxes
{
    QString asciiLog; // Text2
    QString hexLog;   // Text3
    QString nack;     // Text6
    QString erro;     // Text7
};

struct BlockResult
{
    Boxes boxes;
    bool logsEmptied = false;
    qsizetype nackCount = 0;
    qsizetype otherCount = 0;
    QList<QByteArray> echoes; // one-character text frames, in order of arrival
};

BlockResult receiveBlock(const Boxes &before, QByteArrayView block, bool echo);

} // namespace monitor
