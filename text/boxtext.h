#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>

// What a text box shows for a text, and back: the box's document holds one symbol per
// character, so that what the user copies and what the program reads stay exact.
namespace boxtext {

// Lines: CR LF is a line break; Enter inserts CR LF (the display text).
// Log:   every character is one symbol on one wrapping line, CR LF included.
enum class Layout { Lines, Log };

// A byte Windows-1252 leaves undefined (81, 8D, 8F, 90, 9D) has no glyph of its own: a log
// shows this in its place, and the name of the byte over it.
inline constexpr QChar kNoGlyph = QChar(char16_t(0xFFFD));

// Control characters (C0, DEL) become control pictures; in a log, so do the bytes 80-9F
// that have no glyph. Every other character stands for itself.
QString render(QStringView text, Layout layout);
// What a log shows for one character: render() of a log, a character at a time.
QChar logSymbol(QChar c);
// The text a shown document stands for: pictures back to controls, line breaks to CR LF.
QString unrender(QStringView shown);

// Every line break (CR, LF, CR LF, the Unicode separators) as CR LF, as the display takes it.
QString crlfLineBreaks(QStringView text);

// Whether the box draws a name over this symbol.
bool isNamed(QChar symbol);
// The name drawn over a symbol ("ACK", "CR", "81"): `actual` is the character the symbol
// stands for, which a log needs for kNoGlyph. Empty for a symbol drawn as itself, and for
// kNoGlyph standing for anything but a byte without a glyph.
QString nameOf(QChar symbol, QChar actual);

// Where the lines after the first begin when `symbols` wrap at `width`, as a text box wraps
// them: a word that does not fit moves to the next line whole, a word longer than a line is
// cut where it overflows, and blanks never overflow nor start a line (they hang at its end).
// `advance` is each symbol's width.
QList<qsizetype> lineBreaks(QStringView symbols, qreal width,
                            const std::function<qreal(QChar)> &advance);

// How much of `text` (in UTF-16 units) fits in `room` characters as the line counts them,
// never half a CR LF nor half a surrogate pair.
qsizetype fittingUnits(QStringView text, qsizetype room);

// The characters of `text` the code page can carry, the others left out (typed text: a key
// the line cannot carry does nothing; pasted text uses win1252::fitToCodePage instead).
QString encodableOnly(QStringView text);

} // namespace boxtext
