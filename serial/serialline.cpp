#include "serialline.h"

#include "portmap.h"

#include <algorithm>
#include <thread>

using namespace std::chrono_literals;

SerialLine::SerialLine(std::unique_ptr<PortDevice> device, QObject *parent)
    : QObject(parent)
    , m_device(std::move(device))
    , m_line(m_settings.byteTime())
{
    m_clock.start();
    m_eventTimer.setSingleShot(true);
    m_eventTimer.setInterval(0);
    m_txTimer.setSingleShot(true);
    m_txTimer.setTimerType(Qt::PreciseTimer);

    connect(m_device.get(), &PortDevice::readyRead, this, [this] {
        if (!m_unreadSince)
            m_unreadSince = now();
        scheduleEvent();
    });
    connect(m_device.get(), &PortDevice::failed, this, &SerialLine::onDeviceFailed);
    connect(&m_eventTimer, &QTimer::timeout, this, &SerialLine::raiseEvent);
    connect(&m_txTimer, &QTimer::timeout, this, &SerialLine::pumpTx);
    connect(&m_loopTimer, &LoopTimer::Timer, this, &SerialLine::onLoopTimer);
}

SerialLine::~SerialLine()
{
    // Ending the program does not cut the frame on the line either.
    if (m_state == PortState::Open)
        finishLine();
    shutDown(PortState::Closed);
}

bool SerialLine::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

bool SerialLine::setSettings(const QString &settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return fail(tr("Configuração inválida: \"%1\"").arg(settings));
    if (m_state == PortState::Open && !m_device->apply(*parsed))
        return fail(m_device->errorString());
    m_settings = *parsed;
    m_line.setByteTime(m_settings.byteTime());
    return true;
}

bool SerialLine::setInputLen(qint16 length)
{
    if (length < 0)
        return fail(tr("Tamanho de leitura inválido: %1").arg(length));
    m_inputLen = length;
    return true;
}

bool SerialLine::setCommPort(qint16 port)
{
    if (m_state == PortState::Open)
        return fail(tr("A porta está aberta"));
    if (port < 1 || port > ports::kMaxPortNumber)
        return fail(ports::outOfRange());
    m_commPort = port;
    return true;
}

bool SerialLine::setPortOpen(bool open)
{
    // An event raised before this call belongs to the session that ends or starts here.
    ++m_session;
    m_inTransit = 0;
    if (!open) {
        if (m_state == PortState::Open)
            finishLine();
        shutDown(PortState::Closed);
        return true;
    }
    if (m_state == PortState::Open)
        return fail(tr("A porta já está aberta"));

    const ports::Lookup port = ports::lookup(m_commPort);
    if (!port.usable())
        return fail(port.problem);
    if (!m_device->open(port.device, m_settings))
        return fail(m_device->errorString());
    m_deviceName = port.device;
    m_state = PortState::Open;
    m_held.clear();
    m_heldBytes = 0;
    m_line.reset();
    // Lines set while the port was closed take effect now; the caller may change them next.
    if (!m_device->setDataTerminalReady(m_dtr) || !m_device->setRequestToSend(m_rts)) {
        const QString reason = m_device->errorString();
        shutDown(PortState::Closed);
        return fail(reason);
    }
    if (m_device->bytesAvailable() > 0)
        scheduleEvent();
    return true;
}

bool SerialLine::setDTREnable(bool enable)
{
    m_dtr = enable;
    if (m_state == PortState::Open && !m_device->setDataTerminalReady(enable))
        return fail(m_device->errorString());
    return true;
}

bool SerialLine::setRTSEnable(bool enable)
{
    m_rts = enable;
    if (m_state == PortState::Open && !m_device->setRequestToSend(enable))
        return fail(m_device->errorString());
    return true;
}

std::chrono::nanoseconds SerialLine::now() const
{
    return std::chrono::nanoseconds(m_clock.nsecsElapsed());
}

qsizetype SerialLine::aheadOfWire(std::chrono::nanoseconds t) const
{
    return std::max<qsizetype>(m_line.pending(t), m_device->bytesForLine());
}

qsizetype SerialLine::OutBufferCount() const
{
    if (m_state != PortState::Open)
        return 0;
    return m_heldBytes + aheadOfWire(now());
}

qsizetype SerialLine::InBufferCount() const
{
    return m_state == PortState::Open
               ? std::min<qsizetype>(m_device->bytesAvailable() + m_inTransit, kInBufferSize)
               : 0;
}

SerialLine::OutputResult SerialLine::Output(const QByteArray &bytes)
{
    if (m_state != PortState::Open) {
        m_error = tr("A porta serial está fechada");
        return OutputResult::PortClosed;
    }
    if (bytes.size() > kOutBufferSize - OutBufferCount()) {
        m_error = tr("O buffer de transmissão está cheio");
        m_txFullPending = true;
        scheduleEvent();
        return OutputResult::BufferFull;
    }
    if (bytes.isEmpty())
        return OutputResult::Queued;
    m_held.append(bytes);
    m_heldBytes += bytes.size();
    pumpTx();
    return OutputResult::Queued;
}

