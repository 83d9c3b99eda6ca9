#include "textbox.h"

#include "controlnames.h"
#include "text/boxtext.h"
#include "text/win1252.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

TextBox::TextBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    connect(document(), &QTextDocument::contentsChange, this, &TextBox::onContentsChange);
    m_cells = controlnames::widenCells(document(), this);
}

void TextBox::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    // The names' cells are as wide as the names in the box's font.
    if (event->type() == QEvent::FontChange)
        m_cells->rehighlight();
}

void TextBox::showWhole()
{
    m_updating = true;
    setPlainText(boxtext::render(m_text, boxtext::Layout::Lines));
    m_updating = false;
}

void TextBox::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    showWhole();
}

void TextBox::onContentsChange()
{
    if (m_updating)
        return;
    const QString next = boxtext::unrender(document()->toRawText());
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
        insertPlainText(boxtext::render(insert, boxtext::Layout::Lines));
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
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
    LineNames &names
        = m_lineNames[(quint64(quint32(block.blockNumber())) << 32) | quint32(line.lineNumber())];
    if (names.symbols == symbols)
        return names.cells;
    names.cells.clear();
    names.symbols = symbols;
    for (qsizetype i = 0; i < symbols.size(); ++i) {
        const QString name = boxtext::nameOf(symbols[i], QChar());
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
    if (m_lineNames.size() > 4096) // a text replaced many times
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
