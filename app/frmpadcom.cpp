#include "frmpadcom.h"

#include "monitor/receive.h"
#include "protocol/frames.h"
#include "protocol/sendloop.h"
#include "serial/linesettings.h"
#include "serial/portmap.h"
#include "serial/portsetup.h"
#include "text/number.h"
#include "text/win1252.h"
#include "widgets/clicklabel.h"
#include "widgets/countbox.h"
#include "widgets/logview.h"
#include "widgets/textbox.h"
#include "widgets/wrapbutton.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStyleOptionButton>
#include <QToolTip>

#include <array>

namespace {

// The layout is drawn up in twips (1/1440 inch): 15 twips to a pixel at 96 DPI.
constexpr int kTwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height)
{
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

template<typename W> W *place(W *widget, const char *name, QRect geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

const QString kEightyDigits = QStringLiteral(
    "01234567890123456789012345678901234567890123456789012345678901234567890123456789");
constexpr int kDisplayTextMax = 80;
constexpr int kPortTextMax = 2;

} // namespace

frmPADCOM::frmPADCOM(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmPADCOM"));
    setWindowTitle(QStringLiteral("Teclado Vorlan"));
    setWindowIcon(QIcon(QStringLiteral(":/padcom.ico")));
    setFixedSize(kClientSize);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    MSComm1.setObjectName(QStringLiteral("MSComm1"));
    createControls();
    fitFont();
    applyTabOrder();
    wire();
    setCovered(true);
    Text5->setFocus();
}

void frmPADCOM::createControls()
{
    m_work = place(new QWidget(this), "work", rect());

    auto label = [this](const char *name, const QString &caption, QRect geometry) {
        return place(new QLabel(caption, m_work), name, geometry);
    };
    auto button = [this](const char *name, const QString &caption, QRect geometry) {
        return place(new WrapButton(caption, m_work), name, geometry);
    };
    auto line = [this](const char *name, const QString &text, QRect geometry) {
        return place(new QLineEdit(text, m_work), name, geometry);
    };
    auto count = [this](const char *name, QRect geometry) {
        return place(new CountBox(QStringLiteral("0"), m_work), name, geometry);
    };
    auto box = [this](const char *name, QRect geometry) {
        auto *b = place(new TextBox(m_work), name, geometry);
        b->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        b->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return b;
    };
    auto log = [this](const char *name, QRect geometry) {
        auto *b = place(new LogView(m_work), name, geometry);
        b->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        b->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return b;
    };

    eco = place(new QCheckBox(tr("Eco"), m_work), "eco", twips(2700, 4980, 1155, 255));
    Text6 = count("Text6", twips(6720, 3300, 735, 315));
    Text7 = count("Text7", twips(6720, 3690, 735, 315));
    Command2 = button("Command2", tr("Sair"), twips(6090, 4680, 1455, 855));
    Command8 = button("Command8", tr("Reiniciar a Porta Serial"), twips(6090, 4050, 1455, 555));
    Check1
        = place(new QCheckBox(tr("Enviar Errado"), m_work), "Check1", twips(150, 4470, 1275, 225));
    Text4 = line("Text4", QStringLiteral("100"), twips(4710, 4440, 975, 315));
    Command7 = button("Command7", tr("Loop de envio p/ o Display"), twips(4170, 4860, 1485, 645));
    Text3 = log("Text3", twips(3120, 480, 2835, 3375));
    Text2 = log("Text2", twips(120, 480, 2895, 3375));
    Command6 = button("Command6", tr("Posicionhar 2º Linha Display"), twips(6090, 2340, 1455, 855));
    Command5 = button("Command5", tr("Posicionhar 1º Linha Display"), twips(6090, 1410, 1455, 855));
    Command4 = button("Command4", tr("Limpar Display"), twips(6090, 480, 1455, 855));
    Text1 = box("Text1", twips(120, 3930, 3735, 495));
    Text1->setMaxLength(kDisplayTextMax);
    Text1->setCodePageOnly(true);
    Text1->setText(sendloop::kInitialText);
    Command3 = button("Command3", tr("Escrever no display"), twips(120, 4740, 2385, 735));
    Command1 = button("Command1", tr("Limpar"), twips(4500, 3930, 1455, 375));
    Label7 = label("Label7", tr("Erro"), twips(6360, 3750, 285, 195));
    Label6 = label("Label6", tr("Nack"), twips(6210, 3360, 435, 195));
    Label5 = place(new ClickLabel(tr("Preencher c/ 80 caracteres"), m_work), "Label5",
                   twips(1830, 4440, 1965, 195));
    Label5->setForegroundRole(QPalette::Highlight);
    Label3 = label("Label3", tr("Taxa (ms)"), twips(3960, 4500, 735, 225));
    Label2 = label("Label2", tr("Código HEX"), twips(3360, 240, 870, 195));
    Label1 = label("Label1", tr("Código ASC"), twips(120, 240, 855, 195));

    // The frame lies above everything and, while shown, is all the user can reach.
    Inicia = place(new QGroupBox(tr("Porta serial"), this), "Inicia", twips(90, 60, 7485, 5505));
    Inicia->setAutoFillBackground(true);
    Text5 = place(new QLineEdit(QStringLiteral("1"), Inicia), "Text5", twips(4350, 2370, 675, 285));
    Text5->setMaxLength(kPortTextMax);
    CMDInicializar = place(new WrapButton(tr("Inicia a Porta Serial"), Inicia), "CMDInicializar",
                           twips(2820, 2760, 2235, 1245));
    Label4 = place(new QLabel(tr("Porta Serial Numero:"), Inicia), "Label4",
                   twips(2850, 2430, 1455, 195));
    Inicia->raise();
    Text5->installEventFilter(this);
}

frmPADCOM::~frmPADCOM()
{
    // The session closes the port and ends the record with its figures as it goes, telling
    // the window nothing of it.
    disconnect(&m_session, nullptr, this, nullptr);
}

bool frmPADCOM::captionsFit() const
{
    const auto labels = findChildren<QLabel *>();
    for (const QLabel *l : labels) {
        if (l->fontMetrics().horizontalAdvance(l->text()) > l->width()
            || l->fontMetrics().height() > l->height())
            return false;
    }
    const auto checks = findChildren<QCheckBox *>();
    for (const QCheckBox *c : checks) {
        QStyleOptionButton option;
        option.initFrom(c);
        option.text = c->text();
        const QRect text = c->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, c);
        if (c->fontMetrics().horizontalAdvance(c->text()) > text.width())
            return false;
    }
    const auto buttons = findChildren<WrapButton *>();
    for (const WrapButton *b : buttons) {
        if (!b->captionFits())
            return false;
    }
    return Inicia->fontMetrics().horizontalAdvance(Inicia->title()) < Inicia->width();
}

