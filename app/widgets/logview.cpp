#include "logview.h"

#include "controlnames.h"
#include "framepacer.h"
#include "steadyscrollbar.h"
#include "text/boxtext.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// As a text box lays out its document: this far from the viewport's edges.
constexpr int kMargin = 4;
// Where a line is wrapped, this much short of the margin: a line's glyphs laid out together
// may come out a fraction of a pixel wider than measured one by one.
constexpr qreal kWrapSlack = 2;
// While the mouse selects past the top or bottom, the view scrolls a line this often.
constexpr int kAutoScrollMs = 50;

bool isNamed(QChar c)
{
    return boxtext::isNamed(boxtext::logSymbol(c));
}

// The name drawn over a character's cell ("ACK", "81"); empty for one drawn as itself.
QString nameOf(QChar c)
{
    return boxtext::nameOf(boxtext::logSymbol(c), c);
}

bool isWordCharacter(QChar c)
{
    return !c.isSpace() && !isNamed(c);
}

// Qt's own words for a text box's menu, so that the window's translation of them applies.
QString qtText(const char *text)
{
    return QCoreApplication::translate("QWidgetTextControl", text);
}

QString withShortcut(const QString &text, QKeySequence::StandardKey key)
{
    if (QCoreApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus)
        || !QGuiApplication::styleHints()->showShortcutsInContextMenus())
        return text;
    const QKeySequence shortcut(key);
    return shortcut.isEmpty() ? text : text + u'\t' + shortcut.toString(QKeySequence::NativeText);
}

// What a screen reader is given: the log as it is shown, a symbol for every character.
class LogViewAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface
{
public:
    explicit LogViewAccessible(LogView *view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return boxtext::render(view()->text(), boxtext::Layout::Log);
        return QAccessibleWidget::text(type);
    }

    // The text interface, in characters of the log.
    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && view()->hasSelection()) {
            *start = int(std::min(view()->cursorPosition(), view()->anchorPosition()));
            *end = int(std::max(view()->cursorPosition(), view()->anchorPosition()));
        }
    }
    int selectionCount() const override { return view()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { view()->setSelection(start, end); }
    void removeSelection(int) override
    {
        view()->setSelection(view()->cursorPosition(), view()->cursorPosition());
    }
    void setSelection(int, int start, int end) override { view()->setSelection(start, end); }
    int cursorPosition() const override { return int(view()->cursorPosition()); }
    void setCursorPosition(int position) override { view()->setSelection(position, position); }
    QString text(int start, int end) const override
    {
        return boxtext::render(QStringView(view()->text()).mid(start, end - start),
                               boxtext::Layout::Log);
    }
    int characterCount() const override { return int(view()->text().size()); }
    QRect characterRect(int offset) const override
    {
        const QRect r = view()->characterRect(offset);
        return QRect(view()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return int(view()->indexAt(view()->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int start, int) override { view()->setSelection(start, start); }
    QString attributes(int, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        return QString();
    }

    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString &text) override
    {
        view()->setSelection(start, end);
        view()->insertPlainText(boxtext::unrender(text));
    }

private:
    LogView *view() const { return static_cast<LogView *>(widget()); }
};

QAccessibleInterface *accessibleLogView(const QString &key, QObject *object)
{
    if (key == QLatin1String(LogView::staticMetaObject.className()))
        return new LogViewAccessible(static_cast<LogView *>(object));
    return nullptr;
}

} // namespace

LogView::LogView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleLogView);
        return true;
    }();
    Q_UNUSED(accessible);
    // A log holds bytes, one symbol each: nothing in it needs shaping, nor kerning.
    QFont symbols;
    symbols.setStyleStrategy(QFont::PreferNoShaping);
    symbols.setKerning(false);
    setFont(symbols);
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical));
    verticalScrollBar()->setSingleStep(1);
    // A log always shows where it is; its lines are wrapped, never scrolled sideways.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setCursor(Qt::IBeamCursor);
    measureFont();
}

LogView::~LogView() = default;

// ---- The text ----

void LogView::setText(const QString &text)
{
    if (text.size() > m_text.size() && text.startsWith(m_text)) {
        append(QStringView(text).mid(m_text.size()));
        return;
    }
    if (text == m_text)
        return;
    const QString before = m_text;
    m_text = text;
    m_cursor = m_anchor = 0;
    m_atLineEnd = false;
    changedFrom(0);
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent e(this, 0, boxtext::render(before, boxtext::Layout::Log),
                                     boxtext::render(m_text, boxtext::Layout::Log));
        QAccessible::updateAccessibility(&e);
    }
}