void SerialLine::pumpTx()
{
    while (m_state == PortState::Open && !m_held.isEmpty()) {
        const auto t = now();
        const qsizetype ahead = aheadOfWire(t);
        if (ahead > kHandOverAt) {
            // Come back when the line is about to run dry of what it has.
            const auto wait
                = std::max<std::chrono::nanoseconds>(m_line.untilPendingAtMost(kHandOverAt, t),
                                                     (ahead - kHandOverAt) * m_line.byteTime());
            m_txTimer.start(
                std::max(std::chrono::duration_cast<std::chrono::milliseconds>(wait), 1ms));
            return;
        }
        const QByteArray frame = m_held.takeFirst();
        m_heldBytes -= frame.size();
        if (!m_device->write(frame)) {
            onDeviceFailed(PortDevice::Failure::WriteFailed, m_device->errorString());
            return;
        }
        m_line.handOver(frame.size(), t);
        emit frameOnLine(frame, t, m_line.idleAt());
    }
}

void SerialLine::finishLine()
{
    // Frames not yet handed over are dropped whole; the one on the line is let finish, so
    // the far end never sees half a frame followed by whatever comes after the next open.
    m_txTimer.stop();
    m_held.clear();
    m_heldBytes = 0;
    const auto start = now();
    for (;;) {
        const auto t = now();
        const qsizetype ahead = aheadOfWire(t);
        if (ahead == 0)
            return;
        if (t - start >= kMaxDrain)
            break;
        const auto step = std::clamp<std::chrono::nanoseconds>(ahead * m_line.byteTime(), 100us,
                                                               kMaxDrain - (t - start));
        std::this_thread::sleep_for(step);
    }
    // A line that does not drain (held by flow control, a stuck adapter) must not hold the
    // window: what is left is discarded.
    m_device->discardOutput();
}

SerialLine::Received SerialLine::Input()
{
    if (m_state != PortState::Open)
        return {};
    Received received{m_device->read(inputLimit(m_inputLen)), m_unreadSince.value_or(now())};
    // What is left came before now, but after these.
    m_unreadSince = m_device->bytesAvailable() > 0 ? std::optional(now()) : std::nullopt;
    return received;
}

void SerialLine::scheduleEvent()
{
    if (!m_eventTimer.isActive())
        m_eventTimer.start();
}

void SerialLine::raiseEvent()
{
    const bool txFull = m_txFullPending;
    if (!txFull && (m_state != PortState::Open || m_device->bytesAvailable() == 0))
        return;
    // Never raised again while its handler runs: its return raises what came meanwhile.
    for (Handler seen = m_handler.load();;) {
        if (seen == Handler::Idle) {
            if (m_handler.compare_exchange_weak(seen, Handler::Busy))
                break;
        } else if (seen == Handler::BusyMore
                   || m_handler.compare_exchange_weak(seen, Handler::BusyMore)) {
            return;
        }
    }
    m_txFullPending = false;
    // A refused frame is told first; the bytes, if any, come with the next event.
    const Received received = txFull ? Received{} : Input();
    if (m_state == PortState::Open && m_device->bytesAvailable() > 0)
        m_handler = Handler::BusyMore;
    m_inTransit += received.bytes.size();
    emit OnComm(txFull ? comEventTxFull : comEvReceive, received, m_session);
}

void SerialLine::eventHandled()
{
    // Whatever arrived meanwhile comes with the next event, after the event loop has had
    // its turn, so a flood never starves the window.
    if (m_handler.exchange(Handler::Idle) == Handler::BusyMore)
        QMetaObject::invokeMethod(this, &SerialLine::raiseEvent, Qt::QueuedConnection);
}

void SerialLine::onLoopTimer()
{
    const auto at = now();
    if (m_state != PortState::Open) {
        emit loopTicked(LoopTick::PortClosed, at);
        return;
    }
    qsizetype bytes = 0;
    for (const QByteArray &frame : std::as_const(m_loopFrames))
        bytes += frame.size();
    if (bytes > kOutBufferSize - OutBufferCount()) {
        emit loopTicked(LoopTick::Skipped, at);
        return;
    }
    for (const QByteArray &frame : std::as_const(m_loopFrames)) {
        // Room was checked: only a port that failed under the write refuses, and it has
        // said so; the tick did not go out.
        if (Output(frame) != OutputResult::Queued) {
            emit loopTicked(LoopTick::PortClosed, at);
            return;
        }
    }
    emit loopTicked(LoopTick::Sent, at);
}

void SerialLine::onDeviceFailed(PortDevice::Failure, const QString &reason)
{
    if (m_state != PortState::Open)
        return;
    // A vanished device keeps failing as fast as it can: close at the first failure and
    // say it once.
    const QString device = m_deviceName;
    m_error = reason;
    shutDown(PortState::Lost);
    emit portLost(device, reason);
}

void SerialLine::shutDown(PortState next)
{
    m_unreadSince.reset();
    m_txTimer.stop();
    m_held.clear();
    m_heldBytes = 0;
    m_line.reset();
    m_txFullPending = false;
    m_eventTimer.stop();
    m_device->close();
    m_state = next;
}
