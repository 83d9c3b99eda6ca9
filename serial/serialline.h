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
// its own): owns one port, reads what arrives as it arrives, keeps a bounded transmit buffer
// of whole frames and runs the send loop. A frame reaches the system in one write, so its
// bytes follow each other at the line's own speed; the line only decides when the next
// whole frame goes, keeping the line busy without letting more than the transmit buffer
// wait. The loop ticks here too, so that a tick's frames go out on time whatever the
// control's own thread is doing.
// Everything the line does or hears (a block received, a frame handed to the system, a tick,
// a refused frame, the port lost) is one event in one stream, handed over in the order it
// happened and in batches: while the owner handles one batch, the next gathers.
class SerialLine : public QObject
{
    Q_OBJECT

public:
    using nanoseconds = std::chrono::nanoseconds;

    enum CommEvent : qint16 {
        comEvReceive = 2,
        comEventTxFull = 1010,
    };
    enum class PortState { Closed, Open, Lost };
    enum class OutputResult { Queued, PortClosed, BufferFull };
    enum class LoopTick {
        Sent,       // its frames went to the transmit buffer
        Skipped,    // they did not fit: the line cannot keep up with the rate
        Held,       // the loop waits to be released
        PortClosed, // nothing to send on
    };
    Q_ENUM(LoopTick)

    struct Event
    {
        enum class Kind { Received, TransmitFull, FrameOnLine, Tick, Lost };
        Kind kind = Kind::Received;
        // Received: the block read; FrameOnLine: the frame.
        QByteArray bytes;
        // Received: when its first byte was there to read; FrameOnLine: when it was handed
        // to the system; Tick: when it ticked; Lost: when.
        nanoseconds at{0};
        // FrameOnLine: when its last byte leaves the wire, by the line clock.
        nanoseconds lastByteOut{0};
        LoopTick tick = LoopTick::Sent;
        qint64 tickNumber = 0;  // Tick Sent: ticks sent since the loop started, this one too
        bool variant = false;   // Tick Sent: it sent the plan's variant
        bool lastTick = false;  // Tick Sent: the loop has ended with it
        QString device, reason; // Lost; the reason in the user's language

        // The code the classic control's OnComm gave the event; 0 for those it had none for.
        qint16 commEvent() const
        {
            return kind == Kind::Received       ? comEvReceive
                   : kind == Kind::TransmitFull ? comEventTxFull
                                                : 0;
        }
    };
    using Events = QList<Event>;

    // What the loop's ticks send: `frames`, or on every `variantEvery`-th tick sent
    // `variant`; after a variant tick, with `holdAfterVariant`, no tick until released. The
    // loop ends itself after `ticks` ticks sent (0: never).
    struct LoopPlan
    {
        QList<QByteArray> frames;
        QList<QByteArray> variant;
        qint64 variantEvery = 0;
        bool holdAfterVariant = false;
        qint64 ticks = 0;
    };

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
    // A received block holds at most this many bytes (the whole receive buffer if 0).
    static qsizetype inputLimit(qint16 inputLen)
    {
        return inputLen == 0 ? kInBufferSize : std::min<qsizetype>(inputLen, kInBufferSize);
    }

    // The events not yet handed over, taken now (the port being closed: nothing more comes).
    Events takeEvents();
    // The owner has handled the last batch, whose blocks held `bytes`: the next may be handed
    // over. Safe from any thread; wakes this one only if something waits.
    void eventsHandled(qsizetype bytes);

    // Nothing waits to go out, and the owner has been handed everything that happened.
    bool idle() const;

    // Bytes waiting: frames held here plus what the system has not put on the line yet.
    qsizetype OutBufferCount() const;
    // Bytes received and not yet handled by the owner.
    qsizetype InBufferCount() const;

    PortState state() const { return m_state; }
    // The control's own clock, which the events give their times in.
    nanoseconds clock() const { return now(); }
    QString deviceName() const { return m_deviceName; }
    QString errorString() const { return m_error; }

    // The send loop: every `ms` on a grid, a tick's frames go out together if the transmit
    // buffer has room for all of them, and the tick is skipped whole if not. A new interval
    // starts the grid and the count of ticks again; 0 stops the loop. A new plan takes effect
    // at the next tick.
    void setLoopPlan(const LoopPlan &plan) { m_loopPlan = plan; }
    void setLoopInterval(int ms);
    // A held loop ticks again, provided the owner has seen every frame handed to the system
    // (`framesSeen` of them, counted from the open) and none waits here to go.
    void releaseLoop(qint64 framesSeen);
    bool loopTicking() const { return m_loopTimer.isActive(); }

signals:
    void events(const SerialLine::Events &batch);

private:
    void readArrived();
    void queue(Event event);
    void flush();
    void resume();
    void onLoopTimer();
    void tick(LoopTick result, nanoseconds at);
    void pumpTx();
    void onDeviceFailed(PortDevice::Failure failure, const QString &reason);
    bool fail(const QString &reason);
    void finishLine();
    void shutDown(PortState next);
    nanoseconds now() const;
    // Bytes handed to the system that the line has not carried yet: the larger of the line
    // clock's estimate and what the system says it holds (a USB adapter may hold more).
    qsizetype aheadOfWire(nanoseconds t) const;

    // The next frame goes once no more than this is ahead of the wire: the line stays busy,
    // and a stop never waits for more than one frame and this.
    static constexpr qsizetype kHandOverAt = 16;
    // The longest a close waits for the line, whatever the system claims to hold.
    static constexpr std::chrono::milliseconds kMaxDrain{300};
    // What happens on the line is handed over at once after a quiet spell, then at most once
    // a screen frame: a keyboard streaming a byte at a time would otherwise wake the owner's
    // thread for every byte, to show what no one sees sooner than the next frame. Every
    // event keeps its own time, so no figure depends on when it was handed over.
    static constexpr std::chrono::milliseconds kHandOverEvery{16};

    std::unique_ptr<PortDevice> m_device;
    LineSettings m_settings;
    qint16 m_inputLen = 0;
    qint16 m_commPort = 1;
    bool m_dtr = false;
    bool m_rts = false;
    PortState m_state = PortState::Closed;
    QString m_error;
    QString m_deviceName;

    // The stream, and whether the owner is handling a batch (written by its thread too).
    Events m_events;
    QTimer m_flushTimer;
    enum class Owner { Idle, Busy, BusyMore };
    std::atomic<Owner> m_owner{Owner::Idle};
    // Bytes received: waiting here in the stream, and handed over but not yet handled. Both
    // count as the receive buffer, which reading never fills beyond its size.
    qsizetype m_queuedBytes = 0;
    std::atomic<qsizetype> m_inTransit{0};
    // Reading stopped at a full receive buffer, and when the bytes left unread had come.
    std::atomic<bool> m_readStalled{false};
    std::optional<nanoseconds> m_unreadSince;

    nanoseconds m_handedOver{-kHandOverEvery};

    QList<QByteArray> m_held;
    qsizetype m_heldBytes = 0;
    qint64 m_framesHanded = 0; // since the open
    TxLine m_line;
    QElapsedTimer m_clock;
    QTimer m_txTimer;

    LoopTimer m_loopTimer{this};
    LoopPlan m_loopPlan;
    qint64 m_loopSent = 0;
    bool m_loopHeld = false;
};

Q_DECLARE_METATYPE(SerialLine::Events)