void LogView::append(QStringView more)
{
    if (more.isEmpty())
        return;
    const qsizetype at = m_text.size();
    m_text += more;
    // A caret at the end stays there, as in a text box the bytes are appended at.
    if (m_cursor == at)
        m_cursor = m_text.size();
    if (m_anchor == at)
        m_anchor = m_text.size();
    changedFrom(at, true);
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent e(this, int(at), boxtext::render(more, boxtext::Layout::Log));
        QAccessible::updateAccessibility(&e);
    }
}

void LogView::changedFrom(qsizetype from, bool grown)
{
    m_dirtyFrom = m_dirtyFrom < 0 ? from : std::min(m_dirtyFrom, from);
    // Lines drawn from text that has changed are drawn anew; one that ends where the text
    // grew stays, and grows with it.
    if (from == 0)
        m_drawn.clear();
    for (auto it = m_drawn.begin(); !grown && it != m_drawn.end();) {
        if (it->second.end > from)
            it = m_drawn.erase(it);
        else
            ++it;
    }
    askRefresh();
}

void LogView::askRefresh()
{
    FramePacer::instance().ask(this, [this] { showChanges(); });
}

void LogView::flushView()
{
    showChanges();
}

void LogView::showChanges()
{
    QScrollBar *bar = verticalScrollBar();
    // A user who scrolled up to read older bytes keeps the view still; one at the bottom
    // follows the new bytes.
    const bool following = bar->value() >= bar->maximum();
    wrap(true);
    adjustScrollBar();
    if (following)
        bar->setValue(bar->maximum());
    if (m_repaintFrom < 0)
        return;
    // The lines from the first that changed to the last there was or is.
    const int top = lineTop(m_repaintFrom);
    const int bottom = lineTop(m_repaintTo);
    m_repaintFrom = m_repaintTo = -1;
    const QRect area
        = QRect(0, top, viewport()->width(), bottom - top).intersected(viewport()->rect());
    if (!area.isEmpty())
        viewport()->update(area);
}

// ---- Lines ----

qreal LogView::wrapWidth() const
{
    return viewport()->width() - 2 * kMargin - kWrapSlack;
}

qreal LogView::advance(QChar c)
{
    auto it = m_advances.constFind(c.unicode());
    if (it != m_advances.cend())
        return *it;
    qreal width = 0;
    if (isNamed(c)) {
        // Every byte without a glyph gets a cell as wide as the name of 80 hex.
        width = controlnames::cellWidth(
            boxtext::nameOf(boxtext::logSymbol(c), QChar(char16_t(0x80))), font());
    } else if (c.isHighSurrogate()) {
        const QChar pair[] = {c, QChar(char16_t(0xDC00))};
        width = QFontMetricsF(font()).horizontalAdvance(QString(pair, 2));
    } else if (!c.isLowSurrogate()) {
        width = QFontMetricsF(font()).horizontalAdvance(c);
    }
    return *m_advances.insert(c.unicode(), width);
}

void LogView::wrap(bool keepTopLine)
{
    const qreal width = wrapWidth();
    if (width != m_wrappedAt) {
        // A new width: every line anew, the one at the top still at the top.
        const qsizetype top = m_starts.value(verticalScrollBar()->value());
        m_wrappedAt = width;
        m_drawn.clear();
        m_dirtyFrom = 0;
        wrap(false);
        m_repaintFrom = 0;
        m_repaintTo = std::max<int>(m_repaintTo, int(m_starts.size()) + visibleLines());
        if (keepTopLine) {
            adjustScrollBar();
            verticalScrollBar()->setValue(lineOf(top));
        }
        return;
    }
    if (m_dirtyFrom < 0)
        return;
    // A word begun on the line before the change may now fit there, or not: wrap from it.
    const int first = std::max(0, lineOf(m_dirtyFrom) - 1);
    const qsizetype begin = std::min(m_starts[first], m_text.size());
    const int before = int(m_starts.size());
    m_dirtyFrom = -1;
    const QList<qsizetype> breaks = boxtext::lineBreaks(QStringView(m_text).mid(begin), width,
                                                        [this](QChar c) { return advance(c); });
    m_starts.resize(first + 1);
    for (const qsizetype at : breaks) {
        // A surrogate pair stays on one line.
        const qsizetype start = m_text[begin + at].isLowSurrogate() ? begin + at - 1 : begin + at;
        if (start > m_starts.back())
            m_starts.append(start);
    }
    // What the next refresh repaints: from the first line wrapped anew to the last there was.
    m_repaintFrom = m_repaintFrom < 0 ? first : std::min(m_repaintFrom, first);
    m_repaintTo = std::max({m_repaintTo, before, int(m_starts.size())});
}

QList<qsizetype> LogView::lineStarts()
{
    wrap(false);
    return m_starts;
}

