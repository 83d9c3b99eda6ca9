#pragma once

#include <QPushButton>

// A push button whose caption wraps inside it, as the classic toolkit's buttons did.
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
};
