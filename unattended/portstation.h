#pragma once

#include "keyboardtest.h"
#include "options.h"
#include "session/session.h"
#include "unit.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

// One port of a test station. Tests the keyboard on it once or, one after another, every
// keyboard plugged in: waits until one answers (or the port appears), tests it, says the
// verdict, waits until it is taken away (it stops answering, or the port goes), and starts
// again. The port's record, if any, spans them all, a section each.
class PortStation : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Waiting, Testing, Removing, Done };

    // `options.port` is this station's port; `options.record` its own file.
    explicit PortStation(TestOptions options, QObject *parent = nullptr);

    // Something the run needs could not be written: no keyboard is tested, and the one
    // reported says why.
    void refuse(const QStringList &reasons) { m_refused = reasons; }
    // Starts `after` from now: ports that tick at the same rate start apart, so that their
    // ticks do not all fall due on the same instant and queue for the cores.
    void start(std::chrono::milliseconds after = std::chrono::milliseconds{0});
    // Ctrl+C: the keyboard under test is stopped (a second time, at once) and the station
    // ends.
    void interrupt();
    // A report could not be written after the start: the keyboard under test fails with it.
    void reportFailed(const QString &message);

    Phase phase() const { return m_phase; }
    QString port() const { return m_options.port; }
    const KeyboardTest *current() const { return m_test.get(); }
    const QList<unit::Result> &results() const { return m_results; }
    // Why a waiting station's port does not open, if it does not.
    QString portProblem() const { return m_portProblem; }

signals:
    void phaseChanged();
    void unitFinished(const unit::Result &result);
    void finished();

private:
    void begin();
    void startUnit();
    void onUnitFinished();
    void probe();
    void onProbeJudged(const QList<Session::Outcome> &outcomes);
    void keyboardPresent(bool present);
    void setPhase(Phase phase);
    void end();

    TestOptions m_options;
    QStringList m_refused;
    QString m_recordError;
    QString m_portProblem;
    Session m_session; // the keyboards' tests, and the record of them all
    Session m_probe;   // asks, every half second, whether a keyboard answers
    QTimer m_probeTimer;
    std::unique_ptr<KeyboardTest> m_test;
    QList<unit::Result> m_results;
    Phase m_phase = Phase::Waiting;
    bool m_interrupted = false;
};
