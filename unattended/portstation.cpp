#include "portstation.h"

#include "protocol/frames.h"

using namespace std::chrono_literals;

namespace {

// How often a waiting station asks whether a keyboard is there, and how long an answer may
// take: a keyboard just plugged in is seen within half a second.
constexpr auto kProbeEvery = 500ms;
constexpr auto kProbeBound = 400ms;

} // namespace

PortStation::PortStation(TestOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    m_probe.setReplyBound(kProbeBound);
    m_probeTimer.setInterval(kProbeEvery);
    connect(&m_probeTimer, &QTimer::timeout, this, &PortStation::probe);
    connect(&m_probe, &Session::judged, this, &PortStation::onProbeJudged);
    connect(&m_probe, &Session::portLost, this, [this] { keyboardPresent(false); });
}

void PortStation::start(std::chrono::milliseconds after)
{
    QTimer::singleShot(after, this, &PortStation::begin);
}

void PortStation::begin()
{
    if (m_phase == Phase::Done)
        return; // interrupted before it began
    if (!m_options.record.isEmpty() && !m_session.startRecording(m_options.record)) {
        m_recordError = tr("não foi possível gravar a sessão em %1: %2")
                            .arg(m_options.record, m_session.record().errorString());
    }
    // A station that could not tell its results tests one keyboard that never starts, whose
    // report says why.
    if (!m_options.each || !m_refused.isEmpty() || !m_recordError.isEmpty()) {
        startUnit();
        return;
    }
    setPhase(Phase::Waiting);
    m_probeTimer.start();
    probe();
}

void PortStation::startUnit()
{
    m_probeTimer.stop();
    m_probe.close();
    m_test = std::make_unique<KeyboardTest>(m_options, m_session);
    for (const QString &reason : std::as_const(m_refused))
        m_test->reportFailed(reason);
    if (!m_recordError.isEmpty())
        m_test->recordFailed(m_recordError);
    connect(m_test.get(), &KeyboardTest::finished, this, &PortStation::onUnitFinished);
    setPhase(Phase::Testing);
    m_session.setOpeningNumber(m_options.each ? int(m_results.size()) + 1 : 0);
    m_test->start();
}

void PortStation::onUnitFinished()
{
    unit::Result result = m_test->result();
    if (m_options.each)
        result.number = int(m_results.size()) + 1;
    m_results.append(result);
    // A port that went away with its keyboard is waited for, as a keyboard is.
    const bool again
        = m_options.each && !m_interrupted && m_refused.isEmpty() && m_recordError.isEmpty();
    if (again)
        setPhase(Phase::Removing);
    emit unitFinished(result);
    // Not from inside the test's own signal: it goes with the next keyboard.
    QMetaObject::invokeMethod(
        this,
        [this, again] {
            m_test.reset();
            if (!again) {
                end();
                return;
            }
            m_probeTimer.start();
            probe();
        },
        Qt::QueuedConnection);
}

void PortStation::probe()
{
    if (!m_probe.isOpen()) {
        // A port that is not there yet (an adapter to be plugged in), or is no more.
        const portsetup::Outcome opened = m_probe.open(m_options.port);
        m_portProblem = opened.reason;
        if (!opened.opened) {
            if (m_phase == Phase::Removing)
                keyboardPresent(false);
            return;
        }
    }
    if (m_probe.waiting() == 0)
        m_probe.comm().Output(frames::command(frames::Command::Clear));
}

void PortStation::onProbeJudged(const QList<Session::Outcome> &outcomes)
{
    for (const Session::Outcome &o : outcomes) {
        if (o.kind == Session::Outcome::Kind::Answered && o.reply == protocol::ByteClass::Ack)
            keyboardPresent(true);
        else if (o.kind == Session::Outcome::Kind::Unanswered)
            keyboardPresent(false);
    }
}

void PortStation::keyboardPresent(bool present)
{
    if (m_phase == Phase::Waiting && present) {
        // Not from inside the probe's own event: the test opens the port the probe holds.
        m_probeTimer.stop();
        m_phase = Phase::Testing;
        QMetaObject::invokeMethod(this, &PortStation::startUnit, Qt::QueuedConnection);
    } else if (m_phase == Phase::Removing && !present) {
        QMetaObject::invokeMethod(
            this, [this] { m_probe.close(); }, Qt::QueuedConnection);
        setPhase(Phase::Waiting);
    }
}

void PortStation::interrupt()
{
    m_interrupted = true;
    if (m_phase == Phase::Testing && m_test) {
        m_test->interrupt();
        return;
    }
    if (m_phase != Phase::Done)
        end();
}

void PortStation::reportFailed(const QString &message)
{
    if (m_test)
        m_test->reportFailed(message);
}

void PortStation::end()
{
    m_probeTimer.stop();
    m_probe.close();
    m_session.stopRecording();
    setPhase(Phase::Done);
    emit finished();
}

void PortStation::setPhase(Phase phase)
{
    if (phase == m_phase && phase != Phase::Testing)
        return;
    m_phase = phase;
    emit phaseChanged();
}
