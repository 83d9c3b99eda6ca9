#include "mscomm.h"

#include "systemport.h"

#include <QThread>

#include <algorithm>
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
    wire();
}

MSComm::MSComm(std::unique_ptr<PortDevice> device, QObject *parent)
    : QObject(parent)
    , m_line(new SerialLine(std::move(device), this))
{
    wire();
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

void MSComm::wire()
{
    connect(m_line, &SerialLine::OnComm, this, &MSComm::onLineEvent);
    connect(m_line, &SerialLine::frameOnLine, this, &MSComm::frameOnLine);
    connect(m_line, &SerialLine::portLost, this, &MSComm::portLost);
    connect(m_line, &SerialLine::loopTicked, this, &MSComm::loopTicked);
}

void MSComm::onLineEvent(qint16 event, const SerialLine::Received &received, quint32 session)
{
    // Raised before the port was last opened or closed here: of a session that is over.
    if (session != m_session) {
        m_line->eventHandled();
        return;
    }
    m_line->taken(received.bytes.size());
    if (m_held.bytes.isEmpty())
        m_held.at = received.at;
    m_held.bytes += received.bytes;
    m_commEvent = event;
    emit OnComm();
    handlerReturned();
}

void MSComm::handlerReturned()
{
    // The line stays "in the handler" while bytes it handed over wait here.
    if (m_held.bytes.isEmpty())
        m_line->eventHandled();
    else
        QMetaObject::invokeMethod(this, &MSComm::raiseHeld, Qt::QueuedConnection);
}

void MSComm::raiseHeld()
{
    if (!m_held.bytes.isEmpty()) {
        m_commEvent = comEvReceive;
        emit OnComm();
    }
    handlerReturned();
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
    const auto [done, session] = onLine([&] {
        const bool opened = m_line->setPortOpen(open);
        return std::pair(opened, m_line->session());
    });
    // Bytes of the session before are not read in this one.
    m_session = session;
    m_held = {};
    if (done && open)
        m_commEvent = 0;
    return done;
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

QByteArray MSComm::Input()
{
    SerialLine::Received received;
    if (!m_held.bytes.isEmpty()) {
        received = {m_held.bytes.left(SerialLine::inputLimit(m_inputLen)), m_held.at};
        m_held.bytes.remove(0, received.bytes.size());
    } else {
        received = onLine([this] { return m_line->Input(); });
    }
    if (!received.bytes.isEmpty())
        emit bytesArrived(received.bytes, received.at);
    return received.bytes;
}

qsizetype MSComm::OutBufferCount() const
{
    return onLine([this] { return m_line->OutBufferCount(); });
}

qsizetype MSComm::InBufferCount() const
{
    const qsizetype atLine = onLine([this] { return m_line->InBufferCount(); });
    return std::min(m_held.bytes.size() + atLine, kInBufferSize);
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

void MSComm::setLoopFrames(const QList<QByteArray> &frames)
{
    onLine([&] { m_line->setLoopFrames(frames); });
}

void MSComm::setLoopInterval(int ms)
{
    onLine([&] { m_line->setLoopInterval(ms); });
}

bool MSComm::loopTicking() const
{
    return onLine([this] { return m_line->loopTicking(); });
}
