#include "session.h"

#include <QCoreApplication>

#include <algorithm>

Session::Session(QObject *parent)
    : QObject(parent)
    , m_comm(this)
{
    wire();
}

Session::Session(std::unique_ptr<PortDevice> device, QObject *parent)
    : QObject(parent)
    , m_comm(std::move(device), this)
{
    wire();
}

Session::~Session()
{
    // The last opening is closed and recorded before the record ends; a front end being
    // destroyed hears nothing of it.
    disconnect();
    close();
    stopRecording();
}

void Session::wire()
{
    m_comm.setObjectName(QStringLiteral("MSComm1"));
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_comm, &MSComm::events, this, &Session::onEvents);
    connect(&m_deadline, &QTimer::timeout, this, &Session::expire);
    connect(&m_record, &SessionRecord::failed, this, &Session::recordFailed);
}

portsetup::Outcome Session::open(const QString &typedNumber)
{
    const portsetup::Outcome outcome = portsetup::open(m_comm, typedNumber);
    if (!outcome.opened)
        return outcome;
    m_open = true;
    m_framesSeen = 0;
    m_figures = {};
    m_matcher.drop();
    m_record.opened(m_comm.clock(), m_comm.CommPort(), m_comm.deviceName(), m_openingNumber);
    return outcome;
}

void Session::close()
{
    if (!m_open)
        return;
    m_closing = true;
    m_comm.setLoopInterval(0);
    m_comm.setPortOpen(false);
    m_closing = false;
    // A line that was lost while the events were handed over has ended already.
    if (!m_open)
        return;
    ended();
    m_record.closed(m_comm.clock());
}

void Session::ended()
{
    // Frames still awaited when the line ends were cut off, not left unanswered.
    m_open = false;
    m_matcher.drop();
    m_deadline.stop();
}

bool Session::settled() const
{
    return m_matcher.waiting() == 0 && (!m_open || m_comm.lineIdle());
}

void Session::setLoopPlan(const MSComm::LoopPlan &plan)
{
    m_holds = plan.holdAfterVariant;
    m_comm.setLoopPlan(plan);
}

void Session::setLoopInterval(int ms)
{
    m_comm.setLoopInterval(ms);
}

bool Session::startRecording(const QString &path)
{
    if (!m_record.start(path, m_comm.clock()))
        return false;
    if (m_open)
        m_record.opened(m_comm.clock(), m_comm.CommPort(), m_comm.deviceName(), m_openingNumber);
    return true;
}

void Session::stopRecording()
{
    m_record.stop(m_comm.clock());
}

void Session::onEvents(const MSComm::Events &batch)
{
    for (const Event &e : batch) {
        // Bytes that a port which failed to open read on its way back to closed belong to no
        // opening: nobody sent anything, nobody is shown them.
        if (e.kind == Event::Kind::Received && !m_open && !m_closing)
            continue;
        handle(e);
    }
    armDeadline();
    releaseHeldLoop();
}

void Session::handle(const Event &e)
{
    using Kind = Event::Kind;
    switch (e.kind) {
    case Kind::FrameOnLine: {
        ++m_framesSeen;
        m_figures.frameSent();
        m_record.sent(e.at, e.bytes);
        const QList<Outcome> given = m_matcher.sent(e.bytes, e.at, e.lastByteOut);
        if (!given.isEmpty()) {
            for (const Outcome &o : given)
                m_figures.judged(o);
            m_record.expired(e.at, given);
            emit judged(given);
        }
        return;
    }
    case Kind::Received: {
        const QList<Outcome> outcomes = m_matcher.received(e.bytes, e.at);
        for (const Outcome &o : outcomes)
            m_figures.judged(o);
        m_record.received(e.at, e.bytes, outcomes);
        emit judged(outcomes);
        if (!m_closing)
            emit OnComm(e);
        return;
    }
    case Kind::TransmitFull:
        if (!m_closing)
            emit OnComm(e);
        return;
    case Kind::Tick:
        if (e.tick == MSComm::LoopTick::Skipped) {
            m_figures.tickSkipped();
            m_record.tickSkipped(e.at);
        }
        if (!m_closing)
            emit ticked(e);
        return;
    case Kind::Lost:
        if (!m_open)
            return;
        ended();
        m_record.lost(e.at, e.reason);
        emit portLost(e.device, e.reason);
        return;
    }
}

void Session::expire()
{
    // A reply that came in time may still wait on the line's thread: it is heard before any
    // frame is given up.
    m_comm.catchUp();
    const QList<Outcome> overdue = m_matcher.expire(m_comm.clock());
    if (!overdue.isEmpty()) {
        for (const Outcome &o : overdue)
            m_figures.judged(o);
        m_record.expired(m_comm.clock(), overdue);
        emit judged(overdue);
    }
    armDeadline();
    releaseHeldLoop();
}

void Session::armDeadline()
{
    const auto next = m_matcher.nextDeadline();
    if (!next) {
        m_deadline.stop();
        return;
    }
    // Just past the deadline: a reply at the deadline itself is still in time.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - m_comm.clock())
                      + std::chrono::milliseconds{1};
    m_deadline.start(std::max(wait, std::chrono::milliseconds{0}));
}

void Session::releaseHeldLoop()
{
    if (m_holds && m_open && m_matcher.waiting() == 0)
        m_comm.releaseLoop(m_framesSeen);
}