int LogView::lineOf(qsizetype index, bool atLineEnd) const
{
    const auto after = std::upper_bound(m_starts.cbegin(), m_starts.cend(), index);
    int line = int(after - m_starts.cbegin()) - 1;
    if (atLineEnd && line > 0 && m_starts[line] == index)
        --line;
    return std::max(0, line);
}

qsizetype LogView::lineEnd(int line) const
{
    return line + 1 < m_starts.size() ? m_starts[line + 1] : m_text.size();
}

int LogView::lineTop(int line) const
{
    const int first = verticalScrollBar()->value();
    return (first == 0 ? kMargin : 0) + (line - first) * m_lineHeight;
}

int LogView::visibleLines() const
{
    return std::max(1, (viewport()->height() - 2 * kMargin - 1) / std::max(1, m_lineHeight));
}

void LogView::adjustScrollBar()
{
    // As a plain text box scrolls: by lines, the last line whole at the bottom.
    const int lines = int(m_starts.size());
    const int fit = visibleLines();
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, lines - fit));
    bar->setPageStep(std::min(fit, lines));
}

const LogView::DrawnLine &LogView::drawn(int line)
{
    const qsizetype start = m_starts[line];
    const qsizetype end = lineEnd(line);
    if (const auto it = m_drawn.find(line); it != m_drawn.end() && it->second.start == start) {
        DrawnLine &d = it->second;
        if (d.end == end)
            return d;
        if (d.end < end) {
            // The line grew at its end: only what came is laid out.
            const qreal x = d.edges.takeLast();
            layOut(d, d.end, end, x);
            return d;
        }
    }
    if (m_drawn.size() > 512) // lines long scrolled away
        m_drawn.clear();
    DrawnLine &d = m_drawn[line];
    d = DrawnLine{start, start, {}, {}, {}};
    layOut(d, start, end, kMargin);
    return d;
}

void LogView::layOut(DrawnLine &d, qsizetype from, qsizetype end, qreal x)
{
    // Nothing is shaped: what grows stands where one layout of the whole line would put it.
    d.end = end;
    for (qsizetype i = from; i < end;) {
        if (isNamed(m_text[i])) {
            const qreal width = advance(m_text[i]);
            d.names.append({x, width, nameOf(m_text[i])});
            d.edges.append(x);
            x += width;
            ++i;
            continue;
        }
        // A run of characters drawn as themselves, laid out once, its baseline the line's.
        qsizetype j = i;
        while (j < end && !isNamed(m_text[j]))
            ++j;
        QTextLayout layout(m_text.mid(i, j - i), font(), viewport());
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine run = layout.createLine();
        layout.endLayout();
        for (qsizetype k = i; k < j; ++k)
            d.edges.append(x + run.cursorToX(int(k - i)));
        const QPointF shift(x, m_ascent - run.ascent());
        for (QGlyphRun glyphs : layout.glyphRuns()) {
            QList<QPointF> positions = glyphs.positions();
            for (QPointF &p : positions)
                p += shift;
            glyphs.setPositions(positions);
            d.glyphs.append(glyphs);
        }
        x += run.cursorToX(int(j - i));
        i = j;
    }
    d.edges.append(x);
}

// ---- Painting ----

void LogView::checkLook()
{
    const Look look{font(), palette().cacheKey(), devicePixelRatioF()};
    if (look == m_look)
        return;
    m_look = look;
    m_namesFont = controlnames::font(font());
    m_pictures.clear();
}

QPixmap LogView::namePicture(const QString &name, QSize size, bool selected)
{
    // A name's cell has one size for as long as the look stays: its colours tell the pictures
    // of one name apart.
    const auto group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    const int colouring = selected ? 1 + int(group) : 0;
    auto it = m_pictures.find({name, colouring});
    if (it == m_pictures.end()) {
        QPalette colours = palette();
        if (selected) {
            colours.setColor(QPalette::Text, palette().color(group, QPalette::HighlightedText));
            colours.setColor(QPalette::Base, palette().color(group, QPalette::Highlight));
        }
        it = m_pictures.insert(
            {name, colouring},
            controlnames::picture(name, size, m_namesFont, colours, devicePixelRatioF()));
    }
    return *it;
}

void LogView::paintEvent(QPaintEvent *event)
{
    wrap(true);
    checkLook();
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int lines = int(m_starts.size());
    for (int line = verticalScrollBar()->value(); line < lines; ++line) {
        const int top = lineTop(line);
        if (top > area.bottom())
            break;
        if (top + m_lineHeight > area.top())
            drawLine(painter, line, top);
    }
    if (hasFocus() && m_caretShown) {
        const QRect caret = characterRect(m_cursor);
        painter.fillRect(QRect(caret.left(), caret.top(),
                               style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this),
                               caret.height()),
                         palette().color(QPalette::Text));
    }
}

