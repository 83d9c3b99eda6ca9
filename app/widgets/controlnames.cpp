#include "controlnames.h"

#include "text/boxtext.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <QWidget>

#include <algorithm>

namespace controlnames {
namespace {

constexpr int kPadding = 3;

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
        if (m_font != m_view->font()) {
            m_font = m_view->font();
            m_formats.clear();
        }
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (boxtext::isNamed(text[i]))
                setFormat(int(i), 1, formatFor(text[i]));
        }
    }

private:
    // Logs run through here with every append: the widths are worked out once per symbol.
    const QTextCharFormat &formatFor(QChar c)
    {
        auto it = m_formats.find(c.unicode());
        if (it != m_formats.end())
            return *it;
        // Every byte without a glyph gets a two-digit name: 80 stands for all of them.
        const QString name = boxtext::nameOf(c, QChar(char16_t(0x80)));
        QTextCharFormat wide;
        wide.setFontLetterSpacingType(QFont::AbsoluteSpacing);
        wide.setFontLetterSpacing(cellWidth(name, m_font)
                                  - QFontMetrics(m_font).horizontalAdvance(c));
        return *m_formats.insert(c.unicode(), wide);
    }

    const QWidget *m_view;
    QFont m_font;
    QHash<char16_t, QTextCharFormat> m_formats;
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

void widenCells(QTextDocument *document, const QWidget *view)
{
    new NameCells(document, view);
}

QPixmap picture(const QString &name, QSize size, const QFont &names, const QPalette &palette,
                qreal pixelRatio)
{
    const QColor ink = palette.color(QPalette::Text);
    const QColor background = palette.color(QPalette::Base);
    // Everything the drawing depends on is in the key, each part whole (one arg() call, so
    // no part is read as a placeholder).
    const QString key
        = QStringLiteral("textbox-name:%1:%2x%3@%4:%5:%6:%7")
              .arg(name, QString::number(size.width()), QString::number(size.height()),
                   QString::number(pixelRatio), QString::number(ink.rgba()),
                   QString::number(background.rgba()), names.key());
    QPixmap box;
    if (QPixmapCache::find(key, &box))
        return box;
    box = QPixmap(size * pixelRatio);
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
    QPixmapCache::insert(key, box);
    return box;
}

} // namespace controlnames
