#include "textbox.h"

#include "controlnames.h"
#include "steadyscrollbar.h"
#include "text/boxtext.h"
#include "text/win1252.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Appends reach the screen at most this often: 25 times a second is as fast as anyone reads
// a log, and every refresh lays out the last line and repaints the box.
constexpr std::chrono::milliseconds kRefresh{40};
// Where a log's screen line ends; never part of its text.
constexpr QChar kLineBreak = QChar::ParagraphSeparator;
// A symbol laid out in a line may come out a fraction of a pixel wider than measured alone:
// a line wrapped a little short of the edge is never wrapped a second time by the layout.
constexpr qreal kWrapSlack = 2;

QString withoutBreaks(QString shown)
{
    shown.remove(kLineBreak);
    return shown;
}

} // namespace

TextBox::TextBox(Mode mode, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_mode(mode)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    if (m_mode == Mode::Log) {
        setUndoRedoEnabled(false);
        // A log holds bytes, one symbol each: nothing in it needs shaping, nor kerning, and
        // without them a line is laid out from each symbol's own width, as it is wrapped.
        QFont symbols;
        symbols.setStyleStrategy(QFont::PreferNoShaping);
        symbols.setKerning(false);
        setFont(symbols);
        auto *bar = new SteadyScrollBar(Qt::Vertical);
        setVerticalScrollBar(bar);
        // Paging with the bar goes by the laid-out lines, as with the bar the box was born
        // with; the box's handler for it has no other name to connect by.
        connect(bar, SIGNAL(actionTriggered(int)), this,
                SLOT(_q_verticalScrollbarActionTriggered(int)));
    }
    m_viewTimer.setSingleShot(true);
    m_viewTimer.setInterval(kRefresh);
    connect(&m_viewTimer, &QTimer::timeout, this, &TextBox::flushView);
    connect(document(), &QTextDocument::contentsChange, this, &TextBox::onContentsChange);
    if (m_mode == Mode::Lines)
        controlnames::widenCells(document(), this);
}

void TextBox::widenLogCells(int from, int to)
{
    if (m_mode != Mode::Log)
        return;
    const bool updating = m_updating;
    m_updating = true;
    m_logCells.apply(document(), from, to, font());
    m_updating = updating;
}

void TextBox::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange && m_mode == Mode::Log) {
        m_advances.clear();
        rewrap();
    }
}

void TextBox::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    if (m_mode == Mode::Log && wrapWidth() != m_wrappedAt)
        rewrap();
}

qreal TextBox::advance(QChar symbol)
{
    auto it = m_advances.constFind(symbol.unicode());
    if (it == m_advances.cend()) {
        qreal width = QFontMetricsF(font()).horizontalAdvance(symbol);
        if (boxtext::isNamed(symbol))
            width += m_logCells.formatFor(symbol, font()).fontLetterSpacing();
        it = m_advances.insert(symbol.unicode(), width);
    }
    return *it;
}

qreal TextBox::wrapWidth() const
{
    return viewport()->width() - 2 * document()->documentMargin() - kWrapSlack;
}

QList<qsizetype> TextBox::lineBreaks(QStringView symbols)
{
    return boxtext::lineBreaks(symbols, wrapWidth(), [this](QChar c) { return advance(c); });
}

QString TextBox::wrapped(QStringView symbols)
{
    const QList<qsizetype> breaks = lineBreaks(symbols);
    QString out;
    out.reserve(symbols.size() + breaks.size());
    qsizetype from = 0;
    for (const qsizetype at : breaks) {
        out += symbols.mid(from, at - from);
        out += kLineBreak;
        from = at;
    }
    out += symbols.mid(from);
    return out;
}

void TextBox::countLines()
{
    m_lineStarts.clear();
    for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next())
        m_lineStarts.append(block.position() - block.blockNumber());
    m_wrappedAt = wrapWidth();
}