void frmPADCOM::fitFont()
{
    // The control sizes suit a font of about 8 points (11 px at 96 DPI). Where the
    // platform's font is wider than that, take its condensed face, then smaller sizes,
    // until every caption shows whole: a clipped caption is worse than a smaller one.
    const QFont base = font();
    for (int pixels = 11; pixels >= 8; --pixels) {
        for (const int stretch : {int(QFont::Unstretched), int(QFont::Condensed)}) {
            QFont candidate = base;
            candidate.setPixelSize(pixels);
            candidate.setStretch(stretch);
            setFont(candidate);
            if (captionsFit())
                return;
        }
    }
}

void frmPADCOM::applyTabOrder()
{
    // The tab sequence; labels and the frame take no focus and drop out of it.
    const std::array<QWidget *, 18> order = {
        Command3, Command1, Command2, Text1,          Command4, Command5, Command6, Text2, Text3,
        Command7, Text4,    Check1,   CMDInicializar, Text5,    Command8, Text7,    Text6, eco,
    };
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmPADCOM::wire()
{
    connect(CMDInicializar, &QPushButton::clicked, this, &frmPADCOM::CMDInicializar_Click);
    connect(Command1, &QPushButton::clicked, this, &frmPADCOM::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmPADCOM::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmPADCOM::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmPADCOM::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &frmPADCOM::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &frmPADCOM::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &frmPADCOM::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &frmPADCOM::Command8_Click);
    connect(Label5, &ClickLabel::clicked, this, &frmPADCOM::Label5_Click);
    // Typing the number and pressing Enter is how a technician opens a port.
    connect(Text5, &QLineEdit::returnPressed, this, &frmPADCOM::CMDInicializar_Click);
    connect(&m_session, &Session::OnComm, this, &frmPADCOM::MSComm1_OnComm);
    connect(&m_session, &Session::portLost, this, &frmPADCOM::onPortLost);
    connect(&Timer1, &LineTimer::Timer, this, &frmPADCOM::Timer1_Timer);
    // The loop's ticks are built here and sent on the serial control's thread: it is given
    // them again whenever what they are made of changes.
    const auto rearm = [this] {
        if (LoopOn != 0)
            armLoop();
    };
    connect(Text1, &QPlainTextEdit::textChanged, this, rearm);
    connect(Check1, &QCheckBox::toggled, this, rearm);
    connect(&m_session, &Session::recordFailed, this, &frmPADCOM::showNotice);
    for (LogView *log : {Text2, Text3}) {
        log->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(log, &QWidget::customContextMenuRequested, this,
                [this, log](const QPoint &at) { showLogMenu(log, at); });
    }
    Text6->installEventFilter(this);
    Text7->installEventFilter(this);
}

void frmPADCOM::showLogMenu(LogView *log, const QPoint &at)
{
    QMenu *menu = log->createStandardContextMenu(at);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    const SessionRecord &record = m_session.record();
    QAction *start = menu->addAction(record.isRecording() ? tr("Gravando em %1").arg(record.path())
                                                          : tr("Gravar sessão em arquivo…"));
    start->setEnabled(!record.isRecording());
    connect(start, &QAction::triggered, this, &frmPADCOM::chooseRecordFile);
    QAction *stop = menu->addAction(tr("Parar gravação"));
    stop->setEnabled(record.isRecording());
    connect(stop, &QAction::triggered, this, &frmPADCOM::stopRecording);
    menu->popup(log->viewport()->mapToGlobal(at));
}

void frmPADCOM::chooseRecordFile()
{
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Gravar sessão em arquivo"),
        QDir::home().filePath(
            QStringLiteral("padcom-%1.txt")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))),
        tr("Texto (*.txt);;JSON Lines, para scripts (*.jsonl);;Todos os arquivos (*)"));
    if (!path.isEmpty())
        startRecording(path);
}

