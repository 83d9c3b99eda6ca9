#pragma once

#include "options.h"
#include "session/session.h"
#include "unit.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// One unattended test of one keyboard on a session its owner holds (and records): opens the
// port as the window does, clears the display, then sends the cursor command and the text
// frame on the window's loop (whole ticks, the ticks that do not fit skipped), every n-th
// text frame with the wrong length, and judges every reply by the frame it answers. Every
// wait has an end: a reply is given up after the bound, a keyboard that falls silent ends
// the sending at once, an interruption ends the run within half a second.
class KeyboardTest : public QObject
{
    Q_OBJECT

public:
    using Check = unit::Check;
    using Verdict = unit::Verdict;

    KeyboardTest(TestOptions options, Session &session, QObject *parent = nullptr);

    // Starts the run; finished() follows, whether it started or not.
    void start();
    // Ctrl+C: no frame after the one on the line, the replies on their way, the figures so
    // far. Asked again, the run ends at once.
    void interrupt();
    // Something the run needs could not be written (a report, the record): a failure of the
    // run, which every report tells. Before the start, the run tests nothing.
    void reportFailed(const QString &message);
    void recordFailed(const QString &message);

    Verdict verdict() const;
    // The first failure, in the user's language; empty for a pass.
    QString reason() const;
    QList<Check> checks() const;
    // Everything a report tells of the run, at this moment.
    unit::Result result() const;
    const TestOptions &options() const { return m_options; }
    const Figures &figures() const { return m_session.figures(); }
    qint64 textFrames() const { return m_textFrames; }
    qint64 wrongFrames() const { return m_wrongFrames; }
    // Seconds the sending still has, if the run counts seconds.
    std::optional<qint64> secondsLeft() const;
    bool isFinished() const { return m_finished; }

signals:
    void finished();

private:
    enum class Port { NotTried, Open, Failed };

    void begin();
    void onTick(const Session::Event &tick);
    void onJudged(const QList<Session::Outcome> &outcomes);
    void onPortLost(const QString &device, const QString &reason);
    void stopSending();
    void drain();
    void finish();

    TestOptions m_options;
    Session &m_session;
    QTimer m_sendFor;
    QTimer m_drain;
    QElapsedTimer m_clock;
    QElapsedTimer m_draining;
    qint64 m_drainLimitMs = 0;
    QDateTime m_started;
    QString m_device;

    Port m_port = Port::NotTried;
    QString m_portError;
    QString m_recordError;
    QStringList m_reportErrors;
    qint64 m_textFrames = 0;
    qint64 m_wrongFrames = 0;
    bool m_sending = false;
    bool m_interrupted = false;
    bool m_finishing = false;
    bool m_finished = false;
};
