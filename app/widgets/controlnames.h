#pragma once

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QTextCharFormat>

class QPalette;
class QTextDocument;
class QWidget;

// The names a text box draws over control characters, in small boxes ("ACK", "CR"), as
// editors do: few fonts have the control pictures the document holds, and none legibly at
// this size. The document keeps its symbols; only their cells and what is drawn over them
// change.
namespace controlnames {

// The font of the names, for a box in `base`.
QFont font(const QFont &base);
// The width a symbol's cell needs for its name.
qreal cellWidth(const QString &name, const QFont &base);
// Widens the cell of every named symbol of `document` to its name, in `view`'s font, as the
// text changes (for boxes whose text is seldom changed: each change formats its paragraph
// again).
void widenCells(QTextDocument *document, const QWidget *view);

// The same widths as formats of the document itself, set on `from` to `to` in one edit:
// for a log, whose one paragraph grows with every append and is laid out once per edit.
// Characters between the names get the plain format, whatever a typed one inherited.
class CellFormats
{
public:
    void apply(QTextDocument *document, int from, int to, const QFont &base);
    // A named symbol's format in `base`: worked out once per symbol and font.
    const QTextCharFormat &formatFor(QChar symbol, const QFont &base);

private:
    QFont m_font;
    QHash<char16_t, QTextCharFormat> m_formats;
};
// A name in its box, `size` large, in the names' `font`. Drawn anew at each call: the text box
// keeps what it drew for as long as its look stays the same.
QPixmap picture(const QString &name, QSize size, const QFont &font, const QPalette &palette,
                qreal pixelRatio);

} // namespace controlnames
