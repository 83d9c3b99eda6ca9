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

// The program's serial control, as its owner's thread sees it. The port, its reads and
// writes and the send loop's ticks run in a SerialLine on a thread of their own, so that
// painting the window or handling a burst of replies never delays a frame; every call here
// waits for that thread's answer (microseconds: it never blocks), and everything the line
// did or heard comes back to this object's thread as one stream of events, in the order it
// happened (see SerialLine). Built with a device of its own (tests), the control runs on the
// caller's thread instead, with the same behaviour.
class MSComm : public QObject
{
    Q_OBJECT

public:
    using Event = SerialLine::Event;
    using Events = SerialLine::Events;
    using PortState = SerialLine::PortState;
    using OutputResult = SerialLine::OutputResult;
    using LoopTick = SerialLine::LoopTick;
    using LoopPlan = SerialLine::LoopPlan;
    static constexpr qint16 comEvReceive = SerialLine::comEvReceive;
    static constexpr qint16 comEventTxFull = SerialLine::comEventTxFull;

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
    // Closing hands over, before it returns, every event the line had until then.
    bool setPortOpen(bool open);
    bool DTREnable() const;
    bool setDTREnable(bool enable);
    bool RTSEnable() const;
    bool setRTSEnable(bool enable);

    OutputResult Output(const QByteArray &bytes);
    qsizetype OutBufferCount() const;
    qsizetype InBufferCount() const;
    // Nothing waits to go out, and every event of the line has been handed over and handled.
    bool lineIdle() const;
    // Hands over now what the line has heard and not handed over yet (it does so at most
    // once a screen frame), for a judgement that must not miss what came in time.
    void catchUp();

    PortState state() const;
    std::chrono::nanoseconds clock() const { return m_line->clock(); }
    QString deviceName() const;
    QString errorString() const;

    // The send loop, ticking on the line's thread; see SerialLine.
    void setLoopPlan(const LoopPlan &plan);
    void setLoopInterval(int ms);
    void releaseLoop(qint64 framesSeen);
    bool loopTicking() const;

signals:
    // The next batch comes only after every slot of this one has returned.
    void events(const MSComm::Events &batch);

private:
    void deliver(const Events &batch);

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
    qint16 m_inputLen = 0;
};