qsizetype TextBox::modelIndex(int position) const
{
    // The last line starting at or before the position; each line before it adds one break.
    qsizetype lo = 0;
    qsizetype hi = m_lineStarts.size();
    while (hi - lo > 1) {
        const qsizetype mid = (lo + hi) / 2;
        if (m_lineStarts[mid] + mid <= position)
            lo = mid;
        else
            hi = mid;
    }
    return std::clamp<qsizetype>(position - lo, 0, m_text.size());
}

int TextBox::viewPosition(qsizetype index) const
{
    const auto line = std::upper_bound(m_lineStarts.cbegin(), m_lineStarts.cend(), index);
    return int(index + std::max<qsizetype>(0, line - m_lineStarts.cbegin() - 1));
}

void TextBox::rewrap()
{
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int value = bar->value();
    const QTextCursor before = textCursor();
    const qsizetype anchor = modelIndex(before.anchor());
    const qsizetype position = modelIndex(before.position());
    showWhole();
    QTextCursor after(document());
    after.setPosition(viewPosition(anchor));
    after.setPosition(viewPosition(position), QTextCursor::KeepAnchor);
    setTextCursor(after);
    bar->setValue(following ? bar->maximum() : value);
}

void TextBox::showWhole()
{
    m_viewTimer.stop();
    m_pendingTail.clear();
    m_updating = true;
    const QString symbols = boxtext::render(m_text, m_mode);
    setPlainText(m_mode == Mode::Log ? wrapped(symbols) : symbols);
    widenLogCells(0, document()->characterCount());
    if (m_mode == Mode::Log)
        countLines();
    m_updating = false;
}

void TextBox::display(const QString &text)
{
    if (m_mode == Mode::Log && !text.isEmpty() && text.startsWith(m_text)) {
        // One symbol per character: the tail of the text is the tail of the view.
        m_pendingTail += QStringView(text).mid(m_text.size());
        m_text = text;
        if (!m_viewTimer.isActive())
            m_viewTimer.start();
        return;
    }
    m_text = text;
    showWhole();
}

void TextBox::flushView()
{
    m_viewTimer.stop();
    if (m_pendingTail.isEmpty())
        return;
    // A user who scrolled up to read older bytes keeps the view still; one at the bottom
    // follows the new bytes.
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    m_updating = true;
    // One edit, so the last line is laid out once for the text and its cells.
    QTextCursor end(document());
    end.beginEditBlock();
    const QTextBlock last = document()->lastBlock();
    const QString lastLine = last.text();
    const QString tail = boxtext::render(m_pendingTail, m_mode);
    const QList<qsizetype> breaks = lineBreaks(QString(lastLine + tail));
    QString insert;
    insert.reserve(tail.size() + breaks.size());
    qsizetype from = 0;
    int moved = 0;
    for (const qsizetype at : breaks) {
        if (at < lastLine.size()) {
            // A word begun on the last line and ended by this block moves down whole.
            QTextCursor split(document());
            split.setPosition(last.position() + int(at) + moved++);
            split.insertText(QString(kLineBreak));
            continue;
        }
        insert += QStringView(tail).mid(from, at - lastLine.size() - from);
        insert += kLineBreak;
        from = at - lastLine.size();
    }
    insert += QStringView(tail).mid(from);
    const int start = document()->characterCount() - 1;
    end.setPosition(start);
    end.insertText(insert, QTextCharFormat());
    widenLogCells(start, end.position());
    end.endEditBlock();
    m_pendingTail.clear();
    countLines();
    m_updating = false;
    if (following)
        bar->setValue(bar->maximum());
}

void TextBox::setText(const QString &text)
{
    if (text == m_text)
        return;
    display(text);
}