bool frmPADCOM::startRecording(const QString &path)
{
    if (!m_session.startRecording(path)) {
        showNotice(tr("Não foi possível gravar a sessão em %1: %2.")
                       .arg(path, m_session.record().errorString()));
        return false;
    }
    return true;
}

void frmPADCOM::stopRecording()
{
    m_session.stopRecording();
}

void frmPADCOM::setCovered(bool covered)
{
    // Hiding what the frame covers keeps it out of reach of Tab, Enter, Space and the mouse.
    // The focus goes to the first control of what is now shown: left to the toolkit, it
    // would fall on the next control after the hidden button, "Reiniciar a Porta Serial",
    // and a second Enter would close the port just opened. Nor may the Enter that opened
    // the port, doubled or held, go on to write the display text unasked.
    QWidget *hidden = covered ? m_work : Inicia;
    const bool hadFocus = hidden->isAncestorOf(QApplication::focusWidget());
    m_work->setVisible(!covered);
    Inicia->setVisible(covered);
    if (!hadFocus)
        return;
    if (covered)
        Text5->setFocus();
    else
        Command3->takeFocusAfterEnter();
}

void frmPADCOM::notify(const QString &message)
{
    // A port lost under a write (a tick's, an echo's) was reported with its reason, and the
    // writes after it meet the closed port: the loss's notice is what the user must read.
    if (MSComm1.state() == MSComm::PortState::Lost)
        return;
    showNotice(message);
}

