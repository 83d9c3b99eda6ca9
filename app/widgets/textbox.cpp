#include "textbox.h"

#include "controlnames.h"
#include "text/boxtext.h"
#include "text/win1252.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

constexpr std::chrono::milliseconds kFrame{16};

} // namespace

TextBox::TextBox(Mode mode, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_mode(mode)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    if (m_mode == Mode::Log)
        setUndoRedoEnabled(false);
    m_viewTimer.setSingleShot(true);
    m_viewTimer.setInterval(kFrame);
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
    if (event->type() == QEvent::FontChange)
        widenLogCells(0, document()->characterCount());
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
    m_viewTimer.stop();
    m_pendingTail.clear();
    m_updating = true;
    setPlainText(boxtext::render(text, m_mode));
    m_text = text;
    widenLogCells(0, document()->characterCount());
    m_updating = false;
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
    // One edit, so the log's paragraph is laid out once for the text and its cells.
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    const int from = end.position();
    end.beginEditBlock();
    end.insertText(boxtext::render(m_pendingTail, m_mode), QTextCharFormat());
    widenLogCells(from, end.position());
    end.endEditBlock();
    m_pendingTail.clear();
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
        next = m_text;
        next.replace(position, removed, boxtext::unrender(QStringView(view).mid(position, added)));
        // The view holds one symbol per character; anything else means the two parted.
        if (boxtext::render(next, m_mode).size() != view.size() + m_pendingTail.size())
            next = boxtext::unrender(view) + m_pendingTail;
        // What was typed takes the format of its neighbour: give it its own, once the
        // document is done with this change.
        if (added > 0) {
            QMetaObject::invokeMethod(
                this, [this, position, added] { widenLogCells(position, position + added); },
                Qt::QueuedConnection);
        }
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
            display(m_text);
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
    const QString selected = boxtext::unrender(textCursor().selectedText());
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

void TextBox::insertFromMimeData(const QMimeData *source)
{
    flushView();
    if (!source || !source->hasText())
        return;
    const QString text = boxtext::crlfLineBreaks(source->text());
    insertModelText(m_codePageOnly ? win1252::fitToCodePage(text) : text);
}

void TextBox::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    paintControlNames(event->rect());
}

const QList<TextBox::NamedCell> &TextBox::namesOf(const QTextBlock &block, const QTextLine &line)
{
    const QString symbols = block.text().mid(line.textStart(), line.textLength());
    QString key = symbols;
    if (m_mode == Mode::Log) // a byte without a glyph is named after the byte itself
        key += u'\0' + m_text.mid(block.position() + line.textStart(), line.textLength());
    LineNames &names
        = m_lineNames[(quint64(quint32(block.blockNumber())) << 32) | quint32(line.lineNumber())];
    if (names.text == key)
        return names.cells;
    names.text = key;
    names.cells.clear();
    const QFont namesFont = controlnames::font(font());
    for (qsizetype i = 0; i < symbols.size(); ++i) {
        const qsizetype at = block.position() + line.textStart() + i;
        const QChar actual = m_mode == Mode::Log && at < m_text.size() ? m_text[at] : QChar();
        const QString name = boxtext::nameOf(symbols[i], actual);
        if (name.isEmpty())
            continue;
        const int column = line.textStart() + int(i);
        const qreal left = line.cursorToX(column);
        const QSize size(qRound(line.cursorToX(column + 1) - left), qRound(line.height()));
        names.cells.append(
            {left, controlnames::picture(name, size, namesFont, palette(), devicePixelRatioF())});
    }
    return names.cells;
}

void TextBox::paintControlNames(const QRect &area)
{
    const QString look = font().key() + u'|' + QString::number(palette().cacheKey()) + u'|'
                         + QString::number(devicePixelRatioF()) + u'|'
                         + QString::number(viewport()->width());
    if (look != m_namesLook) {
        m_namesLook = look;
        m_lineNames.clear();
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
