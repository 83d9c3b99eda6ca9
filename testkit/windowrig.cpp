#include "windowrig.h"

#include "app/widgets/countbox.h"
#include "app/widgets/logview.h"
#include "app/widgets/textbox.h"
#include "ptypeer.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

ModalSeen answerModal(const std::function<void()> &action)
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

WindowRig::WindowRig(FarEnd farEnd)
{
    if (farEnd == FarEnd::Recorder)
        attach();
}

WindowRig::~WindowRig()
{
    form.reset();
    m_recorder.reset();
}

bool WindowRig::isValid() const
{
    return m_runtime.isValid() && (!m_peer || m_peer->isOpen());
}

frmPADCOM &WindowRig::show()
{
    form.reset();
    form = std::make_unique<frmPADCOM>();
    form->show();
    return *form;
}

QString WindowRig::text(const char *name) const
{
    if (auto *count = get<CountBox>(name))
        return count->count();
    if (auto *log = get<LogView>(name))
        return log->text();
    if (auto *box = get<TextBox>(name))
        return box->text();
    return get<QLineEdit>(name)->text();
}

void WindowRig::setText(const char *name, const QString &text)
{
    if (auto *log = get<LogView>(name))
        log->setText(text);
    else if (auto *box = get<TextBox>(name))
        box->setText(text);
    else
        get<QLineEdit>(name)->setText(text);
}

void WindowRig::click(const char *name)
{
    if (auto *button = get<QPushButton>(name); button->isVisible())
        QTest::mouseClick(button, Qt::LeftButton);
}

bool WindowRig::open(const QString &number)
{
    setText("Text5", number);
    click("CMDInicializar");
    return form->comm().PortOpen() && !covered();
}

bool WindowRig::covered() const
{
    return get<QGroupBox>("Inicia")->isVisible();
}

QMessageBox *WindowRig::notice() const
{
    // The window builds its notice when it first has something to say; until then a box
    // that was never shown stands for it.
    if (auto *shown = form->findChild<QMessageBox *>(QStringLiteral("notice")))
        return shown;
    static QMessageBox *const never = new QMessageBox; // lives as long as the suite
    return never;
}

void WindowRig::attach(double bytesPerSecond)
{
    if (m_recorder)
        m_carried += m_recorder->arrivals();
    m_recorder.reset();
    m_peer = std::make_unique<PtyEnd>();
    m_peer->stopReading();
    linkPort(1, m_peer->slavePath());
    m_recorder = std::make_unique<LineRecorder>(m_peer->masterFd(), bytesPerSecond);
}

void WindowRig::pull()
{
    if (m_recorder)
        m_carried += m_recorder->arrivals();
    m_recorder.reset();
    m_peer->closeMaster();
}

void WindowRig::send(const QByteArray &bytes)
{
    m_peer->send(bytes);
}

QList<Arrival> WindowRig::carried() const
{
    return m_carried + (m_recorder ? m_recorder->arrivals() : QList<Arrival>());
}

void WindowRig::settle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const
{
    if (m_recorder)
        m_recorder->settle(quiet, limit);
}