void TextBox::onContentsChange(int position, int removed, int added)
{
    if (m_updating)
        return;
    const QString view = document()->toRawText();
    QString next;
    if (m_mode == Mode::Lines) {
        next = boxtext::unrender(view);
    } else {
        // The line table still describes the document as it was before this change.
        const qsizetype from = modelIndex(position);
        const qsizetype to = std::max(from, modelIndex(position + removed));
        next = m_text;
        next.replace(from, to - from, boxtext::unrender(withoutBreaks(view.mid(position, added))));
        // The view holds one symbol per character; anything else means the two parted.
        const QString shown = withoutBreaks(view);
        if (boxtext::render(next, m_mode).size() != shown.size() + m_pendingTail.size())
            next = boxtext::unrender(shown) + m_pendingTail;
        countLines();
        // Typed text takes the format of its neighbour and may no longer fit its line: wrap
        // and format again once the document is done with this change.
        QMetaObject::invokeMethod(this, &TextBox::rewrap, Qt::QueuedConnection);
    }
    if (m_maxLength > 0 && win1252::length(next) > m_maxLength) {
        // Whatever way the text came in (undo, drag, input method), the limit holds: the
        // text keeps its last value and the screen is put back.
        putBack(textCursor().position());
        QApplication::beep();
        return;
    }
    if (m_codePageOnly) {
        const QString carried = win1252::fitToCodePage(next);
        if (carried != next) {
            m_text = carried;
            putBack(textCursor().position());
            return;
        }
    }
    m_text = next;
}

void TextBox::putBack(int cursor)
{
    // Once the document is done with the change under way.
    QMetaObject::invokeMethod(
        this,
        [this, cursor] {
            showWhole();
            QTextCursor c = textCursor();
            c.setPosition(std::min(cursor, document()->characterCount() - 1));
            setTextCursor(c);
        },
        Qt::QueuedConnection);
}

qsizetype TextBox::roomFor() const
{
    if (m_maxLength <= 0)
        return std::numeric_limits<int>::max();
    const QString selected = boxtext::unrender(withoutBreaks(textCursor().selectedText()));
    return m_maxLength - win1252::length(m_text) + win1252::length(selected);
}