void LogView::drawLine(QPainter &painter, int line, int top)
{
    const DrawnLine &d = drawn(line);
    const auto group = !isEnabled() ? QPalette::Disabled
                       : hasFocus() ? QPalette::Active
                                    : QPalette::Inactive;
    const qsizetype selectionFrom = std::min(m_cursor, m_anchor);
    const qsizetype selectionTo = std::max(m_cursor, m_anchor);
    const qsizetype from = std::clamp(selectionFrom, d.start, d.end);
    const qsizetype to = std::clamp(selectionTo, d.start, d.end);
    QRectF selected;
    if (from < to || (selectionTo > d.end && selectionFrom <= d.end && d.end > d.start)) {
        // A selection that goes on to the next line covers this one to its end.
        const qreal right
            = selectionTo > d.end ? viewport()->width() - kMargin : d.edges[to - d.start];
        selected
            = QRectF(d.edges[from - d.start], top, right - d.edges[from - d.start], m_lineHeight);
        painter.fillRect(selected, palette().brush(group, QPalette::Highlight));
    }
    const QPointF origin(0, top);
    painter.setPen(palette().color(QPalette::Text));
    for (const QGlyphRun &glyphs : d.glyphs)
        painter.drawGlyphRun(origin, glyphs);
    if (!selected.isEmpty()) {
        painter.save();
        painter.setClipRect(selected, Qt::IntersectClip);
        painter.setPen(palette().color(group, QPalette::HighlightedText));
        for (const QGlyphRun &glyphs : d.glyphs)
            painter.drawGlyphRun(origin, glyphs);
        painter.restore();
    }
    for (const NamedCell &cell : d.names) {
        const QSize size(qRound(cell.width), m_lineHeight);
        const bool inside = cell.left >= selected.left() && cell.left < selected.right();
        painter.drawPixmap(QPointF(cell.left, top), namePicture(cell.name, size, inside));
    }
}

QRect LogView::characterRect(qsizetype index)
{
    wrap(true);
    index = std::clamp<qsizetype>(index, 0, m_text.size());
    const int line = lineOf(index, index == m_cursor && m_atLineEnd);
    const DrawnLine &d = drawn(line);
    const qsizetype at = std::min(index, d.end) - d.start;
    const qreal left = d.edges[at];
    const qreal right = at + 1 < d.edges.size() ? d.edges[at + 1] : left + 1;
    return QRect(qFloor(left), lineTop(line), std::max(1, qRound(right - left)), m_lineHeight);
}

qsizetype LogView::indexAt(QPoint point)
{
    wrap(true);
    const int first = verticalScrollBar()->value();
    const int top = first == 0 ? kMargin : 0;
    const int line = std::clamp(first + (point.y() - top) / std::max(1, m_lineHeight)
                                    - (point.y() < top ? 1 : 0),
                                0, int(m_starts.size()) - 1);
    const DrawnLine &d = drawn(line);
    qsizetype best = d.start;
    for (qsizetype i = d.start; i <= d.end; ++i) {
        if (i < m_text.size() && m_text[i].isLowSurrogate())
            continue;
        if (std::abs(d.edges[i - d.start] - point.x())
            < std::abs(d.edges[best - d.start] - point.x()))
            best = i;
    }
    return best;
}

void LogView::scrollContentsBy(int, int dy)
{
    // The lines that stay on screen move as pixels; only those that come into view are drawn.
    const int value = verticalScrollBar()->value();
    const int was = value + dy;
    const int shift
        = ((value == 0 ? kMargin : 0) - (was == 0 ? kMargin : 0)) - (value - was) * m_lineHeight;
    if (std::abs(shift) < viewport()->height())
        viewport()->scroll(0, shift);
    else
        viewport()->update();
}

void LogView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum() && bar->maximum() > 0;
    wrap(true);
    adjustScrollBar();
    if (following)
        bar->setValue(bar->maximum());
}

void LogView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() != QEvent::FontChange)
        return;
    measureFont();
    wrap(true);
    adjustScrollBar();
    viewport()->update();
}

void LogView::measureFont()
{
    const QFontMetricsF metrics(font());
    // As tall as a line of a text box: the font's height with its leading, in whole pixels.
    m_ascent = metrics.ascent();
    m_lineHeight = qCeil(metrics.ascent() + metrics.descent() + std::max(0.0, metrics.leading()))
                   + (metrics.leading() < 0 ? qCeil(metrics.leading()) : 0);
    m_advances.clear();
    m_drawn.clear();
    m_wrappedAt = -1;
}

// ---- Editing ----

