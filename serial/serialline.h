#pragma once

#include "linesettings.h"
#include "looptimer.h"
#include "portdevice.h"
#include "txline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

// The serial control's working part, on whichever thread it lives (MSComm gives it one of
// its own): owns one port, raises OnComm when bytes wait, with the block of at most the
// receive buffer that the handler will read, and keeps a bounded transmit buffer of whole
// frames. A frame reaches the system in one write, so its bytes follow each other at the
// line's own speed; the line only decides when the next whole frame goes, keeping the line
// busy without letting more than the transmit buffer wait. The send loop ticks here too, so
// that a tick's frames go out on time whatever the window's thread is doing.
class SerialLine : public QObject
{
    Q_OBJECT

public:
    enum Event : qint16 {
        comEvReceive = 2,
        comEventTxFull = 1010,
    };
    enum class PortState { Closed, Open, Lost };
    enum class OutputResult { Queued, PortClosed, BufferFull };
    enum class LoopTick { Sent, Skipped, PortClosed };
    Q_ENUM(LoopTick)

    static constexpr qsizetype kInBufferSize = PortDevice::kReceiveBuffer;
    static constexpr qsizetype kOutBufferSize = 512;

    explicit SerialLine(std::unique_ptr<PortDevice> device, QObject *parent = nullptr);
    ~SerialLine() override;

    // Each setter returns false on failure and leaves the reason in errorString().
    QString Settings() const { return m_settings.toString(); }
    bool setSettings(const QString &settings);

    qint16 InputLen() const { return m_inputLen; }
    bool setInputLen(qint16 length);

    qint16 CommPort() const { return m_commPort; }
    bool setCommPort(qint16 port);

    bool PortOpen() const { return m_state == PortState::Open; }
    // Closing lets the frame already handed to the system finish on the line (a tenth of a
    // second at most at 9600 baud) and drops, whole, those still waiting here.
    bool setPortOpen(bool open);

    // Applied at once while open, else at the next open.
    bool DTREnable() const { return m_dtr; }
    bool setDTREnable(bool enable);
    bool RTSEnable() const { return m_rts; }
    bool setRTSEnable(bool enable);

    // One frame, queued whole or not at all; never waits for the line.
    OutputResult Output(const QByteArray &bytes);
    // Bytes read from the port, and when the first of them began to arrive.
    struct Received
    {
        QByteArray bytes;
        std::chrono::nanoseconds at{};
    };
    // Up to InputLen bytes (the whole receive buffer if 0).
    Received Input();
    static qsizetype inputLimit(qint16 inputLen)
    {
        return inputLen == 0 ? kInBufferSize : std::min<qsizetype>(inputLen, kInBufferSize);
    }
    // The handler of the last OnComm has returned: the next event may be raised. Safe from
    // any thread, and wakes this one only if there is something to raise.
    void eventHandled();
    // The control has taken the bytes an event of the current session brought. Until then
    // they count as received and unread. Safe from any thread.
    void taken(qsizetype bytes) { m_inTransit -= bytes; }
    // Counts every open and close: an event tells which port session its bytes came from.
    quint32 session() const { return m_session; }

    // Bytes waiting: frames held here plus what the system has not put on the line yet.
    qsizetype OutBufferCount() const;
    qsizetype InBufferCount() const;

    PortState state() const { return m_state; }
    // The control's own clock, which the signals below give their times in.
    std::chrono::nanoseconds clock() const { return now(); }
    QString deviceName() const { return m_deviceName; }
    QString errorString() const { return m_error; }

    // The send loop: every `ms` on a grid, the frames go out together if the transmit buffer
    // has room for all of them, and the tick is skipped whole if not. 0 stops it.
    void setLoopFrames(const QList<QByteArray> &frames) { m_loopFrames = frames; }
    void setLoopInterval(int ms) { m_loopTimer.setInterval(ms); }
    bool loopTicking() const { return m_loopTimer.isTicking(); }

signals:
    // Not raised again until eventHandled(). A receive event brings the block the handler
    // reads, taken from the port as it is raised: the handler's thread never has to ask.
    void OnComm(qint16 event, const SerialLine::Received &received, quint32 session);
    // A frame handed to the system at `handedAt`; by the line clock its last byte leaves
    // the wire at `lastByteOut`.
    void frameOnLine(const QByteArray &frame, std::chrono::nanoseconds handedAt,
                     std::chrono::nanoseconds lastByteOut);
    // The open port failed under us (device pulled, far end gone); it is closed now.
    // The reason is in the user's language.
    void portLost(const QString &device, const QString &reason);
    void loopTicked(SerialLine::LoopTick tick, std::chrono::nanoseconds at);

private:
    void onDeviceFailed(PortDevice::Failure failure, const QString &reason);
    void scheduleEvent();
    void raiseEvent();
    void onLoopTimer();
    void pumpTx();
    bool fail(const QString &reason);
    void finishLine();
    void shutDown(PortState next);
    std::chrono::nanoseconds now() const;
    // Bytes handed to the system that the line has not carried yet: the larger of the line
    // clock's estimate and what the system says it holds (a USB adapter may hold more).
    qsizetype aheadOfWire(std::chrono::nanoseconds t) const;

    // The next frame goes once no more than this is ahead of the wire: the line stays busy,
    // and a stop never waits for more than one frame and this.
    static constexpr qsizetype kHandOverAt = 16;
    // The longest a close waits for the line, whatever the system claims to hold.
    static constexpr std::chrono::milliseconds kMaxDrain{300};

    std::unique_ptr<PortDevice> m_device;
    LineSettings m_settings;
    qint16 m_inputLen = 0;
    qint16 m_commPort = 1;
    bool m_dtr = false;
    bool m_rts = false;
    PortState m_state = PortState::Closed;
    QString m_error;
    QString m_deviceName;

    QTimer m_eventTimer;
    // Written by the handler's thread as well as this one.
    enum class Handler { Idle, Busy, BusyMore };
    std::atomic<Handler> m_handler{Handler::Idle};
    quint32 m_session = 0;
    // Bytes on their way to the control with an event: still in the receive buffer for
    // whoever counts it, or a count would drop to nothing while they cross threads.
    std::atomic<qsizetype> m_inTransit{0};
    // When the bytes not yet read began to arrive: the device said so before the event
    // that reads them came round.
    std::optional<std::chrono::nanoseconds> m_unreadSince;
    bool m_txFullPending = false;

    QList<QByteArray> m_held;
    qsizetype m_heldBytes = 0;
    TxLine m_line;
    QElapsedTimer m_clock;
    QTimer m_txTimer;

    LoopTimer m_loopTimer{this};
    QList<QByteArray> m_loopFrames;
};
