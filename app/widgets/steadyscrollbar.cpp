#include "steadyscrollbar.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace {

// The raster engine splits a fill of 96 rows or more among its threads.
constexpr int kBandRows = 64;

} // namespace

SteadyScrollBar::Look SteadyScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void SteadyScrollBar::sliderChange(SliderChange change)
{
    // What is on screen is what was painted last: if the new figures draw the same, a
    // repaint would put back the same pixels.
    if (m_painted && *m_painted == look())
        return;
    QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent *event)
{
    m_painted = look();
    // Under the pointer or held, the plain bar knows which part to light up or press in.
    if (underMouse() || isSliderDown() || QGuiApplication::mouseButtons() != Qt::NoButton) {
        QScrollBar::paintEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_All;
    // Each band is drawn on a picture of its own height: the style may set clips of its own,
    // and a device's edge is one it cannot draw past.
    const qreal ratio = devicePixelRatioF();
    const int rows = std::max(1, int(kBandRows / ratio));
    QImage picture(QSize(width(), rows) * ratio, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    QPainter painter(this);
    for (int top = 0; top < height(); top += rows) {
        if (!event->region().intersects(QRect(0, top, width(), rows)))
            continue;
        picture.fill(Qt::transparent);
        QPainter band(&picture);
        band.translate(0, -top);
        style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &band, this);
        band.end();
        painter.drawImage(0, top, picture);
    }
}
