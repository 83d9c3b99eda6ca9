#include "win1252.h"

#include <array>

namespace win1252 {
namespace {

// 80..9F; every other byte is its own Latin-1 code point.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char16_t kPictureBase = 0x2400; // U+2400 pictures NUL
constexpr char16_t kPictureCount = 0x20;
constexpr char16_t kDel = 0x7F;
constexpr char16_t kPictureDel = 0x2421;

char encodeOne(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return char(cp);
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == cp)
            return char(0x80 + i);
    }
    return '?';
}

template<typename F> void forEachCodePoint(QStringView text, F &&f)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            f(QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
        } else {
            f(char32_t(c.unicode()));
        }
    }
}

} // namespace

QChar toUnicode(uchar byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(kHigh[byte - 0x80]);
    return QChar(char16_t(byte));
}

QString decode(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *d = out.data();
    for (const char b : bytes)
        *d++ = toUnicode(uchar(b));
    return out;
}

QByteArray encode(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    forEachCodePoint(text, [&out](char32_t cp) { out.append(encodeOne(cp)); });
    return out;
}

QChar controlPicture(QChar c)
{
    if (c.unicode() < kPictureCount)
        return QChar(char16_t(kPictureBase + c.unicode()));
    if (c.unicode() == kDel)
        return QChar(kPictureDel);
    return c;
}

QChar fromControlPicture(QChar c)
{
    if (c.unicode() >= kPictureBase && c.unicode() < kPictureBase + kPictureCount)
        return QChar(char16_t(c.unicode() - kPictureBase));
    if (c.unicode() == kPictureDel)
        return QChar(kDel);
    return c;
}

bool encodable(char32_t cp)
{
    return encodeOne(cp) != '?' || cp == u'?';
}

QString fitToCodePage(QStringView text)
{
    QString out;
    out.reserve(text.size());
    forEachCodePoint(text, [&out](char32_t cp) {
        if (encodable(cp))
            out.append(QChar(char16_t(cp)));
        else
            out.append(u'?');
    });
    return out;
}

QString mnemonic(uchar byte)
{
    static constexpr const char *kNames[kPictureCount] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
        "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",
    };
    if (byte < kPictureCount)
        return QString::fromLatin1(kNames[byte]);
    if (byte == kDel)
        return QStringLiteral("DEL");
    return QStringLiteral("%1").arg(uint(byte), 2, 16, QChar(u'0')).toUpper();
}

qsizetype length(QStringView text)
{
    qsizetype n = 0;
    forEachCodePoint(text, [&n](char32_t) { ++n; });
    return n;
}

} // namespace win1252
