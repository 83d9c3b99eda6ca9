#include "keyboardtest.h"

#include "protocol/frames.h"
#include "protocol/protocol.h"
#include "protocol/sendloop.h"
#include "serial/portsetup.h"
#include "text/win1252.h"

#include <QCoreApplication>

using namespace std::chrono_literals;

namespace {

// After the last frame, replies still on their way get this long, and the slowest allowed.
constexpr auto kReplyGrace = 1000ms;

} // namespace

KeyboardTest::KeyboardTest(TestOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    m_drain.setInterval(10ms);
    connect(&m_drain, &QTimer::timeout, this, &KeyboardTest::drain);
    connect(&m_loop, &LoopTimer::Timer, this, &KeyboardTest::tick);
    connect(&m_comm, &MSComm::frameOnLine, this,
            [this](const QByteArray &frame, auto handedAt, auto lastByteOut) {
                m_figures.frameSent(lastByteOut);
                m_record.sent(handedAt, frame);
            });
    connect(&m_comm, &MSComm::bytesArrived, this, &KeyboardTest::onBytes);
    // Read as the window reads: whatever waits, at every event.
    connect(&m_comm, &MSComm::OnComm, this, [this] {
        if (m_comm.CommEvent() == MSComm::comEvReceive)
            m_comm.Input();
    });
    connect(&m_comm, &MSComm::portLost, this, [this](const QString &device, const QString &why) {
        m_record.lost(m_comm.clock(), m_comm.CommPort(), why);
        m_verdict = Verdict::PortFailed;
        m_reason = tr("a porta serial %1 (%2) foi perdida: %3")
                       .arg(QString::number(m_comm.CommPort()), device, why);
        finish();
    });
    connect(&m_record, &SessionRecord::failed, this, [this](const QString &message) {
        if (m_reason.isEmpty())
            m_reason = message.section(u'\n', 0, 0);
        m_verdict = Verdict::Fail;
    });
}

bool KeyboardTest::start()
{
    if (!m_options.record.isEmpty() && !m_record.start(m_options.record, m_comm.clock())) {
        m_verdict = Verdict::Fail;
        m_reason = tr("não foi possível gravar a sessão em %1: %2")
                       .arg(m_options.record, m_record.errorString());
        return false;
    }
    const portsetup::Outcome outcome = portsetup::open(m_comm, m_options.port);
    if (!outcome.opened) {
        m_verdict = Verdict::PortFailed;
        m_reason = tr("Não Foi possivel iniciar a Porta Serial Numero %1. Motivo: %2")
                       .arg(m_options.port, outcome.reason);
        m_record.stop(m_comm.clock(), m_figures);
        return false;
    }
    m_record.opened(m_comm.clock(), m_comm.CommPort(), m_comm.deviceName());
    m_clock.start();
    m_sending = true;
    send(frames::command(frames::Command::Clear), true);
    m_loop.setInterval(m_options.rateMs);
    m_loop.setEnabled(true);
    return true;
}

void KeyboardTest::send(const QByteArray &frame, bool shouldAccept)
{
    if (m_comm.Output(frame) == MSComm::OutputResult::Queued)
        m_expected.push_back(shouldAccept);
}

bool KeyboardTest::sendingDone() const
{
    return m_options.frames > 0 ? m_textFrames >= m_options.frames
                                : m_clock.elapsed() >= qint64(m_options.seconds) * 1000;
}

void KeyboardTest::tick()
{
    if (!m_sending)
        return;
    if (sendingDone()) {
        stopSending();
        return;
    }
    // A frame one byte short is refused only once the line stays quiet for the keyboard's
    // gap: until its answer, no tick sends (the next frame would complete it).
    if (m_awaitingWrong && !m_expected.empty())
        return;
    m_awaitingWrong = false;
    const QByteArray text = win1252::encode(m_options.text);
    if (!sendloop::tickFits(text.size(), MSComm::kOutBufferSize - m_comm.OutBufferCount())) {
        m_figures.tickSkipped();
        m_record.tickSkipped(m_comm.clock());
        return;
    }
    const bool wrong = m_options.wrongEvery > 0 && (m_textFrames + 1) % m_options.wrongEvery == 0;
    send(frames::command(frames::Command::Line1), true);
    send(frames::text(text, wrong), !wrong);
    ++m_textFrames;
    m_wrongFrames += wrong ? 1 : 0;
    m_awaitingWrong = wrong;
    if (m_options.frames > 0 && sendingDone())
        stopSending();
}

