#include "boxtext.h"

#include "win1252.h"

namespace boxtext {

QString render(QStringView text, Layout layout)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (layout == Layout::Lines && c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            out += QChar::ParagraphSeparator;
            ++i;
        } else if (layout == Layout::Log) {
            out += logSymbol(text[i]);
        } else {
            out += win1252::controlPicture(text[i]);
        }
    }
    return out;
}

QChar logSymbol(QChar c)
{
    return c.unicode() >= 0x80 && c.unicode() < 0xA0 ? kNoGlyph : win1252::controlPicture(c);
}

QString unrender(QStringView shown)
{
    QString out;
    out.reserve(shown.size());
    for (const QChar ch : shown) {
        const char16_t c = ch.unicode();
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            out += QStringLiteral("\r\n");
        else
            out += win1252::fromControlPicture(ch);
    }
    return out;
}

QString crlfLineBreaks(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator
            || c == QChar::LineSeparator) {
            out += QStringLiteral("\r\n");
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

bool isNamed(QChar symbol)
{
    return symbol == kNoGlyph || win1252::fromControlPicture(symbol) != symbol;
}

QString nameOf(QChar symbol, QChar actual)
{
    if (symbol == kNoGlyph) {
        const char16_t byte = actual.unicode();
        return byte >= 0x80 && byte < 0xA0 ? win1252::mnemonic(uchar(byte)) : QString();
    }
    const QChar control = win1252::fromControlPicture(symbol);
    return control != symbol ? win1252::mnemonic(uchar(control.unicode())) : QString();
}

qsizetype fittingUnits(QStringView text, qsizetype room)
{
    qsizetype units = 0;
    qsizetype chars = 0;
    while (units < text.size()) {
        const bool pair = units + 1 < text.size();
        const bool crlf = pair && text[units] == u'\r' && text[units + 1] == u'\n';
        const bool surrogates
            = pair && text[units].isHighSurrogate() && text[units + 1].isLowSurrogate();
        const qsizetype cost = crlf ? 2 : 1;
        if (chars + cost > room)
            break;
        chars += cost;
        units += crlf || surrogates ? 2 : 1;
    }
    return units;
}

QString encodableOnly(QStringView text)
{
    // The code page has no character beyond the BMP: a surrogate, paired or lone, is left
    // out on its own, and every other unit is a whole character.
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        if (win1252::encodable(c.unicode()))
            kept += c;
    }
    return kept;
}

QList<qsizetype> lineBreaks(QStringView symbols, qreal width,
                            const std::function<qreal(QChar)> &advance)
{
    QList<qsizetype> starts;
    qsizetype lineStart = 0;
    qsizetype wordStart = -1; // just after the line's last blank, when it has one
    qreal x = 0;
    qreal xAtWord = 0;
    for (qsizetype i = 0; i < symbols.size(); ++i) {
        const qreal w = advance(symbols[i]);
        if (symbols[i] == u' ') {
            x += w;
            wordStart = i + 1;
            xAtWord = x;
            continue;
        }
        if (x + w > width && i > lineStart) {
            if (wordStart > lineStart) {
                lineStart = wordStart;
                x -= xAtWord;
            } else {
                lineStart = i;
                x = 0;
            }
            starts.append(lineStart);
            wordStart = -1;
            // The word moved down may still be longer than a line.
            if (x + w > width && i > lineStart) {
                lineStart = i;
                x = 0;
                starts.append(lineStart);
            }
        }
        x += w;
    }
    return starts;
}

} // namespace boxtext
