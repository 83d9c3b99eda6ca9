#pragma once

#include <QPushButton>

// A push button whose caption wraps inside it, as the classic toolkit's buttons did, and
// which Enter presses when it has the focus (there is no default button).
class WrapButton : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;

    // The rectangle the caption may use, and whether the wrapped caption fits in it.
    QRect captionRect() const;
    bool captionFits() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
