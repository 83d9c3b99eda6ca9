#pragma once

#include "portdevice.h"

#include <QSerialPort>

// A port of the operating system, through QSerialPort. Refuses a device that another
// program holds in any way the system can tell (Qt's lock file, flock, exclusive mode), or
// that is no serial port at all, and holds flock itself so that other programs see it.
class SystemPort : public PortDevice
{
    Q_OBJECT

public:
    explicit SystemPort(QObject *parent = nullptr);
    ~SystemPort() override;

    bool open(const QString &device, const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    bool apply(const LineSettings &settings) override;
    bool setDataTerminalReady(bool on) override;
    bool setRequestToSend(bool on) override;
    bool write(const QByteArray &bytes) override;
    QByteArray read(qint64 maxBytes) override { return m_port.read(maxBytes); }
    qint64 bytesAvailable() const override { return m_port.bytesAvailable(); }
    void takeWaiting() override;
    qint64 bytesForLine() const override;
    void discardOutput() override;
    QString errorString() const override { return m_error; }

private:
    void onError(QSerialPort::SerialPortError error);
    bool refuse(const QString &reason);
    bool lineResult(bool ok);

    QSerialPort m_port;
    QString m_error;
};

// Bytes the system has received on an open port and not yet handed to `port`.
qint64 bytesWaitingIn(const QSerialPort &port);
