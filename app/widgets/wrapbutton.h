#pragma once

#include <QElapsedTimer>
#include <QPushButton>

// A push button whose caption wraps inside it, as the classic toolkit's buttons did, and
// which Enter presses when it has the focus (there is no default button). A key held down
// presses it once at most: its auto-repeats never do.
class WrapButton : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;

    // The rectangle the caption may use, and whether the wrapped caption fits in it.
    QRect captionRect() const;
    bool captionFits() const;

    // Takes the focus the window hands it after an Enter elsewhere: an Enter pressed again
    // within a double-click's time belongs to the first one and presses nothing.
    void takeFocusAfterEnter();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QElapsedTimer m_focusedAfterEnter;
};
