#pragma once

#include "arrival.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>

// Splits what reached the far end into display frames. A text frame counts as whole only
// when its length byte matches and its text is one of `texts` (or, where the window may have
// sent a wrong length on purpose, when it is one too large); `error` says where the stream
// first stops making sense (a cut frame, a stray byte).
struct FrameCheck
{
    int commandFrames = 0;
    int textFrames = 0;
    QString error;
    // The longest pause between two bytes of one frame.
    std::chrono::nanoseconds longestGapInFrame{0};
};
FrameCheck checkFrames(const QList<Arrival> &arrivals, const QSet<QByteArray> &texts,
                       bool wrongLengthAllowed = false);
