#pragma once

#include "serialline.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <type_traits>

class QThread;

// The program's serial control, as its owner's thread sees it. The port, its writes and the
// send loop's ticks run in a SerialLine on a thread of their own, so that painting the
// window or handling a burst of replies never delays a frame; every call here waits for
// that thread's answer (microseconds: it never blocks), and the line's events come back to
// this object's thread in the order they happened. A receive event brings its bytes along,
// so that a reply costs each thread one wake-up: Input() in its handler asks nothing of the
// line. Built with a device of its own (tests), the control runs on the caller's thread
// instead, with the same behaviour.
class MSComm : public QObject
{
    Q_OBJECT

public:
    using Event = SerialLine::Event;
    static constexpr Event comEvReceive = SerialLine::comEvReceive;
    static constexpr Event comEventTxFull = SerialLine::comEventTxFull;
    using PortState = SerialLine::PortState;
    using OutputResult = SerialLine::OutputResult;
    using LoopTick = SerialLine::LoopTick;

    static constexpr qsizetype kInBufferSize = SerialLine::kInBufferSize;
    static constexpr qsizetype kOutBufferSize = SerialLine::kOutBufferSize;

    // The system's ports, on a thread of the control's own.
    explicit MSComm(QObject *parent = nullptr);
    // Another device (tests), on the caller's thread.
    MSComm(std::unique_ptr<PortDevice> device, QObject *parent = nullptr);
    ~MSComm() override;

    // Each setter returns false on failure and leaves the reason in errorString().
    QString Settings() const;
    bool setSettings(const QString &settings);
    qint16 InputLen() const;
    bool setInputLen(qint16 length);
    qint16 CommPort() const;
    bool setCommPort(qint16 port);
    bool PortOpen() const;
    bool setPortOpen(bool open);
    bool DTREnable() const;
    bool setDTREnable(bool enable);
    bool RTSEnable() const;
    bool setRTSEnable(bool enable);

    OutputResult Output(const QByteArray &bytes);
    QByteArray Input();
    qint16 CommEvent() const { return m_commEvent; }
    qsizetype OutBufferCount() const;
    qsizetype InBufferCount() const;

    PortState state() const;
    std::chrono::nanoseconds clock() const { return m_line->clock(); }
    QString deviceName() const;
    QString errorString() const;

    // The send loop, ticking on the line's thread; see SerialLine.
    void setLoopFrames(const QList<QByteArray> &frames);
    void setLoopInterval(int ms);
    bool loopTicking() const;

signals:
    void OnComm();
    void frameOnLine(const QByteArray &frame, std::chrono::nanoseconds handedAt,
                     std::chrono::nanoseconds lastByteOut);
    void bytesArrived(const QByteArray &bytes, std::chrono::nanoseconds at);
    void portLost(const QString &device, const QString &reason);
    // A tick of the loop, after its frames went out (or why they did not).
    void loopTicked(MSComm::LoopTick tick, std::chrono::nanoseconds at);

private:
    void wire();
    void onLineEvent(qint16 event, const SerialLine::Received &received, quint32 session);
    // After a handler: the bytes it left are raised again before the line's next event.
    void handlerReturned();
    void raiseHeld();

    // Runs `work` on the line's thread and gives back its result.
    template<typename Work> auto onLine(Work &&work) const
    {
        using Result = std::invoke_result_t<Work>;
        if (!m_thread)
            return work();
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(m_line, std::forward<Work>(work),
                                      Qt::BlockingQueuedConnection);
        } else {
            Result result{};
            QMetaObject::invokeMethod(m_line, std::forward<Work>(work),
                                      Qt::BlockingQueuedConnection, &result);
            return result;
        }
    }

    std::unique_ptr<QThread> m_thread;
    SerialLine *m_line = nullptr;
    qint16 m_commEvent = 0;
    qint16 m_inputLen = 0;
    // What the line handed over with its events and no handler has read yet.
    SerialLine::Received m_held;
    quint32 m_session = 0;
};