void frmPADCOM::showNotice(const QString &message)
{
    if (!m_notice) {
        // Built when first needed: a message box looks up the icon theme's every size,
        // which would cost a start-up in which nothing goes wrong.
        m_notice
            = new QMessageBox(QMessageBox::NoIcon, kAppTitle, QString(), QMessageBox::Ok, this);
        m_notice->setObjectName(QStringLiteral("notice"));
        m_notice->setWindowModality(Qt::NonModal);
    }
    m_notice->setText(message);
    m_notice->show();
}

bool frmPADCOM::eventFilter(QObject *watched, QEvent *event)
{
    // The counters tell the session's figures, which the logs' limit never empties.
    if ((watched == Text6 || watched == Text7) && event->type() == QEvent::ToolTip) {
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                           m_session.figures().summary(), static_cast<QWidget *>(watched));
        return true;
    }
    if (watched == Text5 && event->type() == QEvent::ToolTip)
        updatePortTip();
    // Enter held in the number box opens once: its repeats would answer the failure's box
    // and try again, over and over.
    if (watched == Text5 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->isAutoRepeat() && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmPADCOM::updatePortTip()
{
    const QList<ports::Entry> table = ports::table();
    QStringList lines;
    for (const ports::Entry &e : table) {
        lines << (!e.problem.isEmpty()
                      ? tr("%1: indisponível: %2").arg(QString::number(e.number), e.problem)
                  : e.published ? tr("%1: %2 (publicada)").arg(QString::number(e.number), e.device)
                                : tr("%1: %2").arg(QString::number(e.number), e.device));
    }
    Text5->setToolTip(lines.isEmpty() ? tr("Nenhuma porta serial encontrada.")
                                      : tr("Portas disponíveis:\n") + lines.join(u'\n'));
}

// ---- Window ----

void frmPADCOM::Command1_Click()
{
    Text2->setText(QString());
    Text3->setText(QString());
}

void frmPADCOM::Command2_Click()
{
    QCoreApplication::exit(0);
}

void frmPADCOM::Label5_Click()
{
    Text1->setText(kEightyDigits);
}

// ---- Port setup ----

void frmPADCOM::CMDInicializar_Click()
{
    const portsetup::Outcome outcome = m_session.open(Text5->text());
    if (outcome.opened) {
        setCovered(false);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle,
                    tr("Não Foi possivel iniciar a Porta Serial Numero ") + Text5->text()
                        + QStringLiteral("."),
                    QMessageBox::Ok, this);
    box.setInformativeText(tr("Motivo: %1").arg(outcome.reason));
    box.exec();
}

void frmPADCOM::Command8_Click()
{
    Timer1.setEnabled(false);
    LoopOn = 0;
    m_session.close();
    setCovered(true);
    Text3->setText(QString());
    Text2->setText(QString());
}

void frmPADCOM::onPortLost(const QString &device, const QString &reason)
{
    // The window goes back to the closed port, as after "Reiniciar", but keeps the logs and
    // counts: they are what the user needs to see about the loss.
    Timer1.setEnabled(false);
    LoopOn = 0;
    setCovered(true);
    showNotice(tr("A porta serial %1 (%2) foi fechada: %3.\n"
                  "Verifique o cabo e o dispositivo e use \"Inicia a Porta Serial\" para "
                  "abri-la de novo.")
                   .arg(QString::number(MSComm1.CommPort()), device, reason));
}

// ---- Display frames ----

void frmPADCOM::write(const QByteArray &frame)
{
    switch (MSComm1.Output(frame)) {
    case MSComm::OutputResult::Queued:
        return;
    case MSComm::OutputResult::PortClosed:
        notify(tr("A porta serial está fechada: nada foi enviado."));
        return;
    case MSComm::OutputResult::BufferFull:
        notify(tr("O buffer de transmissão (%1 bytes) está cheio: o quadro não foi enviado.")
                   .arg(MSComm::kOutBufferSize));
        return;
    }
}

QByteArray frmPADCOM::textFrame(bool tellWhyNot)
{
    const bool wrongLength = Check1->isChecked();
    const QByteArray text = win1252::encode(Text1->text());
    const QByteArray frame = frames::text(text, wrongLength);
    if (frame.isEmpty() && tellWhyNot) {
        notify(tr("O texto tem %1 caracteres; um quadro leva no máximo %2.")
                   .arg(text.size())
                   .arg(frames::maxTextLength(wrongLength)));
    }
    return frame;
}

void frmPADCOM::Command3_Click()
{
    if (const QByteArray frame = textFrame(true); !frame.isEmpty())
        write(frame);
}

void frmPADCOM::Command4_Click()
{
    write(frames::command(frames::Command::Clear));
}

void frmPADCOM::Command5_Click()
{
    write(frames::command(frames::Command::Line1));
}

void frmPADCOM::Command6_Click()
{
    write(frames::command(frames::Command::Line2));
}

// ---- Send loop ----

void frmPADCOM::Command7_Click()
{
    if (LoopOn != 0) {
        Timer1.setEnabled(false);
        LoopOn = 0;
        return;
    }
    if (Text1->text().isEmpty())
        Text1->setText(sendloop::kTestText);
    const auto rate = numbers::parse(Text4->text(), sendloop::kMaxRate);
    if (!rate) {
        // One pass over the placeholders: typed text is never read as one.
        notify(tr("Taxa inválida: \"%1\". Digite um número inteiro de milissegundos, de 0 a %2.")
                   .arg(Text4->text(), QString::number(sendloop::kMaxRate)));
        return;
    }
    LoopOn = -1;
    m_skipReported = false;
    armLoop();
    Timer1.setInterval(*rate);
    Timer1.setEnabled(true);
}

void frmPADCOM::armLoop()
{
    // What Command5 and Command3 send, in that order; a text that makes no frame leaves the
    // cursor command alone, and each tick says why.
    QList<QByteArray> tick{frames::command(frames::Command::Line1)};
    if (const QByteArray text = textFrame(false); !text.isEmpty())
        tick << text;
    Timer1.setFrames(tick);
}

void frmPADCOM::Timer1_Timer(const Session::Event &tick)
{
    switch (tick.tick) {
    case MSComm::LoopTick::Sent:
        // A text too long for a frame went without it: said at every tick, as its button
        // says it at every click.
        textFrame(true);
        return;
    case MSComm::LoopTick::PortClosed:
        notify(tr("A porta serial está fechada: nada foi enviado."));
        return;
    case MSComm::LoopTick::Held:
        return;
    case MSComm::LoopTick::Skipped:
        break;
    }
    if (!m_skipReported) {
        m_skipReported = true;
        notify(tr("A taxa de %1 ms pede mais do que a linha serial transporta "
                  "(%2 bytes por tique a %3 baud): os tiques que não cabem no buffer "
                  "de transmissão são pulados.")
                   .arg(Timer1.Interval())
                   .arg(sendloop::tickBytes(win1252::length(Text1->text())))
                   .arg(LineSettings().baudRate));
    }
}

// ---- Receive monitor ----

void frmPADCOM::MSComm1_OnComm(const Session::Event &event)
{
    if (event.commEvent() != MSComm::comEvReceive)
        return;
    RxBuffer = event.bytes;
    const monitor::BlockResult result = monitor::receiveBlock(
        {Text2->text(), Text3->text(), Text6->count(), Text7->count()}, RxBuffer, eco->isChecked());

    if (result.logsEmptied) {
        Text3->setText(QString());
        Text2->setText(QString());
    }
    // Only a count that moved is set: setting a box drops what the user selected in it.
    if (result.nackCount > 0)
        Text6->setCount(result.boxes.nack);
    if (result.otherCount > 0)
        Text7->setCount(result.boxes.erro);
    Text3->setText(result.boxes.hexLog);
    Text2->setText(result.boxes.asciiLog);
    RxIndex = qint16(RxBuffer.size());
    if (!RxBuffer.isEmpty()) {
        const auto last = uchar(RxBuffer.back());
        RxHex = monitor::hexCode(last);
        RxChar = win1252::toUnicode(last);
    }
    for (const QByteArray &frame : result.echoes) {
        if (MSComm1.Output(frame) != MSComm::OutputResult::Queued) {
            notify(tr("Eco interrompido: %1.").arg(MSComm1.errorString()));
            break;
        }
    }
}
