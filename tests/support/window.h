#pragma once

#include "app/frmpadcom.h"
#include "support/pty.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

// What a modal message box showed before the test answered it.
struct ModalSeen
{
    bool shown = false;
    QString title;
    QString text;
    QString informative;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
};

// Runs `action`, which is expected to open a modal box; reads the box and presses OK.
inline ModalSeen answerModal(const std::function<void()> &action)
{
    ModalSeen seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {true,        box->windowTitle(),        box->text(), box->informativeText(),
                box->icon(), int(box->buttons().size())};
        box->accept();
    });
    poll.start();
    action();
    poll.stop();
    return seen;
}

template<typename T> T *control(QWidget &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// A fresh pseudo-terminal published as port 1, and PADCOM's window shown beside it.
inline bool startWindowOnPty(std::unique_ptr<PtyPeer> &peer, std::unique_ptr<frmPADCOM> &form)
{
    peer = std::make_unique<PtyPeer>();
    if (!peer->isOpen() || !linkPort(1, peer->slavePath()))
        return false;
    form = std::make_unique<frmPADCOM>();
    form->show();
    return true;
}
