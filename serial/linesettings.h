#pragma once

#include <QSerialPort>
#include <QString>

#include <chrono>
#include <optional>

// Line settings in the classic "baud,parity,data,stop" text form, e.g. "9600,N,8,1".
// The defaults are the keyboard's line, the one place it is written: 9600 baud, no parity,
// 8 data bits, 1 stop bit.
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    static std::optional<LineSettings> parse(const QString &text);
    QString toString() const;

    // Bits one byte takes on the wire: start, data, parity and stop bits.
    double bitsPerByte() const;
    std::chrono::nanoseconds byteTime() const;
    double bytesPerSecond() const { return baudRate / bitsPerByte(); }

    // Sets them on a port, open or not; false where the port refuses one.
    bool applyTo(QSerialPort &port) const;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};
