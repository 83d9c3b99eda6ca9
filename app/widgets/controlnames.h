#pragma once

#include <QFont>
#include <QPixmap>
#include <QSize>
#include <QString>

class QPalette;
class QSyntaxHighlighter;
class QTextDocument;
class QWidget;

// The names the text boxes and the logs draw for control characters, in small boxes ("ACK",
// "CR"), as editors do: few fonts have the control pictures, and none legibly at this size.
// The text keeps its characters; only their cells and what is drawn in them change.
namespace controlnames {

// The font of the names, for a box in `base`.
QFont font(const QFont &base);
// The width a symbol's cell needs for its name.
qreal cellWidth(const QString &name, const QFont &base);
// Widens the cell of every named symbol of `document` to its name, in `view`'s font, as the
// text changes (for boxes whose text is seldom changed: each change formats its paragraph
// again). Rehighlighting the returned highlighter widens them anew, for a new font.
QSyntaxHighlighter *widenCells(QTextDocument *document, const QWidget *view);

// A name in its box, `size` large, in the names' `font`. Drawn anew at each call: the boxes
// keep what they drew for as long as their look stays the same.
QPixmap picture(const QString &name, QSize size, const QFont &font, const QPalette &palette,
                qreal pixelRatio);

} // namespace controlnames
