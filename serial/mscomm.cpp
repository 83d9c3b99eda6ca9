#include "mscomm.h"

#include "portmap.h"

#include <algorithm>

using namespace std::chrono_literals;

MSComm::MSComm(QObject *parent)
    : QObject(parent)
    , m_line(m_settings.byteTime())
{
    m_clock.start();
    m_eventTimer.setSingleShot(true);
    m_eventTimer.setInterval(0);
    m_txTimer.setSingleShot(true);
    m_txTimer.setTimerType(Qt::PreciseTimer);

    connect(&m_port, &QSerialPort::readyRead, this, &MSComm::scheduleEvent);
    connect(&m_port, &QSerialPort::errorOccurred, this, &MSComm::onPortError);
    connect(&m_eventTimer, &QTimer::timeout, this, &MSComm::raiseEvent);
    connect(&m_txTimer, &QTimer::timeout, this, &MSComm::pumpTx);
}

MSComm::~MSComm()
{
    shutDown(PortState::Closed);
}

bool MSComm::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

bool MSComm::setSettings(const QString &settings)
{
    const auto parsed = LineSettings::parse(settings);
    if (!parsed)
        return fail(tr("Configuração inválida: \"%1\"").arg(settings));
    if (m_state == PortState::Open
        && !(m_port.setBaudRate(parsed->baudRate) && m_port.setParity(parsed->parity)
             && m_port.setDataBits(parsed->dataBits) && m_port.setStopBits(parsed->stopBits))) {
        return fail(m_port.errorString());
    }
    m_settings = *parsed;
    m_line.setByteTime(m_settings.byteTime());
    return true;
}

bool MSComm::setInputLen(qint16 length)
{
    if (length < 0)
        return fail(tr("Tamanho de leitura inválido: %1").arg(length));
    m_inputLen = length;
    return true;
}

bool MSComm::setCommPort(qint16 port)
{
    if (m_state == PortState::Open)
        return fail(tr("A porta está aberta"));
    if (port < 1 || port > ports::kMaxPortNumber)
        return fail(tr("Número de porta inválido: %1").arg(port));
    m_commPort = port;
    return true;
}

bool MSComm::setPortOpen(bool open)
{
    if (!open) {
        shutDown(PortState::Closed);
        return true;
    }
    if (m_state == PortState::Open)
        return fail(tr("A porta já está aberta"));

    const auto device = ports::deviceFor(m_commPort);
    if (!device)
        return fail(tr("A porta %1 não existe").arg(m_commPort));

    m_port.setPortName(*device);
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // Qt reads no further ahead than the receive buffer; the rest waits in the system.
    m_port.setReadBufferSize(kInBufferSize);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        return fail(reason);
    }
    m_state = PortState::Open;
    m_commEvent = 0;
    m_txQueue.clear();
    m_line.reset();
    if (m_port.bytesAvailable() > 0)
        scheduleEvent();
    return true;
}

bool MSComm::setLine(bool (QSerialPort::*setter)(bool), bool enable)
{
    if (m_state != PortState::Open)
        return true; // takes effect with the open
    if ((m_port.*setter)(enable))
        return true;
    // A pseudo-terminal has no modem lines: nothing to switch, and not a failure.
    if (m_port.error() == QSerialPort::UnsupportedOperationError) {
        m_port.clearError();
        return true;
    }
    const QString reason = m_port.errorString();
    m_port.clearError();
    return fail(reason);
}

bool MSComm::setDTREnable(bool enable)
{
    m_dtr = enable;
    return setLine(&QSerialPort::setDataTerminalReady, enable);
}

bool MSComm::setRTSEnable(bool enable)
{
    m_rts = enable;
    return setLine(&QSerialPort::setRequestToSend, enable);
}

std::chrono::nanoseconds MSComm::now() const
{
    return std::chrono::nanoseconds(m_clock.nsecsElapsed());
}

qsizetype MSComm::aheadOfWire(std::chrono::nanoseconds t) const
{
    // Bytes Qt still holds are on their way too; a far end that stopped reading shows here.
    return std::max<qsizetype>(m_line.pending(t), m_port.bytesToWrite());
}

qsizetype MSComm::OutBufferCount() const
{
    if (m_state != PortState::Open)
        return 0;
    return m_txQueue.size() + aheadOfWire(now());
}

qsizetype MSComm::InBufferCount() const
{
    return m_state == PortState::Open ? std::min(m_port.bytesAvailable(), qint64(kInBufferSize))
                                      : 0;
}

MSComm::OutputResult MSComm::Output(const QByteArray &bytes)
{
    if (m_state != PortState::Open) {
        m_error = tr("A porta serial está fechada");
        return OutputResult::PortClosed;
    }
    if (bytes.size() > kOutBufferSize - OutBufferCount()) {
        m_error = tr("O buffer de transmissão está cheio");
        m_txFullPending = true;
        if (!m_inHandler)
            m_eventTimer.start();
        return OutputResult::BufferFull;
    }
    m_txQueue.append(bytes);
    pumpTx();
    return OutputResult::Queued;
}

void MSComm::pumpTx()
{
    if (m_state != PortState::Open || m_txQueue.isEmpty())
        return;
    const auto t = now();
    const qsizetype room = kWireWindow - aheadOfWire(t);
    if (room > 0) {
        const qsizetype n = std::min(room, m_txQueue.size());
        m_port.write(m_txQueue.constData(), n);
        m_txQueue.remove(0, n);
        m_line.handOver(n, t);
    }
    if (!m_txQueue.isEmpty()) {
        const auto wait = m_line.untilPendingAtMost(kWireWindow / 2, t);
        m_txTimer.start(std::max(std::chrono::duration_cast<std::chrono::milliseconds>(wait), 1ms));
    }
}

QByteArray MSComm::Input()
{
    if (m_state != PortState::Open)
        return {};
    const qsizetype limit
        = m_inputLen == 0 ? kInBufferSize : std::min<qsizetype>(m_inputLen, kInBufferSize);
    return m_port.read(limit);
}

void MSComm::scheduleEvent()
{
    // Never raised again while its handler runs: the handler's return reschedules.
    if (!m_inHandler && !m_eventTimer.isActive())
        m_eventTimer.start();
}

void MSComm::raiseEvent()
{
    if (m_inHandler)
        return;
    if (m_txFullPending) {
        m_txFullPending = false;
        m_commEvent = comEventTxFull;
    } else if (m_state == PortState::Open && m_port.bytesAvailable() > 0) {
        m_commEvent = comEvReceive;
    } else {
        return;
    }
    m_inHandler = true;
    emit OnComm();
    m_inHandler = false;
    // Whatever arrived meanwhile comes with the next event, after the event loop has had
    // its turn, so a flood never starves the window.
    if (m_txFullPending || (m_state == PortState::Open && m_port.bytesAvailable() > 0))
        m_eventTimer.start();
}

void MSComm::onPortError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError:
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
        return;
    default:
        break;
    }
    if (m_state != PortState::Open)
        return; // a failed open reports through setPortOpen
    // A vanished device leaves QSerialPort open, repeating the error as fast as it can:
    // close at the first one and say it once.
    const QString device = m_port.portName();
    const QString reason = m_port.errorString();
    m_error = reason;
    shutDown(PortState::Lost);
    emit portLost(device, reason);
}

void MSComm::shutDown(PortState next)
{
    m_txTimer.stop();
    m_txQueue.clear();
    m_line.reset();
    m_txFullPending = false;
    m_eventTimer.stop();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
    m_state = next;
}
