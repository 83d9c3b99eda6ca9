#pragma once

#include "faults.h"
#include "protocol/protocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>

// The keyboard's display as the virtual keyboard plays it: 2 lines of 40 characters
// addressed like a common character-LCD controller (line 1 at 00-27, line 2 at 40-67).
// Frames: A0 c (01 clear, 80+a cursor to a) and A5 n t1..tn (text at the cursor).
// Every accepted frame is answered 06, every refused one 15.
// Its parser is written apart from PADCOM's frame builder on purpose, so that it checks
// PADCOM rather than agreeing with it; the protocol's bytes and sizes are the shared ones.
class LcdDevice
{
public:
    using nanoseconds = std::chrono::nanoseconds;

    static constexpr int kColumns = protocol::kColumns;
    static constexpr uchar kLine2 = protocol::kLine2Address;
    // A frame whose bytes stop coming for longer than this is refused as incomplete.
    static constexpr nanoseconds kFrameGap = protocol::kFrameGap;
    static constexpr qsizetype kHistory = 16;

    struct Frame
    {
        QByteArray bytes;
        bool accepted = false;
    };

    LcdDevice() { clear(); }

    // A fault to show: every n-th frame is refused (15) whatever it holds; 0: none.
    void setRefuseEvery(int n) { m_refuseEvery = n; }
    // A fault to show: without the gap a frame left short waits for its rest for ever, and
    // the next frame's first bytes complete it.
    void setGapTimeout(bool on) { m_gapTimeout = on; }

    // Bytes from the line; returns the replies, in order.
    QByteArray feed(QByteArrayView bytes, nanoseconds now);
    // Refuses a frame left incomplete for longer than the gap.
    QByteArray expire(nanoseconds now);
    // The line was seen carrying bytes at `now` (some waited to be read): an open frame has
    // had no gap so far, however late its reader came round to it.
    void heard(nanoseconds now) { m_lastByte = now; }
    bool frameOpen() const { return m_state != State::Idle; }
    // When expire() next has something to do, if ever.
    std::optional<nanoseconds> frameDeadline() const
    {
        if (!frameOpen() || !m_gapTimeout)
            return std::nullopt;
        return m_lastByte + kFrameGap;
    }

    QByteArray line(int index) const { return index == 0 ? m_line1 : m_line2; }
    uchar cursor() const { return m_cursor; }
    int acceptedCount() const { return m_accepted; }
    int refusedCount() const { return m_refused; }
    const QList<Frame> &history() const { return m_history; }
    quint64 changes() const { return m_changes; }

    static bool validAddress(uchar address);
    static uchar nextAddress(uchar address);

private:
    enum class State { Idle, Command, Length, Text };

    void clear();
    char accept();
    char refuse();
    void record(bool accepted);
    void put(char c);

    QByteArray m_line1;
    QByteArray m_line2;
    uchar m_cursor = 0;

    State m_state = State::Idle;
    QByteArray m_frame;
    qsizetype m_expected = 0;
    nanoseconds m_lastByte{0};
    bool m_gapTimeout = true;

    // Whether the frame now complete is the one the fault refuses.
    bool refusedByFault() const
    {
        return m_refuseEvery > 0 && (m_accepted + m_refused + 1) % m_refuseEvery == 0;
    }

    int m_accepted = 0;
    int m_refused = 0;
    int m_refuseEvery = 0;
    quint64 m_changes = 0;
    QList<Frame> m_history;
};

// The line a paced reader stands for. Such a reader takes a few bytes ahead of the line's
// pace, or comes round to them late; a byte's time is when its last bit would have come off
// a real line that started carrying it at the first read after the line fell idle. Bytes
// that waited unread since the read before were on the line all along: it never stopped.
class LineClock
{
public:
    using nanoseconds = std::chrono::nanoseconds;

    explicit LineClock(nanoseconds byteTime = {})
        : m_byteTime(byteTime)
    {
    }

    // A read at `at`; `bytesWaited`: bytes still waited unread when the read before ended.
    void read(nanoseconds at, bool bytesWaited)
    {
        if (!bytesWaited)
            m_end = std::max(m_end, at);
    }
    // When the read's next byte has come off the line.
    nanoseconds next() { return m_end += m_byteTime; }

private:
    nanoseconds m_byteTime;
    nanoseconds m_end{0};
};

// The device on the event loop: a clock, and a timer for frames that stop half way.
// A gap is judged on the line, not by this thread's clock: a real keyboard's UART sees bytes
// as they come, while this thread may come round to reading them late (a busy machine, a
// paint). Bytes read late, or still waiting to be read, were on the line all along.
class VirtualKeyboard : public QObject
{
    Q_OBJECT

public:
    explicit VirtualKeyboard(QObject *parent = nullptr);

    const LcdDevice &device() const { return m_device; }
    // Bytes just read from the line.
    void receive(QByteArrayView bytes);
    // Tells whether bytes wait on the line, not yet read; without it, none ever do.
    void setBytesWaiting(std::function<bool()> probe) { m_bytesWaiting = std::move(probe); }
    // A reader that may take bytes ahead of the line they stand for (a paced pseudo-terminal)
    // tells the line's byte time: no reply leaves before its frame's last byte would have
    // come off that line, as none can from a real keyboard. 0: bytes come as the line gives.
    void setLineByteTime(LcdDevice::nanoseconds byteTime) { m_line = LineClock(byteTime); }
    // Faults to show: replies sent this long after the frame's last byte came off the line,
    // and every n-th frame refused.
    void setReplyDelay(std::chrono::milliseconds delay) { m_replyDelay = delay; }
    void setRefuseEvery(int n) { m_device.setRefuseEvery(n); }
    // Those and the rest of a faulty keyboard's ways (all but the stale replies, which are
    // the line's).
    void setFaults(const Faults &faults);
    const ReplyFaults &faults() const { return m_faults; }
    // Tests judge gaps on a clock of their own; the default is this process's steady clock.
    void setClock(std::function<LcdDevice::nanoseconds()> clock) { m_clock = std::move(clock); }

signals:
    void reply(const QByteArray &bytes);
    void changed();

private:
    struct Reply
    {
        LcdDevice::nanoseconds due;
        QByteArray bytes;
    };

    void expire();
    void queue(const QByteArray &replies, LcdDevice::nanoseconds due);
    void sendDue();
    void finish(quint64 changesBefore);
    LcdDevice::nanoseconds now() const { return m_clock(); }

    LcdDevice m_device;
    ReplyFaults m_faults;
    std::function<LcdDevice::nanoseconds()> m_clock;
    QTimer m_gapTimer;
    std::function<bool()> m_bytesWaiting;
    std::chrono::milliseconds m_replyDelay{0};
    LineClock m_line;
    bool m_bytesWaited = false; // after the last read: the line went on carrying
    // In the order the frames were judged: a reply due now still goes after those waiting.
    QList<Reply> m_replies;
    QTimer m_replyTimer;
};
