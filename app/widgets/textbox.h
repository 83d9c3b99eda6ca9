#pragma once

#include "controlnames.h"

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSize>
#include <QString>

// A multi-line text box whose text reads back exactly what was set or typed: QPlainTextEdit
// alone turns CR into a paragraph break and cannot hold that. CR LF shows as a line break,
// and Enter inserts CR LF (the display text); control characters show as their names in
// small boxes ("ACK", "CR"; see controlnames.h). The logs have a view of their own
// (logview.h).
class TextBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    // In characters as the line counts them; 0 for no limit. Holds for every way in.
    void setMaxLength(int length) { m_maxLength = length; }
    int maxLength() const { return m_maxLength; }

    // Only characters the line can carry: others are refused when typed, and become '?'
    // when pasted, as they would on the line.
    void setCodePageOnly(bool on) { m_codePageOnly = on; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void onContentsChange();
    void showWhole();
    qsizetype roomFor() const;
    void insertModelText(const QString &text);
    void putBack(int cursor);
    void paintControlNames(const QRect &area);

    // Where a laid-out line's names go, worked out once per line text: finding a cell's x
    // shapes the line again.
    struct NamedCell
    {
        qreal left;
        QPixmap picture;
    };
    struct LineNames
    {
        QString symbols;
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

    QSyntaxHighlighter *m_cells = nullptr;
    QString m_text;
    int m_maxLength = 0;
    bool m_updating = false;
    bool m_codePageOnly = false;
};
