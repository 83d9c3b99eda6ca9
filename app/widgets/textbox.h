#pragma once

#include "controlnames.h"
#include "text/boxtext.h"

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSize>
#include <QString>
#include <QTimer>

// A multi-line text box whose text reads back exactly what was set, appended or typed:
// QPlainTextEdit alone turns CR into a paragraph break and cannot hold that.
// Lines:   CR LF shows as a line break; Enter inserts CR LF (the display text).
// Control characters show as their names in small boxes ("ACK", "CR"; see controlnames.h).
// Log:     every control character shows as a visible symbol on one wrapping line; Enter
//          inserts CR LF, shown as such. No undo history, so appending costs no memory, and
//          appends reach the screen at most 25 times a second. The box wraps the line
//          itself, each screen line a paragraph of the document: an append then lays out
//          only the last line, where one paragraph of a thousand symbols was laid out and
//          shaped again for every received block. The paragraph breaks are the view's own:
//          the text, what a copy takes and every position the box reports leave them out.
class TextBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    using Mode = boxtext::Layout;

    explicit TextBox(Mode mode, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    // A new text that extends the current one only appends to what is on screen.
    void setText(const QString &text);

    // In characters as the line counts them; 0 for no limit. Holds for every way in.
    void setMaxLength(int length) { m_maxLength = length; }
    int maxLength() const { return m_maxLength; }

    // Only characters the line can carry: others are refused when typed, and become '?'
    // when pasted, as they would on the line.
    void setCodePageOnly(bool on) { m_codePageOnly = on; }

    // Puts appended text that waits for the next frame on screen now.
    void flushView();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    void onContentsChange(int position, int removed, int added);
    void display(const QString &text);
    qsizetype roomFor() const;
    void insertModelText(const QString &text);
    void putBack(int cursor);
    void paintControlNames(const QRect &area);
    void widenLogCells(int from, int to);

    // The text on screen anew, wrapped if a log.
    void showWhole();
    // The log's own wrapping.
    QList<qsizetype> lineBreaks(QStringView symbols);
    QString wrapped(QStringView symbols);
    qreal advance(QChar symbol);
    qreal wrapWidth() const;
    void rewrap();
    void stepOverLineEnd(const QKeyEvent *event);
    void countLines();
    qsizetype modelIndex(int position) const;
    int viewPosition(qsizetype index) const;

    // Where a laid-out line's names go, worked out once per line text: finding a cell's x
    // shapes the line again, and a log's lines stay as they are while bytes are appended.
    struct NamedCell
    {
        qreal left;
        QPixmap picture;
    };
    struct LineNames
    {
        QString symbols;
        QString actual; // in a log, the characters the symbols stand for
        QList<NamedCell> cells;
    };
    const QList<NamedCell> &namesOf(const QTextBlock &block, const QTextLine &line);
    QHash<quint64, LineNames> m_lineNames;
    // What every picture depends on beside its name and size.
    struct NamesLook
    {
        QFont font;
        qint64 palette = 0;
        qreal ratio = 0;
        int width = 0;
        friend bool operator==(const NamesLook &, const NamesLook &) = default;
    };
    NamesLook m_namesLook;
    QFont m_namesFont;
    // Each name's picture at each cell size, drawn once per look.
    QHash<std::pair<QString, QSize>, QPixmap> m_pictures;
    controlnames::CellFormats m_logCells;
    QHash<char16_t, qreal> m_advances;
    QList<qsizetype> m_lineStarts; // where each paragraph of a log begins in the text
    qreal m_wrappedAt = -1;

    Mode m_mode;
    QString m_text;
    QString m_pendingTail; // end of m_text not yet on screen
    QTimer m_viewTimer;
    int m_maxLength = 0;
    bool m_updating = false;
    bool m_codePageOnly = false;
};
