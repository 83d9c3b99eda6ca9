#include "linesettings.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// The letters and counts the settings string uses, as the classic serial control wrote them.
struct ParityName
{
    QSerialPort::Parity parity;
    char16_t letter;
};
constexpr ParityName kParities[] = {
    {QSerialPort::NoParity, u'N'},    {QSerialPort::EvenParity, u'E'},
    {QSerialPort::OddParity, u'O'},   {QSerialPort::MarkParity, u'M'},
    {QSerialPort::SpaceParity, u'S'},
};

struct StopName
{
    QSerialPort::StopBits stopBits;
    QStringView text;
    double bits;
};
constexpr StopName kStops[] = {
    {QSerialPort::OneStop, u"1", 1.0},
    {QSerialPort::OneAndHalfStop, u"1.5", 1.5},
    {QSerialPort::TwoStop, u"2", 2.0},
};

const StopName &stopName(QSerialPort::StopBits bits)
{
    for (const StopName &s : kStops) {
        if (s.stopBits == bits)
            return s;
    }
    return kStops[0];
}

} // namespace

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
    const auto p = std::find_if(std::begin(kParities), std::end(kParities),
                                [&](const ParityName &n) { return parity == QChar(n.letter); });
    if (p == std::end(kParities))
        return std::nullopt;
    s.parity = p->parity;

    const int data = parts[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return std::nullopt;
    s.dataBits = QSerialPort::DataBits(data);

    const QString stop = parts[3].trimmed();
    const auto b = std::find_if(std::begin(kStops), std::end(kStops),
                                [&](const StopName &n) { return stop == n.text; });
    if (b == std::end(kStops))
        return std::nullopt;
    s.stopBits = b->stopBits;
    return s;
}

QString LineSettings::toString() const
{
    QChar letter = u'?';
    for (const ParityName &n : kParities) {
        if (n.parity == parity)
            letter = QChar(n.letter);
    }
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(letter)
        .arg(int(dataBits))
        .arg(stopName(stopBits).text);
}

double LineSettings::bitsPerByte() const
{
    return 1.0 + int(dataBits) + (parity == QSerialPort::NoParity ? 0 : 1)
           + stopName(stopBits).bits;
}

bool LineSettings::applyTo(QSerialPort &port) const
{
    return port.setBaudRate(baudRate) && port.setParity(parity) && port.setDataBits(dataBits)
           && port.setStopBits(stopBits);
}

std::chrono::nanoseconds LineSettings::byteTime() const
{
    return std::chrono::nanoseconds(std::llround(bitsPerByte() * 1e9 / baudRate));
}
