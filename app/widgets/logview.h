#pragma once

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QString>

#include <map>

class QMenu;
class QMimeData;

// A log of received bytes ("Código ASC", "Código HEX"), drawn by itself. The model is the
// log's text, one character per byte; the view wraps it into screen lines as a text box
// would, every control character a named cell ("ACK", "CR"; see controlnames.h), and
// - lays out only the lines it shows, keeping each line's glyphs and names until that line
//   changes: a log grows at its end, so an append lays out its last line alone;
// - shows what was appended at the next refresh (framepacer.h), repainting only the lines
//   that changed, so that a line full of single bytes costs one repaint a refresh;
// - follows new bytes while scrolled to the bottom and stays where the user reads otherwise.
// It is edited as a text box is (typing, Enter as CR LF, paste, cut), without undo: a copy
// takes the characters themselves, never their pictures nor the screen's line ends.
class LogView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit LogView(QWidget *parent = nullptr);
    ~LogView() override;

    QString text() const { return m_text; }
    // A text that extends the current one only appends to it.
    void setText(const QString &text);
    void append(QStringView more);
    void clear() { setText(QString()); }

    // Where the caret and the other end of the selection are, in characters of the text.
    qsizetype cursorPosition() const { return m_cursor; }
    qsizetype anchorPosition() const { return m_anchor; }
    void setSelection(qsizetype anchor, qsizetype cursor);
    QString selectedText() const;
    bool hasSelection() const { return m_cursor != m_anchor; }

    void selectAll();
    // Replaces the selection, as typing does.
    void insertPlainText(const QString &text);
    void copy() const;
    void cut();
    void paste();

    // Qt's menu of a text box, in its words; `at` is unused, as in a plain text box.
    QMenu *createStandardContextMenu(const QPoint &at = {});

    // Puts what waits for the next refresh on screen now.
    void flushView();

    // The screen lines as they are drawn: where each begins in the text.
    QList<qsizetype> lineStarts();
    int lineHeight() const { return m_lineHeight; }
    // The rectangle, in the viewport, of the character at `index` (the caret's, past the end).
    QRect characterRect(qsizetype index);
    // The character boundary nearest to `point`, in the viewport.
    qsizetype indexAt(QPoint point);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

    // The characters of the selection, as received.
    virtual QMimeData *createMimeDataFromSelection() const;
    virtual void insertFromMimeData(const QMimeData *source);

private:
    // One screen line, as drawn: its characters' edges, the glyphs between the named cells,
    // and the names. Kept until the line changes.
    struct NamedCell
    {
        qreal left = 0;
        qreal width = 0;
        QString name;
    };
    struct DrawnLine
    {
        qsizetype start = 0;
        qsizetype end = 0;
        QList<qreal> edges; // x of each character's left edge, and of the line's end
        QList<QGlyphRun> glyphs;
        QList<NamedCell> names;
    };

    // The text changed from `from` on, or only `grown` there; what is on screen catches up
    // at the next refresh.
    void changedFrom(qsizetype from, bool grown = false);
    void askRefresh();
    void showChanges();
    void wrap(bool keepTopLine);
    void adjustScrollBar();
    qreal advance(QChar c);
    void measureFont();
    qreal wrapWidth() const;
    int lineOf(qsizetype index, bool atLineEnd = false) const;
    qsizetype lineEnd(int line) const;
    int lineTop(int line) const;
    int visibleLines() const;
    const DrawnLine &drawn(int line);
    void layOut(DrawnLine &d, qsizetype from, qsizetype end, qreal x);
    void drawLine(QPainter &painter, int line, int top);
    QPixmap namePicture(const QString &name, QSize size, bool selected);
    void checkLook();

    // Editing, as the user does it.
    void replaceSelection(const QString &with);
    void moveCursor(qsizetype to, bool keepAnchor, bool atLineEnd = false);
    bool navigate(QKeyEvent *event);
    qsizetype wordStart(qsizetype from) const;
    qsizetype wordEnd(qsizetype from) const;
    qsizetype previousPosition(qsizetype from) const;
    qsizetype nextPosition(qsizetype from) const;
    void ensureCursorVisible();
    void repaintSelection(qsizetype fromA, qsizetype toA, qsizetype fromB, qsizetype toB);
    void repaintRange(qsizetype from, qsizetype to);
    void restartBlinking();
    void publishSelection() const;

    QString m_text;
    // Screen lines: where each begins. The text from m_dirtyFrom on waits to be wrapped.
    QList<qsizetype> m_starts{0};
    qsizetype m_dirtyFrom = -1;
    // The lines the next refresh repaints: wrapped anew, or gone.
    int m_repaintFrom = -1;
    int m_repaintTo = -1;
    qreal m_wrappedAt = -1;
    std::map<int, DrawnLine> m_drawn;

    qsizetype m_cursor = 0;
    qsizetype m_anchor = 0;
    bool m_atLineEnd = false; // the caret at a wrapped line's end rather than the next one's start
    qreal m_wantedX = -1;     // where Up and Down aim
    bool m_caretShown = false;
    QBasicTimer m_blink;
    QBasicTimer m_autoScroll;
    QPoint m_lastMouse;
    bool m_selecting = false;
    QPoint m_dragStart;
    bool m_mayDrag = false;
    QElapsedTimer m_sinceDoubleClick; // a third click soon after selects the screen line
    QPoint m_doubleClickAt;

    // What every picture and advance depends on beside the text.
    struct Look
    {
        QFont font;
        qint64 palette = 0;
        qreal ratio = 0;
        friend bool operator==(const Look &, const Look &) = default;
    };
    Look m_look;
    QFont m_namesFont;
    int m_lineHeight = 0;
    qreal m_ascent = 0;
    QHash<char16_t, qreal> m_advances;
    // Each name's picture, plain and selected.
    QHash<std::pair<QString, int>, QPixmap> m_pictures;
};
