#include "textbox.h"

#include "serial/win1252.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr std::chrono::milliseconds kFrame{16};

QString crlfLineBreaks(const QString &text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(u'\r', u'\n');
    out.replace(QChar::ParagraphSeparator, u'\n');
    out.replace(QChar::LineSeparator, u'\n');
    out.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return out;
}

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
}

QString TextBox::render(QStringView text, Mode mode)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (mode == Mode::Lines && c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            out += QChar::ParagraphSeparator;
            ++i;
        } else if (mode == Mode::Log && c >= 0x80 && c < 0xA0) {
            // The five bytes Windows-1252 leaves undefined: no glyph of their own.
            out += QChar(kReplacement);
        } else {
            out += win1252::controlPicture(text[i]);
        }
    }
    return out;
}

QString TextBox::unrender(QStringView shown)
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
    setPlainText(render(text, m_mode));
    m_text = text;
    m_updating = false;
}

void TextBox::flushView()
{
    m_viewTimer.stop();
    if (m_pendingTail.isEmpty())
        return;
    m_updating = true;
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(render(m_pendingTail, m_mode));
    m_pendingTail.clear();
    m_updating = false;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
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
    const QString shown = document()->toRawText();
    QString next;
    if (m_mode == Mode::Lines) {
        next = unrender(shown);
    } else {
        next = m_text;
        next.replace(position, removed, unrender(QStringView(shown).mid(position, added)));
        // The view holds one symbol per character; anything else means the two parted.
        if (render(next, m_mode).size() != shown.size() + m_pendingTail.size())
            next = unrender(shown) + m_pendingTail;
    }
    if (m_maxLength > 0 && win1252::length(next) > m_maxLength) {
        // Whatever way the text came in (undo, drag, input method), the limit holds: the
        // text keeps its last value and the screen is put back once the document is done
        // with this change.
        const int cursor = textCursor().position();
        QMetaObject::invokeMethod(
            this,
            [this, cursor] {
                display(m_text);
                QTextCursor c = textCursor();
                c.setPosition(std::min(cursor, document()->characterCount() - 1));
                setTextCursor(c);
            },
            Qt::QueuedConnection);
        QApplication::beep();
        return;
    }
    m_text = next;
}

qsizetype TextBox::roomFor() const
{
    if (m_maxLength <= 0)
        return std::numeric_limits<int>::max();
    const QString selected = unrender(textCursor().selectedText());
    return m_maxLength - win1252::length(m_text) + win1252::length(selected);
}

void TextBox::insertModelText(const QString &text)
{
    QString insert = text;
    const qsizetype room = roomFor();
    if (win1252::length(insert) > room) {
        // Keep what fits, never half a CR LF nor half a surrogate pair.
        qsizetype units = 0;
        qsizetype chars = 0;
        while (units < insert.size()) {
            const bool pair = units + 1 < insert.size();
            const bool crlf = pair && insert[units] == u'\r' && insert[units + 1] == u'\n';
            const bool surrogates = pair && insert[units].isHighSurrogate();
            const qsizetype step = crlf || surrogates ? 2 : 1;
            const qsizetype cost = crlf ? 2 : 1;
            if (chars + cost > room)
                break;
            chars += cost;
            units += step;
        }
        insert.truncate(units);
        QApplication::beep();
    }
    if (!insert.isEmpty() || textCursor().hasSelection())
        insertPlainText(render(insert, m_mode));
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    flushView();
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
    if (!typed.isEmpty() && typed.at(0).isPrint() && m_maxLength > 0
        && win1252::length(typed) > roomFor()) {
        QApplication::beep();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TextBox::insertFromMimeData(const QMimeData *source)
{
    flushView();
    if (source && source->hasText())
        insertModelText(crlfLineBreaks(source->text()));
}
