#pragma once

#include "session/linetimer.h"
#include "session/session.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

class ClickLabel;
class CountBox;
class LogView;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class TextBox;
class WrapButton;

// The program's one window: its controls, their wiring and the thin handlers that read
// controls, apply a rule and write controls or a frame.
class frmPADCOM : public QWidget
{
    Q_OBJECT

public:
    static inline const QString kAppTitle = QStringLiteral("PADCOM");
    static constexpr QSize kClientSize{507, 381};

    explicit frmPADCOM(QWidget *parent = nullptr);
    ~frmPADCOM() override;

    // Whether every caption of the window shows whole in its control's fixed size.
    bool captionsFit() const;

    qint16 loopOn() const { return LoopOn; }
    const MSComm &comm() const { return MSComm1; }
    const LineTimer &timer() const { return Timer1; }
    const Session &session() const { return m_session; }

    // Records the session to `path` (JSON Lines for a name ending in .jsonl) until
    // stopRecording(); says why not, once, when the file cannot be written.
    bool startRecording(const QString &path);
    void stopRecording();

    // Window
    void Command1_Click();
    void Command2_Click();
    void Label5_Click();
    // Port setup
    void CMDInicializar_Click();
    void Command8_Click();
    // Display frames and send loop
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    // After each tick of the loop, which the serial control sent on its own thread.
    void Timer1_Timer(const Session::Event &tick);
    // Receive monitor: a block received, or a frame the control refused.
    void MSComm1_OnComm(const Session::Event &event);

private:
    void createControls();
    void fitFont();
    void applyTabOrder();
    void wire();
    void setCovered(bool covered);
    void write(const QByteArray &frame);
    QByteArray textFrame(bool tellWhyNot);
    void armLoop();
    void notify(const QString &message);
    void showNotice(const QString &message);
    void onPortLost(const QString &device, const QString &reason);
    void updatePortTip();
    void showLogMenu(LogView *log, const QPoint &at);
    void chooseRecordFile();
    bool eventFilter(QObject *watched, QEvent *event) override;

    // The frame and what it covers while the port is closed.
    QGroupBox *Inicia = nullptr;
    QLineEdit *Text5 = nullptr;
    WrapButton *CMDInicializar = nullptr;
    QLabel *Label4 = nullptr;
    QWidget *m_work = nullptr;

    QCheckBox *eco = nullptr;
    CountBox *Text6 = nullptr;
    CountBox *Text7 = nullptr;
    WrapButton *Command2 = nullptr;
    WrapButton *Command8 = nullptr;
    QCheckBox *Check1 = nullptr;
    QLineEdit *Text4 = nullptr;
    WrapButton *Command7 = nullptr;
    LogView *Text3 = nullptr;
    LogView *Text2 = nullptr;
    WrapButton *Command6 = nullptr;
    WrapButton *Command5 = nullptr;
    WrapButton *Command4 = nullptr;
    TextBox *Text1 = nullptr;
    WrapButton *Command3 = nullptr;
    WrapButton *Command1 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label6 = nullptr;
    ClickLabel *Label5 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label1 = nullptr;
    QMessageBox *m_notice = nullptr;

    // The port, the loop, the figures and the record. The serial control and the loop's
    // timer are children by name, like the other controls, so that tools can find them.
    Session m_session{this};
    MSComm &MSComm1 = m_session.comm();
    LineTimer Timer1{m_session, this};

    qint16 LoopOn = 0;
    // Working values of the receive handler; they describe the last byte handled.
    QByteArray RxBuffer;
    qint16 RxIndex = 0;
    QString RxHex;
    QString RxChar;

    bool m_skipReported = false;
};
