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
    qRegisterMetaType<SerialLine::Events>();
    m_clock.start();
    // The stream is handed over from the event loop, never from inside the call that added
    // to it: an owner on the same thread is not re-entered from its own Output().
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    m_txTimer.setSingleShot(true);
    m_txTimer.setTimerType(Qt::PreciseTimer);

    connect(m_device.get(), &PortDevice::readyRead, this, &SerialLine::readArrived);
    connect(m_device.get(), &PortDevice::failed, this, &SerialLine::onDeviceFailed);
    connect(&m_flushTimer, &QTimer::timeout, this, &SerialLine::flush);
    connect(&m_txTimer, &QTimer::timeout, this, &SerialLine::pumpTx);
    connect(&m_loopTimer, &LoopTimer::timeout, this, &SerialLine::onLoopTimer);
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
    const auto openedAt = now();
    m_deviceName = port.device;
    m_state = PortState::Open;
    m_held.clear();
    m_heldBytes = 0;
    m_framesHanded = 0;
    m_line.reset();
    // Lines set while the port was closed take effect now; the caller may change them next.
    if (!m_device->setDataTerminalReady(m_dtr) || !m_device->setRequestToSend(m_rts)) {
        const QString reason = m_device->errorString();
        shutDown(PortState::Closed);
        return fail(reason);
    }
    // Bytes that waited for the port came before anything this opening sends: they are read
    // now, stamped with the open, before the caller can send.
    m_unreadSince = openedAt;
    m_device->takeWaiting();
    if (m_device->bytesAvailable() > 0)
        readArrived();
    else
        m_unreadSince.reset();
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
    return nanoseconds(m_clock.nsecsElapsed());
}

qsizetype SerialLine::aheadOfWire(nanoseconds t) const
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
    if (m_state != PortState::Open)
        return 0;
    return std::min<qsizetype>(m_device->bytesAvailable() + m_queuedBytes + m_inTransit,
                               kInBufferSize);
}

SerialLine::OutputResult SerialLine::Output(const QByteArray &bytes)
{
    if (m_state != PortState::Open) {
        m_error = tr("A porta serial está fechada");
        return OutputResult::PortClosed;
    }
    if (bytes.size() > kOutBufferSize - OutBufferCount()) {
        m_error = tr("O buffer de transmissão está cheio");
        Event refused;
        refused.kind = Event::Kind::TransmitFull;
        refused.at = now();
        queue(refused);
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
            const auto wait = std::max<nanoseconds>(m_line.untilPendingAtMost(kHandOverAt, t),
                                                    (ahead - kHandOverAt) * m_line.byteTime());
            m_txTimer.start(
                std::max(std::chrono::duration_cast<std::chrono::milliseconds>(wait), 1ms));
            return;
        }
        const QByteArray frame = m_held.takeFirst();
        m_heldBytes -= frame.size();
        // What the system still holds goes first: a far end that reads behind the line
        // clock (a pseudo-terminal's reader) makes the frame's end later than the clock says.
        m_line.holding(m_device->bytesForLine(), t);
        if (!m_device->write(frame)) {
            onDeviceFailed(PortDevice::Failure::WriteFailed, m_device->errorString());
            return;
        }
        m_line.handOver(frame.size(), t);
        ++m_framesHanded;
        Event handed;
        handed.kind = Event::Kind::FrameOnLine;
        handed.bytes = frame;
        handed.at = t;
        handed.lastByteOut = m_line.idleAt();
        queue(handed);
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
        const auto step
            = std::clamp<nanoseconds>(ahead * m_line.byteTime(), 100us, kMaxDrain - (t - start));
        std::this_thread::sleep_for(step);
    }
    // A line that does not drain (held by flow control, a stuck adapter) must not hold the
    // window: what is left is discarded.
    m_device->discardOutput();
}

void SerialLine::readArrived()
{
    if (m_state != PortState::Open)
        return;
    const nanoseconds at = m_unreadSince.value_or(now());
    const qsizetype limit = inputLimit(m_inputLen);
    bool stalled = false;
    while (m_device->bytesAvailable() > 0) {
        // The receive buffer holds what the owner has not handled yet; what does not fit
        // waits in the system, as it would behind a full buffer of a real control.
        const qsizetype room = kInBufferSize - m_queuedBytes - m_inTransit;
        if (room <= 0) {
            stalled = true;
            break;
        }
        Event block;
        block.kind = Event::Kind::Received;
        block.bytes = m_device->read(std::min(limit, room));
        if (block.bytes.isEmpty())
            break;
        block.at = at;
        m_queuedBytes += block.bytes.size();
        queue(block);
    }
    // Bytes left in the system came before the next read, after these.
    m_unreadSince = stalled ? std::optional(at) : std::nullopt;
    m_readStalled = stalled;
    // The owner may have made room after the look above and before the stall was set, and
    // then not seen it: look again, or what waits in the system would wait for a notice of
    // new bytes that may never come.
    if (stalled && kInBufferSize - m_queuedBytes - m_inTransit > 0)
        QMetaObject::invokeMethod(this, &SerialLine::resume, Qt::QueuedConnection);
}