void LogView::setSelection(qsizetype anchor, qsizetype cursor)
{
    const qsizetype oldAnchor = m_anchor;
    const qsizetype oldCursor = m_cursor;
    m_anchor = std::clamp<qsizetype>(anchor, 0, m_text.size());
    m_cursor = std::clamp<qsizetype>(cursor, 0, m_text.size());
    m_atLineEnd = false;
    repaintSelection(oldAnchor, oldCursor, m_anchor, m_cursor);
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent e(this, int(m_cursor));
        QAccessible::updateAccessibility(&e);
    }
}

QString LogView::selectedText() const
{
    const qsizetype from = std::min(m_cursor, m_anchor);
    return m_text.mid(from, std::max(m_cursor, m_anchor) - from);
}

void LogView::selectAll()
{
    setSelection(0, m_text.size());
    publishSelection();
}

QMimeData *LogView::createMimeDataFromSelection() const
{
    // The characters themselves, as received: not their pictures, nor the screen's line ends.
    auto *data = new QMimeData;
    data->setText(selectedText());
    return data;
}

void LogView::insertFromMimeData(const QMimeData *source)
{
    if (source && source->hasText())
        replaceSelection(boxtext::crlfLineBreaks(source->text()));
}

void LogView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setMimeData(createMimeDataFromSelection());
}

void LogView::cut()
{
    if (!hasSelection())
        return;
    copy();
    replaceSelection(QString());
}

void LogView::paste()
{
    insertFromMimeData(QGuiApplication::clipboard()->mimeData());
}

void LogView::insertPlainText(const QString &text)
{
    replaceSelection(text);
}

void LogView::publishSelection() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setMimeData(createMimeDataFromSelection(), QClipboard::Selection);
}

void LogView::replaceSelection(const QString &with)
{
    const qsizetype from = std::min(m_cursor, m_anchor);
    const qsizetype to = std::max(m_cursor, m_anchor);
    if (from == to && with.isEmpty())
        return;
    const QString removed = m_text.mid(from, to - from);
    m_text.replace(from, to - from, with);
    m_cursor = m_anchor = from + with.size();
    m_atLineEnd = false;
    m_wantedX = -1;
    changedFrom(from);
    // What the user does is shown at once, and where the caret is.
    showChanges();
    ensureCursorVisible();
    restartBlinking();
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent e(this, int(from),
                                     boxtext::render(removed, boxtext::Layout::Log),
                                     boxtext::render(with, boxtext::Layout::Log));
        QAccessible::updateAccessibility(&e);
    }
}

void LogView::moveCursor(qsizetype to, bool keepAnchor, bool atLineEnd)
{
    const qsizetype oldAnchor = m_anchor;
    const qsizetype oldCursor = m_cursor;
    m_cursor = std::clamp<qsizetype>(to, 0, m_text.size());
    if (!keepAnchor)
        m_anchor = m_cursor;
    m_atLineEnd = atLineEnd && m_cursor == m_anchor;
    repaintSelection(oldAnchor, oldCursor, m_anchor, m_cursor);
    ensureCursorVisible();
    restartBlinking();
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent e(this, int(m_cursor));
        QAccessible::updateAccessibility(&e);
    }
}

void LogView::repaintRange(qsizetype from, qsizetype to)
{
    wrap(true);
    const int first = lineOf(from, true);
    const int last = lineOf(to);
    const QRect lines(0, lineTop(first), viewport()->width(), (last - first + 1) * m_lineHeight);
    viewport()->update(lines.intersected(viewport()->rect()));
}

void LogView::repaintSelection(qsizetype anchorA, qsizetype cursorA, qsizetype anchorB,
                               qsizetype cursorB)
{
    // What changes look: the caret's old and new place, and the text between the selections'
    // ends that moved.
    repaintRange(std::min(cursorA, cursorB), std::max(cursorA, cursorB));
    if (anchorA != anchorB || anchorA != cursorA || anchorB != cursorB)
        repaintRange(std::min({anchorA, anchorB, cursorA, cursorB}),
                     std::max({anchorA, anchorB, cursorA, cursorB}));
}

void LogView::ensureCursorVisible()
{
    wrap(true);
    adjustScrollBar();
    QScrollBar *bar = verticalScrollBar();
    const int line = lineOf(m_cursor, m_atLineEnd);
    if (line < bar->value())
        bar->setValue(line);
    else if (line >= bar->value() + visibleLines())
        bar->setValue(line - visibleLines() + 1);
}

qsizetype LogView::previousPosition(qsizetype from) const
{
    if (from <= 0)
        return 0;
    --from;
    if (from > 0 && m_text[from].isLowSurrogate() && m_text[from - 1].isHighSurrogate())
        --from;
    return from;
}

qsizetype LogView::nextPosition(qsizetype from) const
{
    if (from >= m_text.size())
        return m_text.size();
    ++from;
    if (from < m_text.size() && m_text[from].isLowSurrogate() && m_text[from - 1].isHighSurrogate())
        ++from;
    return from;
}

