#pragma once

#include "options.h"
#include "record/figures.h"
#include "record/sessionrecord.h"
#include "serial/looptimer.h"
#include "serial/mscomm.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

// One unattended test of a keyboard: opens the port as the window does, clears the display,
// then sends the cursor command and the text frame on the window's loop (whole ticks, the
// ticks that do not fit skipped), every n-th text frame with the wrong length, and judges
// every reply in the order the frames went.
class KeyboardTest : public QObject
{
    Q_OBJECT

public:
    enum class Verdict { Running, Pass, Fail, PortFailed };
    // One thing the test checks, for the reports; `failure` empty when it held.
    struct Check
    {
        QString name;
        QString failure;
    };

    explicit KeyboardTest(TestOptions options, QObject *parent = nullptr);

    // False, with the verdict PortFailed and the window's reason, when the port does not
    // open; a record that cannot be written is a failure of its own.
    bool start();
    // Ctrl+C: no frame after the one on the line; the figures so far; a failure.
    void interrupt();

    Verdict verdict() const { return m_verdict; }
    QString reason() const { return m_reason; }
    const SessionFigures &figures() const { return m_figures; }
    qint64 textFrames() const { return m_textFrames; }
    qint64 wrongFrames() const { return m_wrongFrames; }
    // Seconds the sending still has, or frames still to send, whichever the run counts.
    QString remaining() const;
    QList<Check> checks() const;

signals:
    void finished();

private:
    void tick();
    void send(const QByteArray &frame, bool shouldAccept);
    void onBytes(const QByteArray &bytes, std::chrono::nanoseconds at);
    void stopSending();
    void drain();
    void finish();
    bool sendingDone() const;

    TestOptions m_options;
    MSComm m_comm{this};
    LoopTimer m_loop{this};
    QTimer m_drain;
    SessionFigures m_figures;
    SessionRecord m_record;
    QElapsedTimer m_clock;
    QElapsedTimer m_draining;

    std::deque<bool> m_expected; // per frame sent and not answered: should it be accepted
    qint64 m_textFrames = 0;
    qint64 m_wrongFrames = 0;
    qint64 m_goodRefused = 0;
    qint64 m_wrongAccepted = 0;
    qint64 m_late = 0;
    std::chrono::microseconds m_slowest{0}; // of the replies to good frames
    bool m_sending = false;
    bool m_interrupted = false;
    bool m_done = false;
    bool m_awaitingWrong = false; // a frame of the wrong length waits for its refusal
    Verdict m_verdict = Verdict::Running;
    QString m_reason;
};