void TextBox::insertModelText(const QString &text)
{
    QString insert = text;
    const qsizetype room = roomFor();
    if (win1252::length(insert) > room) {
        insert.truncate(boxtext::fittingUnits(insert, room));
        QApplication::beep();
    }
    if (!insert.isEmpty() || textCursor().hasSelection())
        insertPlainText(boxtext::render(insert, m_mode));
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    flushView();
    if (m_codePageOnly && !event->commitString().isEmpty()) {
        const QString committed = event->commitString();
        const QString kept = boxtext::encodableOnly(committed);
        if (kept != committed) {
            QApplication::beep();
            QInputMethodEvent filtered(event->preeditString(), event->attributes());
            filtered.setCommitString(kept, event->replacementStart(), event->replacementLength());
            QPlainTextEdit::inputMethodEvent(&filtered);
            return;
        }
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    flushView(); // the user edits what is on screen
    if (m_mode == Mode::Log)
        stepOverLineEnd(event);
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        if (roomFor() >= 2)
            insertModelText(QStringLiteral("\r\n"));
        else
            QApplication::beep();
        return;
    }
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && (typed.at(0).isPrint() || typed.at(0).isSurrogate());
    if (printable
        && ((m_maxLength > 0 && win1252::length(typed) > roomFor())
            || (m_codePageOnly && win1252::fitToCodePage(typed) != typed))) {
        QApplication::beep();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TextBox::stepOverLineEnd(const QKeyEvent *event)
{
    // A screen line's end and the next line's start are one place in the text: a key that
    // moves or deletes by one character passes both at once, as in one wrapped paragraph.
    QTextCursor c = textCursor();
    const bool extending = event->modifiers() & Qt::ShiftModifier;
    if (c.hasSelection() && !extending)
        return;
    const auto mode = extending ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
    const int key = event->key();
    if ((key == Qt::Key_Backspace || key == Qt::Key_Left) && c.atBlockStart() && !c.atStart())
        c.movePosition(QTextCursor::PreviousCharacter, mode);
    else if ((key == Qt::Key_Delete || key == Qt::Key_Right) && c.atBlockEnd() && !c.atEnd())
        c.movePosition(QTextCursor::NextCharacter, mode);
    else
        return;
    setTextCursor(c);
}

void TextBox::insertFromMimeData(const QMimeData *source)
{
    flushView();
    if (!source || !source->hasText())
        return;
    const QString text = boxtext::crlfLineBreaks(source->text());
    insertModelText(m_codePageOnly ? win1252::fitToCodePage(text) : text);
}

QMimeData *TextBox::createMimeDataFromSelection() const
{
    if (m_mode != Mode::Log)
        return QPlainTextEdit::createMimeDataFromSelection();
    // The characters themselves, as received: not their pictures, nor the screen's line ends.
    const QTextCursor c = textCursor();
    const qsizetype from = modelIndex(c.selectionStart());
    auto *data = new QMimeData;
    data->setText(m_text.mid(from, modelIndex(c.selectionEnd()) - from));
    return data;
}

void TextBox::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    paintControlNames(event->rect());
}

const QList<TextBox::NamedCell> &TextBox::namesOf(const QTextBlock &block, const QTextLine &line)
{
    const QString symbols = block.text().mid(line.textStart(), line.textLength());
    const int lineStart = block.position() - block.blockNumber() + line.textStart();
    // In a log, a byte without a glyph is named after the byte itself.
    const QString actual
        = m_mode == Mode::Log ? m_text.mid(lineStart, line.textLength()) : QString();
    LineNames &names
        = m_lineNames[(quint64(quint32(block.blockNumber())) << 32) | quint32(line.lineNumber())];
    if (names.symbols == symbols && names.actual == actual)
        return names.cells;
    // A log's last line grows at its end: the cells it had stay where they were.
    qsizetype from = 0;
    if (m_mode == Mode::Log && symbols.startsWith(names.symbols)
        && actual.startsWith(names.actual)) {
        from = names.symbols.size();
    } else {
        names.cells.clear();
    }
    names.symbols = symbols;
    names.actual = actual;
    for (qsizetype i = from; i < symbols.size(); ++i) {
        const qsizetype at = lineStart + i;
        const QChar byte = m_mode == Mode::Log && at < m_text.size() ? m_text[at] : QChar();
        const QString name = boxtext::nameOf(symbols[i], byte);
        if (name.isEmpty())
            continue;
        const int column = line.textStart() + int(i);
        const qreal left = line.cursorToX(column);
        const QSize size(qRound(line.cursorToX(column + 1) - left), qRound(line.height()));
        QPixmap &picture = m_pictures[{name, size}];
        if (picture.isNull()) {
            picture
                = controlnames::picture(name, size, m_namesFont, palette(), devicePixelRatioF());
        }
        names.cells.append({left, picture});
    }
    return names.cells;
}

void TextBox::paintControlNames(const QRect &area)
{
    const NamesLook look{font(), palette().cacheKey(), devicePixelRatioF(), viewport()->width()};
    if (look != m_namesLook) {
        m_namesLook = look;
        m_namesFont = controlnames::font(look.font);
        m_lineNames.clear();
        m_pictures.clear();
    }
    if (m_lineNames.size() > 4096) // lines long scrolled away, or a text replaced many times
        m_lineNames.clear();
    QPainter painter(viewport());
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF bounds = blockBoundingGeometry(block).translated(contentOffset());
        if (bounds.top() > area.bottom())
            break;
        const QTextLayout *layout = block.layout();
        for (int l = 0; l < layout->lineCount(); ++l) {
            const QTextLine line = layout->lineAt(l);
            const qreal top = bounds.top() + line.y();
            if (top + line.height() < area.top() || top > area.bottom())
                continue;
            for (const NamedCell &cell : namesOf(block, line))
                painter.drawPixmap(QPointF(bounds.left() + cell.left, top), cell.picture);
        }
    }
}
