#include "app/frmpadcom.h"
#include "app/widgets/logview.h"
#include "app/widgets/textbox.h"
#include "testkit/ptypeer.h"
#include "testkit/windowrig.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryFile>

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
    if (auto *l = qobject_cast<LogView *>(w))
        return l->text();
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
    void openAndReopen();
    void enterInNumberOpensOnce_data();
    void enterInNumberOpensOnce();
    void portTableInTooltip();

private:
    void open(const QString &number = QStringLiteral("1"));
    QStringList tabCycle(int presses);

    std::unique_ptr<WindowRig> m_rig;
};

void TestFrmPadcom::init()
{
    m_rig = std::make_unique<WindowRig>();
    QVERIFY(m_rig->isValid());
    m_rig->show();
    QApplication::setActiveWindow(m_rig->form.get());
    QVERIFY(QTest::qWaitForWindowActive(m_rig->form.get()));
}

void TestFrmPadcom::cleanup()
{
    m_rig.reset();
}

void TestFrmPadcom::open(const QString &number)
{
    QVERIFY(m_rig->open(number));
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
    auto *w = m_rig->form->findChild<QWidget *>(name);
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
    QCOMPARE(m_rig->form->windowTitle(), QStringLiteral("Teclado Vorlan"));
    QCOMPARE(m_rig->form->size(), QSize(507, 381));
    QCOMPARE(m_rig->form->minimumSize(), m_rig->form->maximumSize());
    QVERIFY(m_rig->form->windowIcon().availableSizes().contains(QSize(32, 32)));
    QCOMPARE(m_rig->get<QLineEdit>("Text5")->maxLength(), 2);
    QCOMPARE(m_rig->get<TextBox>("Text1")->maxLength(), 80);
    QCOMPARE(m_rig->get<TextBox>("Text1")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(m_rig->get<LogView>("Text2")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(m_rig->get<LogView>("Text3")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    auto *label5 = m_rig->get<QLabel>("Label5");
    QCOMPARE(label5->foregroundRole(), QPalette::Highlight);
    QCOMPARE(m_rig->form->loopOn(), qint16(0));
    QCOMPARE(m_rig->form->timer().Interval(), 0);
    QVERIFY(!m_rig->form->timer().isTicking());
    QVERIFY(!m_rig->form->comm().PortOpen());
    QCOMPARE(QApplication::focusWidget(), m_rig->get<QWidget>("Text5"));
}

void TestFrmPadcom::captionsWholeAndApart()
{
    QVERIFY(m_rig->form->captionsFit());
    open();
    QList<QWidget *> visible;
    for (const QString &name : kWorking)
        visible << m_rig->form->findChild<QWidget *>(name);
    for (qsizetype i = 0; i < visible.size(); ++i) {
        QVERIFY(visible[i]->isVisible());
        for (qsizetype j = i + 1; j < visible.size(); ++j)
            QVERIFY2(!visible[i]->geometry().intersects(visible[j]->geometry()),
                     qPrintable(visible[i]->objectName() + u' ' + visible[j]->objectName()));
    }
}

void TestFrmPadcom::frameCoversEverything()
{
    auto *frame = m_rig->get<QGroupBox>("Inicia");
    for (const QString &name : kWorking) {
        auto *w = m_rig->form->findChild<QWidget *>(name);
        const QPoint centre = w->mapTo(m_rig->form.get(), w->rect().center());
        QWidget *hit = m_rig->form->childAt(centre);
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
    QVERIFY(m_rig->form->comm().PortOpen());
    // The focus starts the working controls' order, not on "Reiniciar a Porta Serial".
    QCOMPARE(QApplication::focusWidget(), m_rig->get<QWidget>("Command3"));
    m_rig->get<QWidget>("eco")->setFocus();
    const QStringList expected = {
        QStringLiteral("Command3"), QStringLiteral("Command1"), QStringLiteral("Command2"),
        QStringLiteral("Text1"),    QStringLiteral("Command4"), QStringLiteral("Command5"),
        QStringLiteral("Command6"), QStringLiteral("Text2"),    QStringLiteral("Text3"),
        QStringLiteral("Command7"), QStringLiteral("Text4"),    QStringLiteral("Check1"),
        QStringLiteral("Command8"), QStringLiteral("Text7"),    QStringLiteral("Text6"),
        QStringLiteral("eco"),
    };
    QCOMPARE(tabCycle(int(expected.size())), expected);

    m_rig->get<QWidget>("Command8")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(!m_rig->form->comm().PortOpen());
    QCOMPARE(QApplication::focusWidget(), m_rig->get<QWidget>("Text5"));
}

void TestFrmPadcom::limpar()
{
    open();
    auto *text2 = m_rig->get<LogView>("Text2");
    auto *text3 = m_rig->get<LogView>("Text3");
    auto *text6 = m_rig->get<QLineEdit>("Text6");
    text2->setText(QStringLiteral(" abc"));
    text3->setText(QStringLiteral(" 61 62 63"));
    text6->setText(QStringLiteral("5"));
    QTest::mouseClick(m_rig->get<QPushButton>("Command1"), Qt::LeftButton);
    QCOMPARE(text2->text(), QString());
    QCOMPARE(text3->text(), QString());
    QCOMPARE(text6->text(), QStringLiteral("5"));
    QTest::qWait(50);
    QCOMPARE(m_rig->received(), QByteArray()); // nothing sent
}

void TestFrmPadcom::fillEighty()
{
    open();
    auto *text1 = m_rig->get<TextBox>("Text1");
    auto *label5 = m_rig->get<QLabel>("Label5");
    const QString eighty = QStringLiteral("0123456789").repeated(8);
    QTest::mouseClick(label5, Qt::LeftButton);
    QCOMPARE(text1->text(), eighty);
    QTest::mouseClick(label5, Qt::LeftButton);
    QCOMPARE(text1->text(), eighty);
    text1->setFocus();
    text1->moveCursor(QTextCursor::End);
    QTest::keyClicks(text1, QStringLiteral("x"));
    QCOMPARE(text1->text(), eighty);
    QTest::mouseClick(m_rig->get<QLabel>("Label1"), Qt::LeftButton); // not a button
    QCOMPARE(text1->text(), eighty);
}

void TestFrmPadcom::sair()
{
    open();
    QTimer::singleShot(0, m_rig->form.get(), [this] {
        QTest::mouseClick(m_rig->get<QPushButton>("Command2"), Qt::LeftButton);
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(m_rig->received(), QByteArray());
}

void TestFrmPadcom::openFails_data()
{
    // The reasons are the serial control's and the port setup's (their own tables); here,
    // how the window tells them: the number as typed, the reason under it, the frame kept.
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason");
    const QString fixed = QStringLiteral("Não Foi possivel iniciar a Porta Serial Numero ");
    const QString typeIt = QStringLiteral("Motivo: digite o número da porta, de 1 a 99.");
    QTest::newRow("empty") << QString() << fixed + u'.' << typeIt;
    QTest::newRow("letters") << QStringLiteral("ab") << fixed + QStringLiteral("ab.") << typeIt;
    QTest::newRow("not a terminal") << QStringLiteral("6") << fixed + QStringLiteral("6.")
                                    << QStringLiteral("não é uma porta serial.");
}

void TestFrmPadcom::openFails()
{
    QFETCH(QString, number);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    QTemporaryFile plain;
    QVERIFY(plain.open());
    QVERIFY(linkPort(6, plain.fileName()));

    m_rig->get<QLineEdit>("Text5")->setText(number);
    const ModalSeen seen = answerModal(
        [this] { QTest::mouseClick(m_rig->get<QPushButton>("CMDInicializar"), Qt::LeftButton); });
    QVERIFY(seen.shown);
    QCOMPARE(seen.text, message);
    QVERIFY2(seen.informative.endsWith(reason), qPrintable(seen.informative));
    QCOMPARE(seen.title, frmPADCOM::kAppTitle);
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, 1);
    QVERIFY(m_rig->get<QGroupBox>("Inicia")->isVisible());
    QVERIFY(!m_rig->form->comm().PortOpen());
    // A good number still opens afterwards.
    open();
}

void TestFrmPadcom::openAndReopen()
{
    open();
    QCOMPARE(m_rig->peer().slaveTermios().c_cflag & CSIZE, tcflag_t(CS8));
    auto *text2 = m_rig->get<LogView>("Text2");
    auto *text3 = m_rig->get<LogView>("Text3");
    m_rig->get<QLineEdit>("Text6")->setText(QStringLiteral("3"));
    m_rig->get<QLineEdit>("Text4")->setText(QStringLiteral("250"));
    m_rig->get<QCheckBox>("eco")->setChecked(true);
    m_rig->send("Q");
    QTRY_COMPARE(text3->text(), QStringLiteral(" 51"));

    QTest::mouseClick(m_rig->get<QPushButton>("Command8"), Qt::LeftButton);
    QVERIFY(m_rig->get<QGroupBox>("Inicia")->isVisible());
    QVERIFY(!m_rig->form->comm().PortOpen());
    QCOMPARE(text2->text(), QString());
    QCOMPARE(text3->text(), QString());
    QCOMPARE(m_rig->text("Text6"), QStringLiteral("3"));
    QCOMPARE(m_rig->text("Text7"), QStringLiteral("1"));
    QCOMPARE(m_rig->get<QLineEdit>("Text4")->text(), QStringLiteral("250"));
    QVERIFY(m_rig->get<QCheckBox>("eco")->isChecked());

    // Open again, on another number.
    PtyPeer other;
    QVERIFY(linkPort(2, other.slavePath()));
    open(QStringLiteral("2"));
    QCOMPARE(m_rig->form->comm().CommPort(), qint16(2));
    QTest::mouseClick(m_rig->get<QPushButton>("Command4"), Qt::LeftButton);
    QTRY_COMPARE(other.received(), QByteArray("\xA0\x01"));
}

void TestFrmPadcom::enterInNumberOpensOnce_data()
{
    // After the Enter that opened the port, what else reaches "Escrever no display".
    QTest::addColumn<int>("repeats");  // auto-repeats of the Enter held down
    QTest::addColumn<bool>("doubled"); // a second Enter pressed at once
    QTest::addColumn<bool>("later");   // a second Enter once the first is long done
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("one Enter") << 0 << false << false << QByteArray();
    QTest::newRow("held") << 5 << false << false << QByteArray();
    QTest::newRow("doubled") << 0 << true << false << QByteArray();
    QTest::newRow("pressed again later")
        << 0 << false << true << QByteArray("\xA5\x27") + " TEXTE DO DISPLAY TECLADO RM 62 VORLAN ";
}

void TestFrmPadcom::enterInNumberOpensOnce()
{
    QFETCH(int, repeats);
    QFETCH(bool, doubled);
    QFETCH(bool, later);
    QFETCH(QByteArray, sent);
    auto *text5 = m_rig->get<QLineEdit>("Text5");
    text5->setFocus();
    text5->selectAll();
    QTest::keyClicks(text5, QStringLiteral("1"));
    QTest::keyPress(text5, Qt::Key_Return);
    QVERIFY(m_rig->form->comm().PortOpen());
    QVERIFY(!m_rig->covered());
    for (int i = 0; i < repeats; ++i) {
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"),
                         true);
        QApplication::sendEvent(QApplication::focusWidget(), &repeat);
    }
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Return);
    if (later)
        QTest::qWait(QApplication::doubleClickInterval() + 50);
    if (doubled || later)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), m_rig->get<QWidget>("Command3"));
    m_rig->settle(std::chrono::milliseconds(100), std::chrono::milliseconds(300));
    QCOMPARE(m_rig->received(), sent);
}

void TestFrmPadcom::portTableInTooltip()
{
    auto *text5 = m_rig->get<QLineEdit>("Text5");
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), text5->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(text5, &help);
    QVERIFY2(text5->toolTip().contains(QStringLiteral("1: ")
                                       + QFileInfo(m_rig->peer().slavePath()).canonicalFilePath()),
             qPrintable(text5->toolTip()));
}

QTEST_MAIN(TestFrmPadcom)
#include "tst_frmpadcom.moc"