void KeyboardTest::onBytes(const QByteArray &bytes, std::chrono::nanoseconds at)
{
    const QList<std::chrono::microseconds> latencies = m_figures.received(bytes, at);
    m_record.received(at, bytes, latencies);
    qsizetype replies = 0;
    for (const char c : bytes) {
        const auto b = uchar(c);
        if ((b != protocol::kAck && b != protocol::kNack) || m_expected.empty())
            continue;
        const bool accepted = b == protocol::kAck;
        const bool shouldAccept = m_expected.front();
        m_expected.pop_front();
        m_goodRefused += shouldAccept && !accepted ? 1 : 0;
        m_wrongAccepted += !shouldAccept && accepted ? 1 : 0;
        // A refusal of a frame one byte short comes after the keyboard's gap by design.
        if (shouldAccept && replies < latencies.size()) {
            m_slowest = std::max(m_slowest, latencies[replies]);
            if (m_options.maxLatencyMs >= 0
                && latencies[replies] > std::chrono::milliseconds(m_options.maxLatencyMs))
                ++m_late;
        }
        ++replies;
    }
}

void KeyboardTest::interrupt()
{
    m_interrupted = true;
    stopSending();
}

void KeyboardTest::stopSending()
{
    if (!m_sending)
        return;
    m_sending = false;
    m_loop.setEnabled(false);
    m_draining.start();
    m_drain.start();
}

void KeyboardTest::drain()
{
    // Done when every frame is on the far side and answered, or when the answers are
    // overdue: the line's time for what waits, then the grace.
    const auto lineTime = std::chrono::duration_cast<std::chrono::milliseconds>(
        LineSettings().byteTime() * m_comm.OutBufferCount());
    const bool lineEmpty = m_comm.OutBufferCount() == 0;
    if ((lineEmpty && m_expected.empty())
        || m_draining.elapsed()
               > (lineTime + kReplyGrace).count() + std::max(m_options.maxLatencyMs, 0) + 500) {
        finish();
    }
}

void KeyboardTest::finish()
{
    if (m_done)
        return;
    m_done = true;
    m_sending = false;
    m_drain.stop();
    m_loop.setEnabled(false);
    if (m_verdict != Verdict::PortFailed) {
        if (m_comm.PortOpen()) {
            m_comm.setPortOpen(false);
            m_record.closed(m_comm.clock(), m_comm.CommPort());
        }
        QString failure = m_reason; // the record's, if it failed
        for (const Check &c : checks()) {
            if (failure.isEmpty())
                failure = c.failure;
        }
        m_verdict = failure.isEmpty() ? Verdict::Pass : Verdict::Fail;
        m_reason = failure;
    }
    m_record.stop(m_comm.clock(), m_figures);
    emit finished();
}

QString KeyboardTest::remaining() const
{
    if (m_options.frames > 0)
        return tr("faltam %1 quadros").arg(std::max<qint64>(m_options.frames - m_textFrames, 0));
    const qint64 left = std::max<qint64>(qint64(m_options.seconds) * 1000 - m_clock.elapsed(), 0);
    return tr("faltam %1 s").arg((left + 999) / 1000);
}

QList<KeyboardTest::Check> KeyboardTest::checks() const
{
    const qint64 goodUnanswered = std::count(m_expected.begin(), m_expected.end(), true);
    const qint64 wrongUnanswered = qint64(m_expected.size()) - goodUnanswered;
    QList<Check> out;
    const bool portOk = m_verdict != Verdict::PortFailed;
    out << Check{tr("porta aberta e mantida"), portOk ? QString() : m_reason};
    out << Check{tr("quadros bons aceitos (06)"),
                 m_goodRefused > 0    ? tr("%1 quadros bons recusados (15)").arg(m_goodRefused)
                 : goodUnanswered > 0 ? tr("%1 quadros bons sem resposta").arg(goodUnanswered)
                                      : QString()};
    if (m_options.wrongEvery > 0) {
        out << Check{tr("quadros errados recusados (15)"),
                     m_wrongAccepted > 0
                         ? tr("%1 quadros com o tamanho errado aceitos (06)").arg(m_wrongAccepted)
                     : wrongUnanswered > 0
                         ? tr("%1 quadros com o tamanho errado sem resposta").arg(wrongUnanswered)
                         : QString()};
    }
    out << Check{tr("nenhum outro byte"),
                 m_figures.otherBytes() > 0
                     ? tr("%1 bytes que não são 06 nem 15").arg(m_figures.otherBytes())
                     : QString()};
    if (m_options.maxLatencyMs >= 0) {
        out << Check{tr("respostas em até %1 ms").arg(m_options.maxLatencyMs),
                     m_late > 0 ? tr("%1 respostas depois de %2 ms (a maior: %3 ms)")
                                      .arg(m_late)
                                      .arg(m_options.maxLatencyMs)
                                      .arg(millisecondsText(m_slowest))
                                : QString()};
    }
    if (m_interrupted)
        out << Check{tr("até o fim"), tr("interrompido antes do fim")};
    return out;
}
