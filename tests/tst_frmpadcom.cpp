#include "app/frmpadcom.h"
#include "app/widgets/textbox.h"
#include "support/pty.h"
#include "support/window.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

#include <ctime>
#include <memory>

namespace {

QString textOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *t = qobject_cast<TextBox *>(w))
        return t->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    return QStringLiteral("?");
}

const QStringList kWorking = {
    QStringLiteral("eco"),      QStringLiteral("Text6"),    QStringLiteral("Text7"),
    QStringLiteral("Command2"), QStringLiteral("Command8"), QStringLiteral("Check1"),
    QStringLiteral("Text4"),    QStringLiteral("Command7"), QStringLiteral("Text3"),
    QStringLiteral("Text2"),    QStringLiteral("Command6"), QStringLiteral("Command5"),
    QStringLiteral("Command4"), QStringLiteral("Text1"),    QStringLiteral("Command3"),
    QStringLiteral("Command1"), QStringLiteral("Label7"),   QStringLiteral("Label6"),
    QStringLiteral("Label5"),   QStringLiteral("Label3"),   QStringLiteral("Label2"),
    QStringLiteral("Label1"),
};

} // namespace

class TestFrmPadcom : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void controls_data();
    void controls();
    void window();
    void captionsWholeAndApart();
    void frameCoversEverything();
    void tabOrder();
    void limpar();
    void fillEighty();
    void sair();
    void openFails_data();
    void openFails();
    void openBusyPortFails();
    void openAndReopen();
    void enterInNumberOpens();
    void portTableInTooltip();
    void lossDuringLoopClosesWindowToo();

private:
    void open(const QString &number = QStringLiteral("1"));
    QStringList tabCycle(int presses);

    RuntimeDir m_runtime;
    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<frmPADCOM> m_form;
};

void TestFrmPadcom::initTestCase()
{
    QVERIFY(m_runtime.isValid());
}

