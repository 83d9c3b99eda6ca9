#include "keyboardtest.h"

#include "protocol/frames.h"
#include "protocol/protocol.h"
#include "text/win1252.h"

#include <QCoreApplication>

using namespace std::chrono_literals;

namespace {

// After Ctrl+C, the replies on their way get this long: with the frame on the line and the
// port's close, the run ends within half a second.
constexpr auto kInterruptWait = 250ms;
// Beyond every reply's own bound, what the end of the run waits for at most: a line that
// never drains or a clock that stalls must not hold a bench.
constexpr auto kDrainSlack = 500ms;

using Status = KeyboardTest::Check::Status;

} // namespace

KeyboardTest::KeyboardTest(TestOptions options, Session &session, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_session(session)
{
    m_session.setReplyBound(std::chrono::milliseconds(m_options.maxLatencyMs));
    m_sendFor.setSingleShot(true);
    m_drain.setInterval(10ms);
    connect(&m_sendFor, &QTimer::timeout, this, &KeyboardTest::stopSending);
    connect(&m_drain, &QTimer::timeout, this, &KeyboardTest::drain);
    connect(&m_session, &Session::ticked, this, &KeyboardTest::onTick);
    connect(&m_session, &Session::judged, this, &KeyboardTest::onJudged);
    connect(&m_session, &Session::portLost, this, &KeyboardTest::onPortLost);
    connect(&m_session, &Session::recordFailed, this,
            [this](const QString &message) { recordFailed(message.section(u'\n', 0, 0)); });
}

void KeyboardTest::recordFailed(const QString &message)
{
    if (m_recordError.isEmpty())
        m_recordError = message;
}

void KeyboardTest::start()
{
    // From the event loop, so that whoever started the run hears its end however soon.
    QMetaObject::invokeMethod(this, &KeyboardTest::begin, Qt::QueuedConnection);
}

void KeyboardTest::begin()
{
    m_clock.start();
    m_started = QDateTime::currentDateTime();
    // A run that could not tell its result tests nothing.
    if (!m_reportErrors.isEmpty() || !m_recordError.isEmpty()) {
        finish();
        return;
    }
    const portsetup::Outcome outcome = m_session.open(m_options.port);
    if (!outcome.opened) {
        m_port = Port::Failed;
        m_portError = tr("Não Foi possivel iniciar a Porta Serial Numero %1. Motivo: %2")
                          .arg(m_options.port, outcome.reason);
        finish();
        return;
    }
    m_port = Port::Open;
    m_device = m_session.comm().deviceName();
    m_sending = true;
    m_session.comm().Output(frames::command(frames::Command::Clear));
    const QByteArray text = win1252::encode(m_options.text);
    MSComm::LoopPlan plan;
    plan.frames = {frames::command(frames::Command::Line1), frames::text(text, false)};
    // A frame one byte short is refused only once the line stays quiet for the keyboard's
    // gap: until it is answered no tick sends, as the next frame would complete it.
    plan.variant = {frames::command(frames::Command::Line1), frames::text(text, true)};
    plan.variantEvery = m_options.wrongEvery;
    plan.holdAfterVariant = m_options.wrongEvery > 0;
    plan.ticks = m_options.frames;
    m_session.setLoopPlan(plan);
    m_session.setLoopInterval(m_options.rateMs);
    if (m_options.seconds > 0)
        m_sendFor.start(std::chrono::seconds(m_options.seconds));
}

void KeyboardTest::onTick(const Session::Event &tick)
{
    if (tick.tick != MSComm::LoopTick::Sent || !m_sending)
        return;
    ++m_textFrames;
    m_wrongFrames += tick.variant ? 1 : 0;
    if (tick.lastTick)
        stopSending();
}

void KeyboardTest::onJudged(const QList<Session::Outcome> &outcomes)
{
    // A keyboard that let a frame go unanswered has fallen silent, or is about to: the rest
    // of the run would only wait for it.
    for (const Session::Outcome &o : outcomes) {
        if (o.kind == Session::Outcome::Kind::Unanswered) {
            stopSending();
            return;
        }
    }
}

void KeyboardTest::onPortLost(const QString &device, const QString &reason)
{
    m_port = Port::Failed;
    m_portError = tr("a porta serial %1 (%2) foi perdida: %3").arg(m_options.port, device, reason);
    // Not from inside the session's own event: it is still handing the line's events over.
    QMetaObject::invokeMethod(this, &KeyboardTest::finish, Qt::QueuedConnection);
}

void KeyboardTest::interrupt()
{
    if (m_finished)
        return;
    if (m_interrupted || m_port != Port::Open) {
        m_interrupted = true;
        finish();
        return;
    }
    m_interrupted = true;
    if (m_sending) {
        stopSending();
        return;
    }
    m_drainLimitMs = kInterruptWait.count();
    m_draining.restart();
    drain();
}

void KeyboardTest::stopSending()
{
    if (!m_sending)
        return;
    m_sending = false;
    m_sendFor.stop();
    m_session.setLoopInterval(0);
    // What still waits to go out, the longest wait for its reply, and a margin.
    const auto lineTime = LineSettings().byteTime() * m_session.comm().OutBufferCount();
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(lineTime)
                       + std::chrono::milliseconds(m_options.maxLatencyMs) + protocol::kFrameGap
                       + kDrainSlack;
    m_drainLimitMs = m_interrupted ? kInterruptWait.count() : limit.count();
    m_draining.start();
    m_drain.start();
    drain();
}

void KeyboardTest::drain()
{
    if (m_session.settled() || m_draining.elapsed() >= m_drainLimitMs)
        QMetaObject::invokeMethod(this, &KeyboardTest::finish, Qt::QueuedConnection);
}

void KeyboardTest::finish()
{
    if (m_finishing)
        return;
    m_finishing = true;
    m_sending = false;
    m_sendFor.stop();
    m_drain.stop();
    // Frames still awaited now were cut off by the end of the run, not left unanswered.
    m_session.close();
    m_finished = true;
    emit finished();
}

void KeyboardTest::reportFailed(const QString &message)
{
    m_reportErrors << message;
}

std::optional<qint64> KeyboardTest::secondsLeft() const
{
    if (m_options.seconds <= 0)
        return std::nullopt;
    const qint64 left = std::max<qint64>(qint64(m_options.seconds) * 1000 - m_clock.elapsed(), 0);
    return (left + 999) / 1000;
}

QList<KeyboardTest::Check> KeyboardTest::checks() const
{
    const Figures &f = figures();
    const bool ran = m_port != Port::NotTried && !(m_port == Port::Failed && f.framesSent() == 0);
    const auto check = [&](const QString &name, const QStringList &failures) {
        if (!ran)
            return Check{name, Status::Skipped, tr("a porta não foi aberta")};
        const QString joined = failures.join(QStringLiteral("; "));
        return Check{name, joined.isEmpty() ? Status::Passed : Status::Failed, joined};
    };
    const auto count = [](qint64 n, const QString &text) {
        return n > 0 ? QStringList{text.arg(n)} : QStringList{};
    };

    QList<Check> out;
    out << Check{tr("porta aberta e mantida"),
                 m_port == Port::Failed ? Status::Error
                 : m_port == Port::Open ? Status::Passed
                                        : Status::Skipped,
                 m_port == Port::NotTried ? tr("a porta não chegou a ser aberta") : m_portError};
    QStringList good = count(f.goodRefused(), tr("%1 quadros bons recusados (15)"));
    if (f.goodUnanswered() > 0)
        good << tr("%1 quadros sem resposta em até %2 ms")
                    .arg(f.goodUnanswered())
                    .arg(m_options.maxLatencyMs);
    Check goodCheck
        = check(tr("quadros bons aceitos (06) em até %1 ms").arg(m_options.maxLatencyMs), good);
    // Frames cut off by the end of the run were never judged: a check with nothing to judge
    // did not run.
    if (goodCheck.status == Status::Passed && f.accepted() - f.wrongAccepted() == 0)
        goodCheck = {goodCheck.name, Status::Skipped, tr("nenhum quadro bom chegou a ser julgado")};
    out << goodCheck;
    if (m_options.wrongEvery > 0) {
        Check wrong = check(
            tr("quadros errados recusados (15)"),
            count(f.wrongAccepted(), tr("%1 quadros com o tamanho errado aceitos (06)"))
                + count(f.wrongUnanswered(), tr("%1 quadros com o tamanho errado sem resposta")));
        if (wrong.status == Status::Passed && m_wrongFrames == 0)
            wrong = {wrong.name, Status::Skipped, tr("nenhum quadro errado chegou a ser enviado")};
        out << wrong;
    }
    out << check(tr("nenhum outro byte"),
                 count(f.otherBytes(), tr("%1 bytes que não são 06 nem 15")));
    out << check(tr("nenhuma resposta sem quadro"),
                 count(f.unexpected(),
                       tr("%1 respostas sem quadro pendente (em dobro, atrasadas ou de antes "
                          "da abertura)")));
    if (!m_options.record.isEmpty())
        out << Check{tr("gravação da sessão"),
                     m_recordError.isEmpty() ? Status::Passed : Status::Failed, m_recordError};
    if (!m_options.json.isEmpty() || !m_options.junit.isEmpty())
        out << Check{tr("relatórios gravados"),
                     m_reportErrors.isEmpty() ? Status::Passed : Status::Failed,
                     m_reportErrors.join(QStringLiteral("; "))};
    out << Check{tr("até o fim"), m_interrupted ? Status::Failed : Status::Passed,
                 m_interrupted ? tr("interrompido antes do fim") : QString()};
    return out;
}

KeyboardTest::Verdict KeyboardTest::verdict() const
{
    return m_finished ? unit::verdictOf(checks()) : Verdict::Running;
}

QString KeyboardTest::reason() const
{
    return unit::reasonOf(checks());
}

unit::Result KeyboardTest::result() const
{
    unit::Result r;
    r.port = m_options.port;
    r.device = m_device;
    r.started = m_started;
    r.seconds = double(m_clock.isValid() ? m_clock.elapsed() : 0) / 1000.0;
    r.checks = checks();
    r.verdict = m_finished ? unit::verdictOf(r.checks) : Verdict::Running;
    r.reason = unit::reasonOf(r.checks);
    r.figures = figures();
    r.textFrames = m_textFrames;
    r.wrongFrames = m_wrongFrames;
    return r;
}
