#include "countbox.h"

#include "framepacer.h"

#include <QEvent>

#include <utility>

CountBox::CountBox(const QString &text, QWidget *parent)
    : QLineEdit(text, parent)
{
    // A text set by other means than the count comes later than the count: it stays.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!m_showing)
            m_pending.reset();
    });
}

void CountBox::setCount(const QString &count)
{
    m_pending = count;
    FramePacer::instance().ask(this, [this] { showCount(); });
}

void CountBox::showCount()
{
    if (!m_pending)
        return;
    m_showing = true;
    setText(*std::exchange(m_pending, std::nullopt));
    m_showing = false;
}

bool CountBox::event(QEvent *event)
{
    // What the user does to the box, the user does to the count as it is.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::Drop:
    case QEvent::FocusIn:
        showCount();
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}
