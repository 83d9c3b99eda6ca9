#pragma once

#include "arrival.h"
#include "pty/pacing.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

// The far end of a pseudo-terminal read on a thread of its own, so that a busy window
// thread cannot hide a pause inside a frame: every read is stamped when it happened.
class LineRecorder
{
public:
    // What the far end writes back for bytes read at a time.
    using Replies = std::function<QByteArray(QByteArrayView bytes, std::chrono::nanoseconds at)>;

    // Reads the master side `fd` (not taken over) at most `bytesPerSecond` (0: no limit),
    // and answers each read with `replies`, when given.
    explicit LineRecorder(int fd, double bytesPerSecond = 0, Replies replies = {});
    ~LineRecorder();

    QByteArray bytes() const;
    QList<Arrival> arrivals() const;
    // Waits until nothing has arrived for `quiet`, at most `limit`.
    void settle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const;

private:
    void run();

    int m_fd;
    Pacing m_pacing;
    Replies m_replies;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QList<Arrival> m_arrivals;
    std::thread m_thread;
};
