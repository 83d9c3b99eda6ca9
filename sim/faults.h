#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The faults of keyboards a production line meets, for padtest (and a technician) to see
// fail. Frames are counted from 1 in the order the keyboard judged them, every byte outside a
// frame counting as one, as --refuse-every counts them.
struct Faults
{
    int replyDelayMs = 0;
    int refuseEvery = 0;
    bool answerTwice = false;
    int silentAfter = -1; // frames answered before the keyboard falls silent; -1: never
    int dropEvery = 0;
    int noiseEvery = 0;
    bool noGap = false;
    bool acceptAll = false;
    int stale = 0; // replies left waiting for each program that opens the port
};

// Between the device's replies and the line: what a faulty keyboard puts on the line for
// them. The display is not touched: a reply lost or doubled on its way leaves the frame shown.
class ReplyFaults
{
public:
    // Line noise reads as all ones: a glitch on the idle line looks like a start bit.
    static constexpr char kNoise = char(0xFF);

    ReplyFaults() = default;
    explicit ReplyFaults(const Faults &faults)
        : m_faults(faults)
    {
    }

    // The device's replies, one byte per frame judged, as the line carries them.
    QByteArray shape(QByteArrayView replies);

    // What the faults did so far, in the user's language; empty while they did nothing.
    QString summary() const;

private:
    bool withheld() const;

    Faults m_faults;
    qint64 m_frames = 0;
    qint64 m_withheld = 0;
    qint64 m_doubled = 0;
    qint64 m_noise = 0;
    qint64 m_falseAccepts = 0;
};