void TestFrmPadcom::init()
{
    QVERIFY(startWindowOnPty(m_peer, m_form));
    QApplication::setActiveWindow(m_form.get());
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

void TestFrmPadcom::cleanup()
{
    m_form.reset();
    m_peer.reset();
}

void TestFrmPadcom::open(const QString &number)
{
    control<QLineEdit>(*m_form, "Text5")->setText(number);
    QTest::mouseClick(control<QPushButton>(*m_form, "CMDInicializar"), Qt::LeftButton);
    QVERIFY(m_form->comm().PortOpen());
    QVERIFY(!control<QGroupBox>(*m_form, "Inicia")->isVisible());
}

void TestFrmPadcom::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    // The captions are the window's own texts, exact to the character. Where each control
    // sits is the window's own table; the screenshot and captionsWholeAndApart check it.
    auto row = [](const char *name, const QString &text) {
        QTest::newRow(name) << QString::fromLatin1(name) << text;
    };
    row("Inicia", QStringLiteral("Porta serial"));
    row("Text5", QStringLiteral("1"));
    row("CMDInicializar", QStringLiteral("Inicia a Porta Serial"));
    row("Label4", QStringLiteral("Porta Serial Numero:"));
    row("eco", QStringLiteral("Eco"));
    row("Text6", QStringLiteral("0"));
    row("Text7", QStringLiteral("0"));
    row("Command2", QStringLiteral("Sair"));
    row("Command8", QStringLiteral("Reiniciar a Porta Serial"));
    row("Check1", QStringLiteral("Enviar Errado"));
    row("Text4", QStringLiteral("100"));
    row("Command7", QStringLiteral("Loop de envio p/ o Display"));
    row("Text3", QString());
    row("Text2", QString());
    row("Command6", QStringLiteral("Posicionhar 2º Linha Display"));
    row("Command5", QStringLiteral("Posicionhar 1º Linha Display"));
    row("Command4", QStringLiteral("Limpar Display"));
    row("Text1", QStringLiteral(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN "));
    row("Command3", QStringLiteral("Escrever no display"));
    row("Command1", QStringLiteral("Limpar"));
    row("Label7", QStringLiteral("Erro"));
    row("Label6", QStringLiteral("Nack"));
    row("Label5", QStringLiteral("Preencher c/ 80 caracteres"));
    row("Label3", QStringLiteral("Taxa (ms)"));
    row("Label2", QStringLiteral("Código HEX"));
    row("Label1", QStringLiteral("Código ASC"));
}

void TestFrmPadcom::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    auto *w = m_form->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(textOf(w), text);
    if (auto *b = qobject_cast<QPushButton *>(w)) {
        QVERIFY(!b->isDefault());
        QVERIFY(!b->autoDefault());
    }
    if (auto *c = qobject_cast<QCheckBox *>(w))
        QVERIFY(!c->isChecked());
    if (auto *e = qobject_cast<QLineEdit *>(w))
        QVERIFY(!e->isReadOnly());
    if (auto *t = qobject_cast<QPlainTextEdit *>(w))
        QVERIFY(!t->isReadOnly());
}

void TestFrmPadcom::window()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Teclado Vorlan"));
    QCOMPARE(m_form->size(), QSize(507, 381));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    QVERIFY(m_form->windowIcon().availableSizes().contains(QSize(32, 32)));
    QCOMPARE(control<QLineEdit>(*m_form, "Text5")->maxLength(), 2);
    QCOMPARE(control<TextBox>(*m_form, "Text1")->maxLength(), 80);
    QCOMPARE(control<TextBox>(*m_form, "Text1")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(control<TextBox>(*m_form, "Text2")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(control<TextBox>(*m_form, "Text3")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    auto *label5 = control<QLabel>(*m_form, "Label5");
    QCOMPARE(label5->foregroundRole(), QPalette::Highlight);
    QCOMPARE(m_form->loopOn(), qint16(0));
    QCOMPARE(m_form->timer().Interval(), 0);
    QVERIFY(!m_form->timer().isTicking());
    QVERIFY(!m_form->comm().PortOpen());
    QCOMPARE(QApplication::focusWidget(), control<QWidget>(*m_form, "Text5"));
}

void TestFrmPadcom::captionsWholeAndApart()
{
    QVERIFY(m_form->captionsFit());
    open();
    QList<QWidget *> visible;
    for (const QString &name : kWorking)
        visible << m_form->findChild<QWidget *>(name);
    for (qsizetype i = 0; i < visible.size(); ++i) {
        QVERIFY(visible[i]->isVisible());
        for (qsizetype j = i + 1; j < visible.size(); ++j)
            QVERIFY2(!visible[i]->geometry().intersects(visible[j]->geometry()),
                     qPrintable(visible[i]->objectName() + u' ' + visible[j]->objectName()));
    }
}

void TestFrmPadcom::frameCoversEverything()
{
    auto *frame = control<QGroupBox>(*m_form, "Inicia");
    for (const QString &name : kWorking) {
        auto *w = m_form->findChild<QWidget *>(name);
        const QPoint centre = w->mapTo(m_form.get(), w->rect().center());
        QWidget *hit = m_form->childAt(centre);
        QVERIFY2(hit == frame || frame->isAncestorOf(hit), qPrintable(name));
        QVERIFY2(!w->isVisible(), qPrintable(name)); // out of reach of keys too
    }
}

QStringList TestFrmPadcom::tabCycle(int presses)
{
    QStringList seen;
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << QApplication::focusWidget()->objectName();
    }
    return seen;
}

void TestFrmPadcom::tabOrder()
{
    QCOMPARE(tabCycle(4), (QStringList{QStringLiteral("CMDInicializar"), QStringLiteral("Text5"),
                                       QStringLiteral("CMDInicializar"), QStringLiteral("Text5")}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // the keyboard opens the port
    QVERIFY(m_form->comm().PortOpen());
    // The focus starts the working controls' order, not on "Reiniciar a Porta Serial".
    QCOMPARE(QApplication::focusWidget(), control<QWidget>(*m_form, "Command3"));
    control<QWidget>(*m_form, "eco")->setFocus();
    const QStringList expected = {
        QStringLiteral("Command3"), QStringLiteral("Command1"), QStringLiteral("Command2"),
        QStringLiteral("Text1"),    QStringLiteral("Command4"), QStringLiteral("Command5"),
        QStringLiteral("Command6"), QStringLiteral("Text2"),    QStringLiteral("Text3"),
        QStringLiteral("Command7"), QStringLiteral("Text4"),    QStringLiteral("Check1"),
        QStringLiteral("Command8"), QStringLiteral("Text7"),    QStringLiteral("Text6"),
        QStringLiteral("eco"),
    };
    QCOMPARE(tabCycle(int(expected.size())), expected);

    control<QWidget>(*m_form, "Command8")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(!m_form->comm().PortOpen());
    QCOMPARE(QApplication::focusWidget(), control<QWidget>(*m_form, "Text5"));
}

void TestFrmPadcom::limpar()
{
    open();
    auto *text2 = control<TextBox>(*m_form, "Text2");
    auto *text3 = control<TextBox>(*m_form, "Text3");
    auto *text6 = control<QLineEdit>(*m_form, "Text6");
    text2->setText(QStringLiteral(" abc"));
    text3->setText(QStringLiteral(" 61 62 63"));
    text6->setText(QStringLiteral("5"));
    QTest::mouseClick(control<QPushButton>(*m_form, "Command1"), Qt::LeftButton);
    QCOMPARE(text2->text(), QString());
    QCOMPARE(text3->text(), QString());
    QCOMPARE(text6->text(), QStringLiteral("5"));
    QTest::qWait(50);
    QCOMPARE(m_peer->received(), QByteArray()); // nothing sent
}

void TestFrmPadcom::fillEighty()
{
    open();
    auto *text1 = control<TextBox>(*m_form, "Text1");
    auto *label5 = control<QLabel>(*m_form, "Label5");
    const QString eighty = QStringLiteral("0123456789").repeated(8);
    QTest::mouseClick(label5, Qt::LeftButton);
    QCOMPARE(text1->text(), eighty);
    QTest::mouseClick(label5, Qt::LeftButton);
    QCOMPARE(text1->text(), eighty);
    text1->setFocus();
    text1->moveCursor(QTextCursor::End);
    QTest::keyClicks(text1, QStringLiteral("x"));
    QCOMPARE(text1->text(), eighty);
    QTest::mouseClick(control<QLabel>(*m_form, "Label1"), Qt::LeftButton); // not a button
    QCOMPARE(text1->text(), eighty);
}

void TestFrmPadcom::sair()
{
    open();
    QTimer::singleShot(0, m_form.get(), [this] {
        QTest::mouseClick(control<QPushButton>(*m_form, "Command2"), Qt::LeftButton);
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(m_peer->received(), QByteArray());
}

void TestFrmPadcom::openFails_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason");
    const QString fixed = QStringLiteral("Não Foi possivel iniciar a Porta Serial Numero ");
    const QString typeIt = QStringLiteral("Motivo: digite o número da porta, de 1 a 255.");
    QTest::newRow("empty") << QString() << fixed + u'.' << typeIt;
    QTest::newRow("letters") << QStringLiteral("ab") << fixed + QStringLiteral("ab.") << typeIt;
    QTest::newRow("zero") << QStringLiteral("0") << fixed + QStringLiteral("0.")
                          << QStringLiteral("Motivo: os números de porta vão de 1 a 255.");
    QTest::newRow("no such port") << QStringLiteral("99") << fixed + QStringLiteral("99.")
                                  << QStringLiteral("Motivo: não há porta serial com o número 99.");
    QTest::newRow("not a terminal") << QStringLiteral("6") << fixed + QStringLiteral("6.")
                                    << QStringLiteral("não é uma porta serial.");
    QTest::newRow("blank") << QStringLiteral(" ") << fixed + QStringLiteral(" .") << typeIt;
}

void TestFrmPadcom::openFails()
{
    QFETCH(QString, number);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    QFile plain(m_runtime.path() + QStringLiteral("/plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(linkPort(6, plain.fileName()));

    control<QLineEdit>(*m_form, "Text5")->setText(number);
    const ModalSeen seen = answerModal([this] {
        QTest::mouseClick(control<QPushButton>(*m_form, "CMDInicializar"), Qt::LeftButton);
    });
    QVERIFY(seen.shown);
    QCOMPARE(seen.text, message);
    QVERIFY2(seen.informative.endsWith(reason), qPrintable(seen.informative));
    QCOMPARE(seen.title, frmPADCOM::kAppTitle);
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, 1);
    QVERIFY(control<QGroupBox>(*m_form, "Inicia")->isVisible());
    QVERIFY(!m_form->comm().PortOpen());
    // A good number still opens afterwards.
    open();
}

void TestFrmPadcom::openBusyPortFails()
{
    MSComm holder;
    QVERIFY(holder.setCommPort(1) && holder.setPortOpen(true));
    const ModalSeen seen = answerModal([this] {
        QTest::mouseClick(control<QPushButton>(*m_form, "CMDInicializar"), Qt::LeftButton);
    });
    QCOMPARE(seen.text, QStringLiteral("Não Foi possivel iniciar a Porta Serial Numero 1."));
    QVERIFY2(seen.informative.contains(QStringLiteral("em uso por outro programa")),
             qPrintable(seen.informative));
    QVERIFY(control<QGroupBox>(*m_form, "Inicia")->isVisible());
    holder.setPortOpen(false);
    open();
}

void TestFrmPadcom::openAndReopen()
{
    open();
    QCOMPARE(m_peer->slaveTermios().c_cflag & CSIZE, tcflag_t(CS8));
    auto *text2 = control<TextBox>(*m_form, "Text2");
    auto *text3 = control<TextBox>(*m_form, "Text3");
    control<QLineEdit>(*m_form, "Text6")->setText(QStringLiteral("3"));
    control<QLineEdit>(*m_form, "Text4")->setText(QStringLiteral("250"));
    control<QCheckBox>(*m_form, "eco")->setChecked(true);
    m_peer->send("Q");
    QTRY_COMPARE(text3->text(), QStringLiteral(" 51"));

    QTest::mouseClick(control<QPushButton>(*m_form, "Command8"), Qt::LeftButton);
    QVERIFY(control<QGroupBox>(*m_form, "Inicia")->isVisible());
    QVERIFY(!m_form->comm().PortOpen());
    QCOMPARE(text2->text(), QString());
    QCOMPARE(text3->text(), QString());
    QCOMPARE(control<QLineEdit>(*m_form, "Text6")->text(), QStringLiteral("3"));
    QCOMPARE(control<QLineEdit>(*m_form, "Text7")->text(), QStringLiteral("1"));
    QCOMPARE(control<QLineEdit>(*m_form, "Text4")->text(), QStringLiteral("250"));
    QVERIFY(control<QCheckBox>(*m_form, "eco")->isChecked());

    // Open again, on another number.
    PtyPeer other;
    QVERIFY(linkPort(2, other.slavePath()));
    open(QStringLiteral("2"));
    QCOMPARE(m_form->comm().CommPort(), qint16(2));
    QTest::mouseClick(control<QPushButton>(*m_form, "Command4"), Qt::LeftButton);
    QTRY_COMPARE(other.received(), QByteArray("\xA0\x01"));
}

void TestFrmPadcom::enterInNumberOpens()
{
    auto *text5 = control<QLineEdit>(*m_form, "Text5");
    text5->setFocus();
    text5->selectAll();
    QTest::keyClicks(text5, QStringLiteral("1"));
    QTest::keyClick(text5, Qt::Key_Return);
    QVERIFY(m_form->comm().PortOpen());
    QVERIFY(!control<QGroupBox>(*m_form, "Inicia")->isVisible());
}

void TestFrmPadcom::portTableInTooltip()
{
    auto *text5 = control<QLineEdit>(*m_form, "Text5");
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), text5->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(text5, &help);
    QVERIFY2(text5->toolTip().contains(QStringLiteral("1: ")
                                       + QFileInfo(m_peer->slavePath()).canonicalFilePath()),
             qPrintable(text5->toolTip()));
}

void TestFrmPadcom::lossDuringLoopClosesWindowToo()
{
    // A loop at 1 ms, logs and counts filled, then the device goes away.
    open();
    m_peer->send("AB");
    auto *text3 = control<TextBox>(*m_form, "Text3");
    QTRY_COMPARE(text3->text(), QStringLiteral(" 41 42"));
    control<QLineEdit>(*m_form, "Text4")->setText(QStringLiteral("1"));
    QTest::mouseClick(control<QPushButton>(*m_form, "Command7"), Qt::LeftButton);
    QTRY_VERIFY(!m_peer->received().isEmpty());
    auto *notice = m_form->findChild<QMessageBox *>(QStringLiteral("notice"));
    m_peer->closeMaster();
    QTRY_VERIFY(notice->isVisible());

    // Back to the closed port, told once, in the user's terms.
    QVERIFY(control<QGroupBox>(*m_form, "Inicia")->isVisible());
    QCOMPARE(m_form->loopOn(), qint16(0));
    QVERIFY(!m_form->timer().isTicking());
    QVERIFY2(notice->text().startsWith(QStringLiteral("A porta serial 1 (")),
             qPrintable(notice->text()));
    QVERIFY(notice->text().contains(QStringLiteral("desconectado")));
    QVERIFY(notice->text().contains(QStringLiteral("\"Inicia a Porta Serial\"")));
    QVERIFY(notice->windowModality() == Qt::NonModal);
    // Idle afterwards: no tick, no write, no spinning on the dead device.
    const std::clock_t before = std::clock();
    QTest::qWait(500);
    const double cpu = double(std::clock() - before) / CLOCKS_PER_SEC;
    QVERIFY2(cpu < 0.1, qPrintable(QString::number(cpu)));
    // What the user was looking at is kept.
    QCOMPARE(text3->text(), QStringLiteral(" 41 42"));
    QCOMPARE(control<QLineEdit>(*m_form, "Text7")->text(), QStringLiteral("2"));

    // The device back under the same number: one click brings the user back to it all.
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(linkPort(1, m_peer->slavePath()));
    notice->hide();
    open();
    QCOMPARE(text3->text(), QStringLiteral(" 41 42"));
    QTest::mouseClick(control<QPushButton>(*m_form, "Command5"), Qt::LeftButton);
    QTRY_COMPARE(m_peer->received(), QByteArray("\xA0\x80"));
    QVERIFY(!notice->isVisible());
}

QTEST_MAIN(TestFrmPadcom)
#include "tst_frmpadcom.moc"
