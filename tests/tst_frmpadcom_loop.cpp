#include "app/frmpadcom.h"
#include "app/widgets/textbox.h"
#include "protocol/sendloop.h"
#include "serial/linesettings.h"
#include "testkit/windowrig.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

QByteArray tick(const QByteArray &text, bool wrong = false)
{
    return QByteArray("\xA0\x80\xA5") + char(text.size() + (wrong ? 1 : 0)) + text;
}

} // namespace

class TestFrmPadcomLoop : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startFillsEmptyTextAndStops();
    void badRateKeepsLoopStopped_data();
    void badRateKeepsLoopStopped();
    void rateZeroSendsNothing();
    void ticksSendCursorThenText();
    void editsTakeEffectAtNextTick();
    void rateReadOnlyAtStart();
    void reopenStopsLoop();
    void slowLineBoundsQueueAndSkipsTicks();
    void ticksKeepTimeWhileWindowBusy();
    void nothingWrittenWhileClosed();

private:
    void open() { QVERIFY(m_rig->open()); }
    void click(const char *name) { m_rig->click(name); }
    QMessageBox *notice() { return m_rig->notice(); }

    std::unique_ptr<WindowRig> m_rig;
    TextBox *m_text1 = nullptr;
    QLineEdit *m_rate = nullptr;
};

void TestFrmPadcomLoop::init()
{
    m_rig = std::make_unique<WindowRig>();
    QVERIFY(m_rig->isValid());
    m_rig->show();
    m_text1 = m_rig->get<TextBox>("Text1");
    m_rate = m_rig->get<QLineEdit>("Text4");
}

void TestFrmPadcomLoop::cleanup()
{
    m_rig.reset();
}

void TestFrmPadcomLoop::startFillsEmptyTextAndStops()
{
    open();
    m_text1->setText(QString());
    click("Command7");
    QCOMPARE(m_text1->text(), sendloop::kTestText);
    QCOMPARE(m_rig->form->loopOn(), qint16(-1));
    QCOMPARE(m_rig->form->timer().Interval(), 100);
    QVERIFY(m_rig->form->timer().isTicking());
    QTest::qWait(20);
    QCOMPARE(m_rig->received(), QByteArray()); // the first tick comes one interval later

    click("Command7");
    QCOMPARE(m_rig->form->loopOn(), qint16(0));
    QVERIFY(!m_rig->form->timer().isTicking());
    QCOMPARE(m_text1->text(), sendloop::kTestText);

    // A text of blanks is a text: kept at the next start.
    m_text1->setText(QStringLiteral("  "));
    click("Command7");
    QCOMPARE(m_text1->text(), QStringLiteral("  "));
    QCOMPARE(m_rig->form->loopOn(), qint16(-1));
}

void TestFrmPadcomLoop::badRateKeepsLoopStopped_data()
{
    QTest::addColumn<QString>("rate");
    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << QStringLiteral("abc");
    QTest::newRow("negative") << QStringLiteral("-10");
    QTest::newRow("too large") << QStringLiteral("65536");
    QTest::newRow("a placeholder") << QStringLiteral("%0");
    QTest::newRow("another placeholder") << QStringLiteral("%1%2");
}

void TestFrmPadcomLoop::badRateKeepsLoopStopped()
{
    QFETCH(QString, rate);
    open();
    m_text1->setText(QString());
    m_rate->setText(rate);
    click("Command7");
    QCOMPARE(m_text1->text(), sendloop::kTestText);
    QCOMPARE(m_rig->form->loopOn(), qint16(0));
    QVERIFY(!m_rig->form->timer().isTicking());
    QVERIFY(notice()->isVisible());
    // The rate as typed, never read as a placeholder of the message.
    QCOMPARE(notice()->text(), QStringLiteral("Taxa inválida: \"%1\". Digite um número inteiro de "
                                              "milissegundos, de 0 a 65535.")
                                   .replace(QStringLiteral("%1"), rate));
    QVERIFY(notice()->windowModality() == Qt::NonModal);

    // Mended, the next click starts the loop.
    m_rate->setText(QStringLiteral("30"));
    click("Command7");
    QCOMPARE(m_rig->form->loopOn(), qint16(-1));
    QCOMPARE(m_rig->form->timer().Interval(), 30);
}

void TestFrmPadcomLoop::rateZeroSendsNothing()
{
    open();
    m_rate->setText(QStringLiteral("0"));
    click("Command7");
    QCOMPARE(m_rig->form->loopOn(), qint16(-1));
    QVERIFY(!m_rig->form->timer().isTicking());
    QTest::qWait(100);
    QCOMPARE(m_rig->received(), QByteArray());
    click("Command7");
    QCOMPARE(m_rig->form->loopOn(), qint16(0));
}

void TestFrmPadcomLoop::ticksSendCursorThenText()
{
    open();
    m_text1->setText(QString());
    m_rate->setText(QStringLiteral("20"));
    click("Command7");
    const QByteArray one = tick(sendloop::kTestText.toLatin1());
    QCOMPARE(one.size(), 82);
    QTRY_VERIFY(m_rig->received().size() >= 2 * one.size());
    click("Command7");
    QTRY_COMPARE(m_rig->form->comm().OutBufferCount(), 0);
    const QByteArray all = m_rig->received();
    QCOMPARE(all.size() % one.size(), 0);
    QCOMPARE(all, one.repeated(all.size() / one.size()));

    // Stopped: no tick follows.
    QTest::qWait(100);
    QCOMPARE(m_rig->received(), all);
}