qsizetype LogView::wordStart(qsizetype from) const
{
    while (from > 0 && !isWordCharacter(m_text[from - 1]))
        --from;
    while (from > 0 && isWordCharacter(m_text[from - 1]))
        --from;
    return from;
}

qsizetype LogView::wordEnd(qsizetype from) const
{
    while (from < m_text.size() && isWordCharacter(m_text[from]))
        ++from;
    while (from < m_text.size() && !isWordCharacter(m_text[from]))
        ++from;
    return from;
}

bool LogView::navigate(QKeyEvent *event)
{
    using K = QKeySequence;
    struct Move
    {
        K::StandardKey move;
        K::StandardKey select;
    };
    wrap(true);
    const auto caretX = [this] {
        if (m_wantedX < 0)
            m_wantedX = characterRect(m_cursor).left();
        return m_wantedX;
    };
    const auto lineBy = [&](int lines) {
        const int line
            = std::clamp(lineOf(m_cursor, m_atLineEnd) + lines, 0, int(m_starts.size()) - 1);
        const qreal x = caretX();
        const DrawnLine &d = drawn(line);
        qsizetype best = d.start;
        for (qsizetype i = d.start; i <= d.end; ++i) {
            if (std::abs(d.edges[i - d.start] - x) < std::abs(d.edges[best - d.start] - x))
                best = i;
        }
        return std::pair{best, best == d.end && line + 1 < m_starts.size()};
    };
    for (const Move &m : {Move{K::MoveToNextChar, K::SelectNextChar},
                          Move{K::MoveToPreviousChar, K::SelectPreviousChar},
                          Move{K::MoveToNextWord, K::SelectNextWord},
                          Move{K::MoveToPreviousWord, K::SelectPreviousWord},
                          Move{K::MoveToStartOfLine, K::SelectStartOfLine},
                          Move{K::MoveToEndOfLine, K::SelectEndOfLine},
                          Move{K::MoveToStartOfDocument, K::SelectStartOfDocument},
                          Move{K::MoveToEndOfDocument, K::SelectEndOfDocument},
                          Move{K::MoveToNextLine, K::SelectNextLine},
                          Move{K::MoveToPreviousLine, K::SelectPreviousLine},
                          Move{K::MoveToNextPage, K::SelectNextPage},
                          Move{K::MoveToPreviousPage, K::SelectPreviousPage}}) {
        const bool select = event->matches(m.select);
        if (!select && !event->matches(m.move))
            continue;
        const bool vertical = m.move == K::MoveToNextLine || m.move == K::MoveToPreviousLine
                              || m.move == K::MoveToNextPage || m.move == K::MoveToPreviousPage;
        if (!vertical)
            m_wantedX = -1;
        // Without Shift, an arrow ends a selection at its side.
        if (!select && hasSelection()
            && (m.move == K::MoveToNextChar || m.move == K::MoveToPreviousChar)) {
            moveCursor(m.move == K::MoveToNextChar ? std::max(m_cursor, m_anchor)
                                                   : std::min(m_cursor, m_anchor),
                       false);
            return true;
        }
        const int line = lineOf(m_cursor, m_atLineEnd);
        switch (m.move) {
        case K::MoveToNextChar:
            moveCursor(nextPosition(m_cursor), select);
            break;
        case K::MoveToPreviousChar:
            moveCursor(previousPosition(m_cursor), select);
            break;
        case K::MoveToNextWord:
            moveCursor(wordEnd(m_cursor), select);
            break;
        case K::MoveToPreviousWord:
            moveCursor(wordStart(m_cursor), select);
            break;
        case K::MoveToStartOfLine:
            moveCursor(m_starts[line], select);
            break;
        case K::MoveToEndOfLine:
            moveCursor(lineEnd(line), select, line + 1 < m_starts.size());
            break;
        case K::MoveToStartOfDocument:
            moveCursor(0, select);
            break;
        case K::MoveToEndOfDocument:
            moveCursor(m_text.size(), select);
            break;
        default: {
            const int page = visibleLines();
            const int lines = m.move == K::MoveToNextLine       ? 1
                              : m.move == K::MoveToPreviousLine ? -1
                              : m.move == K::MoveToNextPage     ? page
                                                                : -page;
            if (m.move == K::MoveToNextPage || m.move == K::MoveToPreviousPage)
                verticalScrollBar()->setValue(verticalScrollBar()->value() + lines);
            const auto [to, atEnd] = lineBy(lines);
            moveCursor(to, select, atEnd);
        }
        }
        if (select)
            publishSelection();
        return true;
    }
    return false;
}

