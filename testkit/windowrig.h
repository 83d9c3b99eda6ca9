#pragma once

#include "app/frmpadcom.h"
#include "pty/ptyend.h"
#include "testkit/arrival.h"
#include "testkit/linerecorder.h"
#include "testkit/runtimedir.h"

#include <QMessageBox>
#include <QString>
#include <QTest>

#include <chrono>
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
ModalSeen answerModal(const std::function<void()> &action);

// PADCOM's window in a runtime directory of its own, beside a far end published as port 1:
// where every window suite starts. The far end records what the line carried on a thread of
// its own, so that a busy window thread cannot hide a pause inside a frame, and talks back.
class WindowRig
{
public:
    enum class FarEnd { Recorder, None };

    explicit WindowRig(FarEnd farEnd = FarEnd::Recorder);
    ~WindowRig();

    // The runtime directory and the far end are ready.
    bool isValid() const;

    // A new window, shown (the old one, if any, is gone).
    frmPADCOM &show();
    template<typename T = QWidget> T *get(const char *name) const
    {
        return form->findChild<T *>(QLatin1String(name));
    }
    // The text of a line edit or a text box; of a count box, the count it shows now or at
    // its next refresh.
    QString text(const char *name) const;
    void setText(const char *name, const QString &text);
    // Only what a user can reach: a control under the frame cannot be clicked.
    void click(const char *name);
    // Types the number into "Porta Serial Numero:" and presses "Inicia a Porta Serial".
    bool open(const QString &number = QStringLiteral("1"));
    // The frame "Porta serial" covers the working controls.
    bool covered() const;
    QMessageBox *notice() const;

    // A new device under port 1, read at most `bytesPerSecond` (0: as fast as it comes).
    void attach(double bytesPerSecond = 0);
    // The device goes away: the far end closes.
    void pull();
    PtyEnd &peer() { return *m_peer; }
    void send(const QByteArray &bytes);
    // Everything the line carried since the rig began, across devices.
    QList<Arrival> carried() const;
    QByteArray received() const { return joined(carried()); }
    // Waits until the line has been quiet for `quiet`, at most `limit`.
    void settle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const;

    std::unique_ptr<frmPADCOM> form;

private:
    RuntimeDir m_runtime;
    std::unique_ptr<PtyEnd> m_peer;
    std::unique_ptr<LineRecorder> m_recorder;
    QList<Arrival> m_carried;
};