void TestFrmPadcomLoop::editsTakeEffectAtNextTick()
{
    open();
    m_text1->setText(QStringLiteral("AB"));
    m_rate->setText(QStringLiteral("40"));
    click("Command7");
    QTRY_VERIFY(m_rig->received().startsWith(tick("AB")));
    m_text1->setText(QStringLiteral("xyz"));
    m_rig->get<QCheckBox>("Check1")->setChecked(true);
    QTRY_VERIFY(m_rig->received().contains(tick("xyz", true)));
    click("Command7");
    // Every tick is whole; the change falls between two of them.
    QByteArray rest = m_rig->received();
    while (rest.startsWith(tick("AB")))
        rest.remove(0, tick("AB").size());
    while (rest.startsWith(tick("xyz", true)))
        rest.remove(0, tick("xyz", true).size());
    QCOMPARE(rest, QByteArray());
}

void TestFrmPadcomLoop::rateReadOnlyAtStart()
{
    open();
    m_rate->setText(QStringLiteral("50"));
    click("Command7");
    m_rate->setText(QStringLiteral("500"));
    QCOMPARE(m_rig->form->timer().Interval(), 50);
    click("Command7");
    click("Command7");
    QCOMPARE(m_rig->form->timer().Interval(), 500);
}

void TestFrmPadcomLoop::reopenStopsLoop()
{
    open();
    m_rate->setText(QStringLiteral("20"));
    click("Command7");
    QTRY_VERIFY(!m_rig->received().isEmpty());
    click("Command8");
    QCOMPARE(m_rig->form->loopOn(), qint16(0));
    QVERIFY(!m_rig->form->timer().isTicking());
    QVERIFY(!m_rig->form->comm().PortOpen());
    QTest::qWait(150);
    // Whole ticks only, the last one let finish; no write met the closed port.
    const QByteArray one = tick(m_text1->text().toLatin1());
    const QByteArray all = m_rig->received();
    QCOMPARE(all, one.repeated(all.size() / one.size()));
    QVERIFY(!notice()->isVisible());

    open();
    click("Command7");
    QCOMPARE(m_rig->form->loopOn(), qint16(-1));
}

void TestFrmPadcomLoop::slowLineBoundsQueueAndSkipsTicks()
{
    // 84 bytes every 20 ms asks for 4200 bytes a second; the line carries 960.
    m_rig->attach(LineSettings().bytesPerSecond());
    open();
    QTest::mouseClick(m_rig->get<QWidget>("Label5"), Qt::LeftButton);
    m_rate->setText(QStringLiteral("20"));
    click("Command7");
    qsizetype fullest = 0;
    QElapsedTimer running;
    running.start();
    while (running.elapsed() < 1500) {
        QTest::qWait(5);
        fullest = std::max(fullest, m_rig->form->comm().OutBufferCount());
    }
    QVERIFY(fullest <= 512);
    QVERIFY(fullest > 512 - 84); // the line is kept full
    QVERIFY(notice()->isVisible());
    QVERIFY(notice()->text().contains(QStringLiteral("pulados")));
    notice()->hide();
    QTest::qWait(200);
    QVERIFY(!notice()->isVisible()); // told once per run, not once per tick

    click("Command7");
    const qsizetype atStop = m_rig->received().size();
    QTRY_COMPARE_WITH_TIMEOUT(m_rig->form->comm().OutBufferCount(), 0, 2000);
    QTest::qWait(150);
    QVERIFY(m_rig->received().size() - atStop <= 512 + 64);
    // Only whole ticks went out.
    const QByteArray one = tick(QByteArray("0123456789").repeated(8));
    const QByteArray all = m_rig->received();
    QCOMPARE(all, one.repeated(all.size() / one.size()));
    QVERIFY(all.size() / one.size() < 1500 / 20); // ticks were skipped
}

void TestFrmPadcomLoop::ticksKeepTimeWhileWindowBusy()
{
    open();
    m_text1->setText(QStringLiteral("0123456789"));
    m_rate->setText(QStringLiteral("20"));
    click("Command7");
    const QByteArray one = tick("0123456789");
    QTRY_VERIFY(m_rig->received().size() >= one.size());
    // The window's thread does nothing else for 300 ms (a long paint, a burst of replies):
    // the far end hears the ticks due meanwhile all the same.
    const qsizetype before = m_rig->received().count(one);
    std::this_thread::sleep_for(300ms);
    const qsizetype during = m_rig->received().count(one) - before;
    click("Command7");
    // 15 were due; a loaded machine may coalesce a few, a loop on the window's thread sends none.
    QVERIFY2(during >= 8, qPrintable(QString::number(during)));
    QVERIFY(during <= 16);
}

void TestFrmPadcomLoop::nothingWrittenWhileClosed()
{
    // The port never opened: a tick or a frame is refused and told, never sent.
    m_rig->form->Command7_Click();
    QTRY_VERIFY(notice()->isVisible());
    m_rig->form->Command7_Click();
    QVERIFY(notice()->text().contains(QStringLiteral("fechada")));
    m_rig->form->Command3_Click();
    m_rig->form->Command6_Click();
    QTest::qWait(50);
    QCOMPARE(m_rig->received(), QByteArray());
}

QTEST_MAIN(TestFrmPadcomLoop)
#include "tst_frmpadcom_loop.moc"