void LogView::keyPressEvent(QKeyEvent *event)
{
    if (navigate(event))
        return;
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->matches(QKeySequence::DeleteStartOfWord)) {
        if (!hasSelection())
            m_anchor = wordStart(m_cursor);
        replaceSelection(QString());
    } else if (event->matches(QKeySequence::DeleteEndOfWord)) {
        if (!hasSelection())
            m_anchor = wordEnd(m_cursor);
        replaceSelection(QString());
    } else if (event->matches(QKeySequence::DeleteEndOfLine)) {
        if (!hasSelection())
            m_anchor = lineEnd(lineOf(m_cursor, m_atLineEnd));
        replaceSelection(QString());
    } else if (event->matches(QKeySequence::Delete) || event->key() == Qt::Key_Backspace) {
        if (!hasSelection()) {
            const bool back = event->key() == Qt::Key_Backspace;
            m_anchor = back ? previousPosition(m_cursor) : nextPosition(m_cursor);
        }
        replaceSelection(QString());
    } else if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
               && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        // As the display text takes it: CR LF.
        replaceSelection(QStringLiteral("\r\n"));
    } else if (const QString typed = event->text();
               !typed.isEmpty() && (typed.at(0).isPrint() || typed.at(0).isSurrogate())) {
        replaceSelection(typed);
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

bool LogView::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // The editing keys are the log's while it has the focus.
        auto *key = static_cast<QKeyEvent *>(event);
        for (const auto standard :
             {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::SelectAll,
              QKeySequence::Delete, QKeySequence::MoveToStartOfDocument,
              QKeySequence::MoveToEndOfDocument, QKeySequence::SelectStartOfDocument,
              QKeySequence::SelectEndOfDocument, QKeySequence::MoveToNextWord,
              QKeySequence::MoveToPreviousWord, QKeySequence::DeleteStartOfWord,
              QKeySequence::DeleteEndOfWord, QKeySequence::DeleteEndOfLine}) {
            if (key->matches(standard)) {
                event->accept();
                return true;
            }
        }
        if (!key->text().isEmpty() && key->text().at(0).isPrint()
            && !(key->modifiers() & Qt::ControlModifier)) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void LogView::inputMethodEvent(QInputMethodEvent *event)
{
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        if (event->replacementLength() > 0) {
            m_anchor
                = std::clamp<qsizetype>(m_cursor + event->replacementStart(), 0, m_text.size());
            m_cursor
                = std::clamp<qsizetype>(m_anchor + event->replacementLength(), 0, m_text.size());
        }
        replaceSelection(event->commitString());
    }
    event->accept();
}

QVariant LogView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    auto *self = const_cast<LogView *>(this);
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return QRectF(self->characterRect(m_cursor).translated(viewport()->pos()));
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return int(m_cursor);
    case Qt::ImAnchorPosition:
        return int(m_anchor);
    case Qt::ImSurroundingText:
        return m_text;
    case Qt::ImCurrentSelection:
        return selectedText();
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- Mouse ----

void LogView::mousePressEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::MiddleButton) {
        // Where X11 pastes what was selected last, in this program or another.
        const QClipboard *clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection()) {
            moveCursor(indexAt(at), false);
            insertFromMimeData(clipboard->mimeData(QClipboard::Selection));
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (m_sinceDoubleClick.isValid()
        && m_sinceDoubleClick.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval()
        && (at - m_doubleClickAt).manhattanLength() < QApplication::startDragDistance()) {
        m_sinceDoubleClick.invalidate();
        const int line = lineOf(indexAt(at));
        setSelection(m_starts[line], lineEnd(line));
        publishSelection();
        return;
    }
    const qsizetype index = indexAt(at);
    const qsizetype from = std::min(m_cursor, m_anchor);
    const qsizetype to = std::max(m_cursor, m_anchor);
    // Pressed inside the selection, it may be dragged elsewhere.
    m_mayDrag
        = hasSelection() && index > from && index < to && !(event->modifiers() & Qt::ShiftModifier);
    m_dragStart = at;
    if (m_mayDrag)
        return;
    m_wantedX = -1;
    m_selecting = true;
    m_lastMouse = at;
    const DrawnLine &line = drawn(lineOf(index, true));
    const bool pastEnd
        = index == line.end && at.x() > line.edges.back() - 1 && line.end < m_text.size();
    moveCursor(index, event->modifiers() & Qt::ShiftModifier, pastEnd);
}

