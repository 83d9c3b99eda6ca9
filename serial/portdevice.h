#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

// What the serial control needs of an operating-system port. SystemPort is the real one;
// tests put a recording device in its place to check the order of calls and the handling
// of failures that no pseudo-terminal can produce (modem lines, a vanished COM port).
class PortDevice : public QObject
{
    Q_OBJECT

public:
    // The receive buffer: the device reads no further ahead; the rest waits in the system.
    static constexpr qint64 kReceiveBuffer = 1024;

    enum class Failure { Gone, ReadFailed, WriteFailed, Other };

    using QObject::QObject;

    // Opens the device at these settings, or refuses with a reason in errorString().
    virtual bool open(const QString &device, const LineSettings &settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool apply(const LineSettings &settings) = 0;

    // Modem lines. A device that has none (a pseudo-terminal) reports success.
    virtual bool setDataTerminalReady(bool on) = 0;
    virtual bool setRequestToSend(bool on) = 0;

    // Hands the bytes to the system in one go; they leave at the line's own pace.
    virtual bool write(const QByteArray &bytes) = 0;
    virtual QByteArray read(qint64 maxBytes) = 0;
    virtual qint64 bytesAvailable() const = 0;
    // Takes now what the system already holds for reading (bytes that waited for the port to
    // be opened), as a read would when its notice came round; raises readyRead if any.
    virtual void takeWaiting() {}

    // Bytes the system still holds for the line, where it can tell.
    virtual qint64 bytesForLine() const = 0;
    // Drops whatever the system still holds for the line.
    virtual void discardOutput() = 0;

    // The last failure, in the user's language.
    virtual QString errorString() const = 0;

signals:
    void readyRead();
    // The open device failed under us; the control closes it.
    void failed(PortDevice::Failure failure, const QString &reason);
};
