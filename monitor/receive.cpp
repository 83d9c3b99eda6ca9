#include "receive.h"

#include "protocol/frames.h"
#include "protocol/protocol.h"
#include "text/win1252.h"

#include <algorithm>

namespace monitor {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Decimal magnitudes as digit strings without leading zeros ("" is zero).
QString stripZeros(QStringView digits)
{
    qsizetype i = 0;
    while (i < digits.size() && digits[i] == u'0')
        ++i;
    return digits.mid(i).toString();
}

QString addMagnitudes(const QString &a, const QString &b)
{
    QString out;
    out.reserve(std::max(a.size(), b.size()) + 1);
    int carry = 0;
    for (qsizetype i = a.size() - 1, j = b.size() - 1; i >= 0 || j >= 0 || carry; --i, --j) {
        int d = carry;
        if (i >= 0)
            d += a[i].unicode() - u'0';
        if (j >= 0)
            d += b[j].unicode() - u'0';
        out.append(QChar(u'0' + d % 10));
        carry = d / 10;
    }
    std::reverse(out.begin(), out.end());
    return stripZeros(out);
}

int compareMagnitudes(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// a - b for a >= b
QString subtractMagnitudes(const QString &a, const QString &b)
{
    QString out;
    int borrow = 0;
    for (qsizetype i = a.size() - 1, j = b.size() - 1; i >= 0; --i, --j) {
        int d = a[i].unicode() - u'0' - borrow - (j >= 0 ? b[j].unicode() - u'0' : 0);
        borrow = d < 0 ? 1 : 0;
        out.append(QChar(u'0' + d + 10 * borrow));
    }
    std::reverse(out.begin(), out.end());
    return stripZeros(out);
}

} // namespace

QString hexCode(uchar byte)
{
    if (byte < 16)
        return QString(QChar::fromLatin1(kDigits[byte]));
    const QChar digits[]
        = {QChar::fromLatin1(kDigits[byte >> 4]), QChar::fromLatin1(kDigits[byte & 15])};
    return QString(digits, 2);
}

bool logsMustEmpty(qsizetype hexLogLength)
{
    return hexLogLength == kLogEmptiesAt || hexLogLength > kLogLimit;
}

QString addToCount(const QString &box, qint64 amount)
{
    qsizetype i = 0;
    while (i < box.size() && (box[i] == u' ' || box[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < box.size() && (box[i] == u'-' || box[i] == u'+')) {
        negative = box[i] == u'-';
        ++i;
    }
    const qsizetype start = i;
    while (i < box.size() && box[i] >= u'0' && box[i] <= u'9')
        ++i;
    const QString value = stripZeros(QStringView(box).mid(start, i - start));
    const QString add = amount > 0 ? QString::number(amount) : QString();

    QString magnitude;
    if (!negative || value.isEmpty()) {
        magnitude = addMagnitudes(value, add);
        negative = false;
    } else if (compareMagnitudes(value, add) > 0) {
        magnitude = subtractMagnitudes(value, add);
    } else {
        magnitude = subtractMagnitudes(add, value);
        negative = false;
    }
    if (magnitude.isEmpty())
        return QStringLiteral("0");
    return negative ? u'-' + magnitude : magnitude;
}

BlockResult receiveBlock(const Boxes &before, QByteArrayView block, bool echo)
{
    BlockResult r;
    r.boxes = before;
    if (logsMustEmpty(before.hexLog.size())) {
        r.logsEmptied = true;
        r.boxes.hexLog.clear();
        r.boxes.asciiLog.clear();
    }

    r.boxes.asciiLog.reserve(r.boxes.asciiLog.size() + 1 + block.size());
    r.boxes.asciiLog += u' ';
    r.boxes.asciiLog += win1252::decode(block);

    r.boxes.hexLog.reserve(r.boxes.hexLog.size() + 3 * block.size());
    for (const char c : block) {
        const auto byte = uchar(c);
        r.boxes.hexLog += u' ';
        r.boxes.hexLog += hexCode(byte);
        const protocol::ByteClass kind = protocol::classify(byte);
        if (kind == protocol::ByteClass::Ack)
            continue;
        if (kind == protocol::ByteClass::Nack) {
            ++r.nackCount;
            continue;
        }
        ++r.otherCount;
        if (echo)
            r.echoes.append(frames::text(QByteArrayView(&c, 1), false));
    }
    if (r.nackCount > 0)
        r.boxes.nack = addToCount(before.nack, r.nackCount);
    if (r.otherCount > 0)
        r.boxes.erro = addToCount(before.erro, r.otherCount);
    return r;
}

} // namespace monitor