void LogView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (m_mayDrag && (event->buttons() & Qt::LeftButton)) {
        if ((at - m_dragStart).manhattanLength() < QApplication::startDragDistance())
            return;
        m_mayDrag = false;
        auto *drag = new QDrag(this);
        drag->setMimeData(createMimeDataFromSelection());
        const qsizetype from = std::min(m_cursor, m_anchor);
        const qsizetype length = std::max(m_cursor, m_anchor) - from;
        const QString dragged = selectedText();
        if (drag->exec(Qt::CopyAction | Qt::MoveAction) == Qt::MoveAction && drag->target() != this
            && drag->target() != viewport() && m_text.mid(from, length) == dragged) {
            setSelection(from, from + length);
            replaceSelection(QString());
        }
        return;
    }
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    m_lastMouse = at;
    const bool outside = at.y() < 0 || at.y() >= viewport()->height();
    if (outside && !m_autoScroll.isActive())
        m_autoScroll.start(kAutoScrollMs, this);
    else if (!outside)
        m_autoScroll.stop();
    moveCursor(indexAt(at), true);
}

void LogView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_mayDrag && event->button() == Qt::LeftButton) {
        // A click inside the selection, not a drag: the caret goes there.
        m_mayDrag = false;
        moveCursor(indexAt(event->position().toPoint()), false);
        return;
    }
    if (event->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    m_autoScroll.stop();
    publishSelection();
}

void LogView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The word under the pointer, as a text box selects it.
    const qsizetype index = indexAt(event->position().toPoint());
    qsizetype from = index;
    qsizetype to = index;
    while (from > 0 && isWordCharacter(m_text[from - 1]))
        --from;
    while (to < m_text.size() && isWordCharacter(m_text[to]))
        ++to;
    if (from == to && to < m_text.size())
        to = nextPosition(to);
    setSelection(from, to);
    publishSelection();
    m_selecting = false;
    m_sinceDoubleClick.start();
    m_doubleClickAt = event->position().toPoint();
}

void LogView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_blink.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update(characterRect(m_cursor).adjusted(-1, 0, 1, 0));
    } else if (event->timerId() == m_autoScroll.timerId()) {
        QScrollBar *bar = verticalScrollBar();
        bar->setValue(bar->value() + (m_lastMouse.y() < 0 ? -1 : 1));
        moveCursor(indexAt(m_lastMouse), true);
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void LogView::restartBlinking()
{
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash >= 2)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
    viewport()->update(characterRect(m_cursor).adjusted(-1, 0, 1, 0));
}

void LogView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartBlinking();
    if (hasSelection())
        repaintRange(std::min(m_cursor, m_anchor), std::max(m_cursor, m_anchor));
}

void LogView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_caretShown = false;
    viewport()->update(characterRect(m_cursor).adjusted(-1, 0, 1, 0));
    if (hasSelection())
        repaintRange(std::min(m_cursor, m_anchor), std::max(m_cursor, m_anchor));
}

// ---- Menu, dragging and dropping ----

QMenu *LogView::createStandardContextMenu(const QPoint &)
{
    auto *menu = new QMenu(this);
    const auto add = [menu](const char *text, QKeySequence::StandardKey key, const char *name,
                            bool enabled, auto slot) {
        QAction *a = menu->addAction(withShortcut(qtText(text), key));
        a->setObjectName(QLatin1String(name));
        a->setEnabled(enabled);
        QObject::connect(a, &QAction::triggered, menu, slot);
        return a;
    };
    // A log keeps no undo history: the entries are there, as in every text box, never enabled.
    add("&Undo", QKeySequence::Undo, "edit-undo", false, [] {});
    add("&Redo", QKeySequence::Redo, "edit-redo", false, [] {});
    menu->addSeparator();
    add("Cu&t", QKeySequence::Cut, "edit-cut", hasSelection(), [this] { cut(); });
    add("&Copy", QKeySequence::Copy, "edit-copy", hasSelection(), [this] { copy(); });
    const QMimeData *clipboard = QGuiApplication::clipboard()->mimeData();
    add("&Paste", QKeySequence::Paste, "edit-paste", clipboard && clipboard->hasText(),
        [this] { paste(); });
    add("Delete", QKeySequence::UnknownKey, "edit-delete", hasSelection(),
        [this] { replaceSelection(QString()); });
    menu->addSeparator();
    add("Select All", QKeySequence::SelectAll, "select-all", !m_text.isEmpty(),
        [this] { selectAll(); });
    return menu;
}

void LogView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void LogView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
}

void LogView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
}

void LogView::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasText())
        return;
    qsizetype at = indexAt(event->position().toPoint());
    const qsizetype from = std::min(m_cursor, m_anchor);
    const qsizetype to = std::max(m_cursor, m_anchor);
    const bool moved = event->source() == this && event->dropAction() == Qt::MoveAction;
    if (moved) {
        if (at > from && at < to)
            return; // onto itself
        // The text leaves its place first, and the place it goes to shifts with it.
        replaceSelection(QString());
        if (at >= to)
            at -= to - from;
    }
    setSelection(at, at);
    insertFromMimeData(event->mimeData());
    event->acceptProposedAction();
}