void SerialLine::queue(Event event)
{
    m_events.append(std::move(event));
    if (m_flushTimer.isActive())
        return;
    const nanoseconds since = now() - m_handedOver;
    m_flushTimer.start(since >= kHandOverEvery
                           ? 0ms
                           : std::chrono::ceil<std::chrono::milliseconds>(kHandOverEvery - since));
}

void SerialLine::flush()
{
    if (m_events.isEmpty())
        return;
    // Never handed over while the owner handles a batch: its return hands over what came
    // meanwhile.
    for (Owner seen = m_owner.load();;) {
        if (seen == Owner::Idle) {
            if (m_owner.compare_exchange_weak(seen, Owner::Busy))
                break;
        } else if (seen == Owner::BusyMore
                   || m_owner.compare_exchange_weak(seen, Owner::BusyMore)) {
            return;
        }
    }
    const Events batch = std::exchange(m_events, {});
    m_inTransit += m_queuedBytes;
    m_queuedBytes = 0;
    m_handedOver = now();
    emit events(batch);
}

bool SerialLine::idle() const
{
    return m_events.isEmpty() && m_owner == Owner::Idle && OutBufferCount() == 0;
}

SerialLine::Events SerialLine::takeEvents()
{
    m_flushTimer.stop();
    m_inTransit += m_queuedBytes;
    m_queuedBytes = 0;
    return std::exchange(m_events, {});
}

void SerialLine::eventsHandled(qsizetype bytes)
{
    m_inTransit -= bytes;
    // What came meanwhile goes after the event loop has had its turn, so that a flood never
    // starves the owner's thread.
    if (m_owner.exchange(Owner::Idle) == Owner::BusyMore || m_readStalled)
        QMetaObject::invokeMethod(this, &SerialLine::resume, Qt::QueuedConnection);
}

void SerialLine::resume()
{
    if (m_readStalled)
        readArrived();
    flush();
}

void SerialLine::setLoopInterval(int ms)
{
    m_loopSent = 0;
    m_loopHeld = false;
    if (ms > 0)
        m_loopTimer.start(std::chrono::milliseconds(ms));
    else
        m_loopTimer.stop();
}

void SerialLine::releaseLoop(qint64 framesSeen)
{
    if (framesSeen == m_framesHanded && m_held.isEmpty())
        m_loopHeld = false;
}

void SerialLine::tick(LoopTick result, nanoseconds at)
{
    Event e;
    e.kind = Event::Kind::Tick;
    e.tick = result;
    e.at = at;
    e.tickNumber = m_loopSent;
    queue(e);
}

void SerialLine::onLoopTimer()
{
    const auto at = now();
    if (m_state != PortState::Open)
        return tick(LoopTick::PortClosed, at);
    if (m_loopHeld)
        return tick(LoopTick::Held, at);
    const qint64 number = m_loopSent + 1;
    const bool variant = m_loopPlan.variantEvery > 0 && number % m_loopPlan.variantEvery == 0;
    const QList<QByteArray> &frames = variant ? m_loopPlan.variant : m_loopPlan.frames;
    qsizetype bytes = 0;
    for (const QByteArray &frame : frames)
        bytes += frame.size();
    if (bytes > kOutBufferSize - OutBufferCount())
        return tick(LoopTick::Skipped, at);
    for (const QByteArray &frame : frames) {
        // Room was checked: only a port that failed under the write refuses, and it has
        // said so; the tick did not go out.
        if (Output(frame) != OutputResult::Queued)
            return tick(LoopTick::PortClosed, at);
    }
    m_loopSent = number;
    m_loopHeld = variant && m_loopPlan.holdAfterVariant;
    Event e;
    e.kind = Event::Kind::Tick;
    e.tick = LoopTick::Sent;
    e.at = at;
    e.tickNumber = number;
    e.variant = variant;
    e.lastTick = m_loopPlan.ticks > 0 && number >= m_loopPlan.ticks;
    if (e.lastTick)
        m_loopTimer.stop();
    queue(e);
}

void SerialLine::onDeviceFailed(PortDevice::Failure, const QString &reason)
{
    if (m_state != PortState::Open)
        return;
    // A vanished device keeps failing as fast as it can: close at the first failure and
    // say it once.
    Event lost;
    lost.kind = Event::Kind::Lost;
    lost.device = m_deviceName;
    lost.reason = reason;
    lost.at = now();
    m_error = reason;
    shutDown(PortState::Lost);
    queue(lost);
}

void SerialLine::shutDown(PortState next)
{
    m_unreadSince.reset();
    m_readStalled = false;
    m_txTimer.stop();
    m_held.clear();
    m_heldBytes = 0;
    m_line.reset();
    m_loopHeld = false;
    m_device->close();
    m_state = next;
}
