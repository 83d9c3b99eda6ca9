#pragma once

#include "pacing.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

// The far end of a pseudo-terminal read on a thread of its own, so that a busy window
// thread cannot hide a pause inside a frame: every read is stamped when it happened.
class LineRecorder
{
public:
    // Reads the master side `fd` (not taken over) at most `bytesPerSecond` (0: no limit).
    explicit LineRecorder(int fd, double bytesPerSecond = 0);
    ~LineRecorder();

    QByteArray bytes() const;
    QList<Arrival> arrivals() const;
    // Waits until nothing has arrived for `quiet`, at most `limit`.
    void settle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const;

private:
    void run();

    int m_fd;
    Pacing m_pacing;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QList<Arrival> m_arrivals;
    std::thread m_thread;
};

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
