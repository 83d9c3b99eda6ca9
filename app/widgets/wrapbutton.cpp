#include "wrapbutton.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {
constexpr int kTextFlags = Qt::AlignCenter | Qt::TextWordWrap;
}

QRect WrapButton::captionRect() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    return contents.adjusted(1, 0, -1, 0);
}

bool WrapButton::captionFits() const
{
    const QRect area = captionRect();
    const QRect needed = fontMetrics().boundingRect(area, kTextFlags, text());
    return area.contains(needed);
}

void WrapButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    QRect area = captionRect();
    if (isDown())
        area.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                       style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    painter.drawText(area, kTextFlags, caption);
}

void WrapButton::takeFocusAfterEnter()
{
    setFocus();
    m_focusedAfterEnter.start();
}

void WrapButton::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        const bool echoOfEarlierEnter
            = m_focusedAfterEnter.isValid()
              && m_focusedAfterEnter.elapsed() < QApplication::doubleClickInterval();
        m_focusedAfterEnter.invalidate();
        if (!event->isAutoRepeat() && !echoOfEarlierEnter)
            click();
        return;
    }
    QPushButton::keyPressEvent(event);
}
