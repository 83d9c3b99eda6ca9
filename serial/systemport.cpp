#include "systemport.h"

#include "portmap.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

QString missing(const QString &device)
{
    return SystemPort::tr("o dispositivo %1 não existe ou foi desconectado.").arg(device);
}

#ifndef Q_OS_WIN
QString inUse(const QString &device)
{
    return SystemPort::tr("%1 está em uso por outro programa.").arg(device);
}

QString inExclusiveUse(const QString &device)
{
    return SystemPort::tr("%1 está em uso por outro programa (modo exclusivo).").arg(device);
}

QString openFailure(int error, const QString &device)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return missing(device);
    case EACCES:
    case EPERM:
        return SystemPort::tr("sem permissão para abrir %1 (o usuário precisa pertencer ao "
                              "grupo dono do dispositivo, em geral \"dialout\").")
            .arg(device);
    case EBUSY:
        return inExclusiveUse(device);
    case EISDIR:
        return SystemPort::tr("%1 é uma pasta, não uma porta serial.").arg(device);
    case ELOOP:
        return SystemPort::tr("%1 é um link que não leva a nenhum dispositivo.").arg(device);
    default:
        return SystemPort::tr("o sistema recusou abrir %1 (erro %2).")
            .arg(device, QString::number(error));
    }
}

// Looks at the device before Qt opens it: Qt puts the port in exclusive mode at once, which
// hides whether somebody else had done so; and root passes exclusive mode unhindered.
QString probe(const QString &device)
{
    const int fd
        = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return openFailure(errno, device);
    QString refusal;
    int exclusive = 0;
    if (!::isatty(fd))
        refusal = SystemPort::tr("%1 não é uma porta serial.").arg(device);
    else if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        refusal = inExclusiveUse(device);
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        refusal = inUse(device);
    ::close(fd);
    return refusal;
}
#endif

QString failureText(PortDevice::Failure failure)
{
    switch (failure) {
    case PortDevice::Failure::Gone:
        return SystemPort::tr("o dispositivo foi desconectado ou deixou de responder");
    case PortDevice::Failure::ReadFailed:
        return SystemPort::tr("a leitura falhou; o dispositivo foi desconectado ou deixou de "
                              "responder");
    case PortDevice::Failure::WriteFailed:
        return SystemPort::tr("a escrita falhou; o dispositivo foi desconectado ou deixou de "
                              "responder");
    case PortDevice::Failure::Other:
        break;
    }
    return SystemPort::tr("a porta serial falhou");
}

} // namespace

SystemPort::SystemPort(QObject *parent)
    : PortDevice(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &PortDevice::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SystemPort::onError);
}

SystemPort::~SystemPort()
{
    close();
}

bool SystemPort::refuse(const QString &reason)
{
    m_error = reason;
    return false;
}

bool SystemPort::open(const QString &device, const LineSettings &settings)
{
#ifndef Q_OS_WIN
    if (const QString refusal = probe(device); !refusal.isEmpty())
        return refuse(refusal);
#endif
    m_port.setPortName(ports::systemLocation(device));
    apply(settings); // kept by the closed port, set on the device as it opens
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(kReceiveBuffer);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port.error();
        m_port.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return refuse(missing(device));
        case QSerialPort::PermissionError:
            // Qt's own lock file, or on Windows any other holder of the port.
            return refuse(tr("%1 está em uso por outro programa ou sem permissão.").arg(device));
        default:
            return refuse(tr("o sistema recusou abrir %1.").arg(device));
        }
    }
#ifndef Q_OS_WIN
    // Held for as long as the port is open, so that tools that honour flock see us.
    if (::flock(int(m_port.handle()), LOCK_EX | LOCK_NB) != 0) {
        m_port.close();
        return refuse(inUse(device));
    }
#endif
    m_error.clear();
    return true;
}

void SystemPort::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

bool SystemPort::apply(const LineSettings &settings)
{
    return settings.applyTo(m_port);
}

bool SystemPort::lineResult(bool ok)
{
    if (ok)
        return true;
    // A pseudo-terminal has no modem lines: nothing to switch, and not a failure.
    const bool unsupported = m_port.error() == QSerialPort::UnsupportedOperationError;
    m_port.clearError();
    return unsupported || refuse(tr("a porta não aceitou mudar as linhas DTR/RTS."));
}

bool SystemPort::setDataTerminalReady(bool on)
{
    return lineResult(m_port.setDataTerminalReady(on));
}

bool SystemPort::setRequestToSend(bool on)
{
    return lineResult(m_port.setRequestToSend(on));
}

bool SystemPort::write(const QByteArray &bytes)
{
    if (m_port.write(bytes) != bytes.size())
        return refuse(failureText(Failure::WriteFailed));
    // Straight to the system in one call, not at the event loop's next turn: a busy window
    // must not hold back the rest of a frame.
    m_port.flush();
    return true;
}

qint64 SystemPort::bytesForLine() const
{
    qint64 held = m_port.bytesToWrite();
    if (!m_port.isOpen())
        return held;
#ifdef Q_OS_WIN
    COMSTAT status{};
    DWORD errors = 0;
    if (::ClearCommError(m_port.handle(), &errors, &status))
        held += status.cbOutQue;
#else
    int queued = 0;
    if (::ioctl(int(m_port.handle()), TIOCOUTQ, &queued) == 0)
        held += queued;
#endif
    return held;
}

void SystemPort::takeWaiting()
{
    if (bytesWaitingIn(m_port) > 0)
        m_port.waitForReadyRead(0);
}

qint64 bytesWaitingIn(const QSerialPort &port)
{
    if (!port.isOpen())
        return 0;
#ifdef Q_OS_WIN
    COMSTAT status{};
    DWORD errors = 0;
    return ::ClearCommError(port.handle(), &errors, &status) ? qint64(status.cbInQue) : 0;
#else
    int waiting = 0;
    return ::ioctl(int(port.handle()), FIONREAD, &waiting) == 0 ? waiting : 0;
#endif
}

void SystemPort::discardOutput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Output);
}

void SystemPort::onError(QSerialPort::SerialPortError error)
{
    Failure failure = Failure::Other;
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError:
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
    case QSerialPort::OpenError:
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
        return; // not while open, or reported by the call that caused it
    case QSerialPort::ResourceError:
        failure = Failure::Gone;
        break;
    case QSerialPort::ReadError:
        failure = Failure::ReadFailed;
        break;
    case QSerialPort::WriteError:
        failure = Failure::WriteFailed;
        break;
    default:
        break;
    }
    if (!m_port.isOpen())
        return;
    m_error = failureText(failure);
    emit failed(failure, m_error);
}
