#include "controlnames.h"

#include "text/boxtext.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>

namespace controlnames {
namespace {

constexpr int kPadding = 3;

// The width a named symbol's cell is given: its name's, padded.
QTextCharFormat widened(QChar symbol, const QFont &base)
{
    // Every byte without a glyph gets a two-digit name: 80 stands for all of them.
    const QString name = boxtext::nameOf(symbol, QChar(char16_t(0x80)));
    QTextCharFormat wide;
    wide.setFontLetterSpacingType(QFont::AbsoluteSpacing);
    wide.setFontLetterSpacing(cellWidth(name, base) - QFontMetrics(base).horizontalAdvance(symbol));
    return wide;
}

// Formats of the layout only: the document's text stays as it is.
class NameCells : public QSyntaxHighlighter
{
public:
    NameCells(QTextDocument *document, const QWidget *view)
        : QSyntaxHighlighter(document)
        , m_view(view)
    {
    }

protected:
    void highlightBlock(const QString &text) override
    {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (boxtext::isNamed(text[i]))
                setFormat(int(i), 1, widened(text[i], m_view->font()));
        }
    }

private:
    const QWidget *m_view;
};

} // namespace

QFont font(const QFont &base)
{
    QFont f = base;
    f.setPixelSize(std::max(7, QFontInfo(base).pixelSize() - 3));
    f.setBold(true);
    f.setStretch(QFont::Condensed);
    return f;
}

qreal cellWidth(const QString &name, const QFont &base)
{
    return QFontMetrics(font(base)).horizontalAdvance(name) + 2 * kPadding;
}

QSyntaxHighlighter *widenCells(QTextDocument *document, const QWidget *view)
{
    return new NameCells(document, view);
}

QPixmap picture(const QString &name, QSize size, const QFont &names, const QPalette &palette,
                qreal pixelRatio)
{
    const QColor ink = palette.color(QPalette::Text);
    const QColor background = palette.color(QPalette::Base);
    QPixmap box(size * pixelRatio);
    box.setDevicePixelRatio(pixelRatio);
    // Over whatever the font drew for the character (often a hollow box).
    box.fill(background);
    QPainter p(&box);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF cell(1, 1, size.width() - 2, size.height() - 2);
    p.setPen(Qt::NoPen);
    p.setBrush(background.darker(112));
    p.drawRoundedRect(cell, 2, 2);
    p.setPen(ink);
    p.setFont(names);
    p.drawText(cell, Qt::AlignCenter, name);
    p.end();
    return box;
}

} // namespace controlnames
