#pragma once

#include <QRect>
#include <QScrollBar>

#include <optional>

// A scroll bar that costs a log little. A log that follows its newest bytes changes its
// range with nearly every line it gains, so its bar is repainted many times a second:
// - only when it would look different (the handle moves by a pixel only now and then);
// - in bands too short for the raster engine to hand the style's fills to its pool of
//   threads, whose wake-ups cost more than painting a bar 16 pixels wide.
// The pixels are those of the plain bar.
class SteadyScrollBar : public QScrollBar
{
    Q_OBJECT

public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // What the style draws from the slider's figures: where the handle is, and which ends it
    // touches (some styles grey out an arrow there).
    struct Look
    {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        friend bool operator==(const Look &, const Look &) = default;
    };
    Look look() const;

    std::optional<Look> m_painted;
};
