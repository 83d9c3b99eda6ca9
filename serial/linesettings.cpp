#include "linesettings.h"

#include <QStringList>

#include <cmath>

std::optional<LineSettings> LineSettings::parse(const QString &text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;

    LineSettings s;
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return std::nullopt;
    s.baudRate = baud;

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == u"N")
        s.parity = QSerialPort::NoParity;
    else if (parity == u"E")
        s.parity = QSerialPort::EvenParity;
    else if (parity == u"O")
        s.parity = QSerialPort::OddParity;
    else if (parity == u"M")
        s.parity = QSerialPort::MarkParity;
    else if (parity == u"S")
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const int data = parts[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return std::nullopt;
    s.dataBits = QSerialPort::DataBits(data);

    const QString stop = parts[3].trimmed();
    if (stop == u"1")
        s.stopBits = QSerialPort::OneStop;
    else if (stop == u"1.5")
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == u"2")
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

QString LineSettings::toString() const
{
    static constexpr char kParity[] = {'N', '?', 'E', 'O', 'S', 'M'};
    const QString stop = stopBits == QSerialPort::OneStop   ? QStringLiteral("1")
                         : stopBits == QSerialPort::TwoStop ? QStringLiteral("2")
                                                            : QStringLiteral("1.5");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QChar::fromLatin1(kParity[int(parity)]))
        .arg(int(dataBits))
        .arg(stop);
}

double LineSettings::bitsPerByte() const
{
    const double stop = stopBits == QSerialPort::OneStop   ? 1.0
                        : stopBits == QSerialPort::TwoStop ? 2.0
                                                           : 1.5;
    return 1.0 + int(dataBits) + (parity == QSerialPort::NoParity ? 0 : 1) + stop;
}

std::chrono::nanoseconds LineSettings::byteTime() const
{
    return std::chrono::nanoseconds(std::llround(bitsPerByte() * 1e9 / baudRate));
}
