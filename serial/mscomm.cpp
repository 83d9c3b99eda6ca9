#include "mscomm.h"

#include "systemport.h"

#include <QCoreApplication>
#include <QThread>

#include <utility>

MSComm::MSComm(QObject *parent)
    : QObject(parent)
    , m_thread(std::make_unique<QThread>())
{
    m_thread->setObjectName(QStringLiteral("serial line"));
    // Above the window's thread where the system honours it (Windows): a tick must not wait
    // for a core behind the painting.
    m_thread->start(QThread::HighestPriority);
    // Born on its thread, with its port and timers: nothing of it ever lives elsewhere.
    auto *home = new QObject;
    home->moveToThread(m_thread.get());
    QMetaObject::invokeMethod(
        home,
        [this, home] {
            m_line = new SerialLine(std::make_unique<SystemPort>());
            home->deleteLater();
        },
        Qt::BlockingQueuedConnection);
    connect(m_line, &SerialLine::events, this, &MSComm::deliver);
}

MSComm::MSComm(std::unique_ptr<PortDevice> device, QObject *parent)
    : QObject(parent)
    , m_line(new SerialLine(std::move(device), this))
{
    connect(m_line, &SerialLine::events, this, &MSComm::deliver);
}

MSComm::~MSComm()
{
    if (!m_thread)
        return; // the line is a child, and goes with this object
    // The line finishes the frame on the wire and closes on its own thread; the thread then
    // ends with it.
    disconnect(m_line, nullptr, this, nullptr);
    m_line->deleteLater();
    m_thread->quit();
    m_thread->wait();
}

void MSComm::deliver(const Events &batch)
{
    qsizetype bytes = 0;
    for (const Event &e : batch)
        bytes += e.kind == Event::Kind::Received ? e.bytes.size() : 0;
    emit events(batch);
    m_line->eventsHandled(bytes);
}

QString MSComm::Settings() const
{
    return onLine([this] { return m_line->Settings(); });
}

bool MSComm::setSettings(const QString &settings)
{
    return onLine([&] { return m_line->setSettings(settings); });
}

qint16 MSComm::InputLen() const
{
    return m_inputLen;
}

bool MSComm::setInputLen(qint16 length)
{
    const bool done = onLine([&] { return m_line->setInputLen(length); });
    if (done)
        m_inputLen = length;
    return done;
}

qint16 MSComm::CommPort() const
{
    return onLine([this] { return m_line->CommPort(); });
}

bool MSComm::setCommPort(qint16 port)
{
    return onLine([&] { return m_line->setCommPort(port); });
}

bool MSComm::PortOpen() const
{
    return onLine([this] { return m_line->PortOpen(); });
}

bool MSComm::setPortOpen(bool open)
{
    if (open)
        return onLine([&] { return m_line->setPortOpen(true); });
    // The owner hears everything before the port counts as closed: a frame that went out or
    // a reply that came is never lost from its figures and its record.
    onLine([this] { m_line->setPortOpen(false); });
    catchUp();
    return true;
}

void MSComm::catchUp()
{
    const auto rest = onLine([this] { return m_line->takeEvents(); });
    // A batch already on its way came before the rest.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!rest.isEmpty())
        deliver(rest);
}

bool MSComm::DTREnable() const
{
    return onLine([this] { return m_line->DTREnable(); });
}

bool MSComm::setDTREnable(bool enable)
{
    return onLine([&] { return m_line->setDTREnable(enable); });
}

bool MSComm::RTSEnable() const
{
    return onLine([this] { return m_line->RTSEnable(); });
}

bool MSComm::setRTSEnable(bool enable)
{
    return onLine([&] { return m_line->setRTSEnable(enable); });
}

MSComm::OutputResult MSComm::Output(const QByteArray &bytes)
{
    return onLine([&] { return m_line->Output(bytes); });
}

qsizetype MSComm::OutBufferCount() const
{
    return onLine([this] { return m_line->OutBufferCount(); });
}

qsizetype MSComm::InBufferCount() const
{
    return onLine([this] { return m_line->InBufferCount(); });
}

bool MSComm::lineIdle() const
{
    return onLine([this] { return m_line->idle(); });
}

MSComm::PortState MSComm::state() const
{
    return onLine([this] { return m_line->state(); });
}

QString MSComm::deviceName() const
{
    return onLine([this] { return m_line->deviceName(); });
}

QString MSComm::errorString() const
{
    return onLine([this] { return m_line->errorString(); });
}

void MSComm::setLoopPlan(const LoopPlan &plan)
{
    onLine([&] { m_line->setLoopPlan(plan); });
}

void MSComm::setLoopInterval(int ms)
{
    onLine([&] { m_line->setLoopInterval(ms); });
}

void MSComm::releaseLoop(qint64 framesSeen)
{
    onLine([&] { m_line->releaseLoop(framesSeen); });
}

bool MSComm::loopTicking() const
{
    return onLine([this] { return m_line->loopTicking(); });
}
