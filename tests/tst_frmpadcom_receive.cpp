#include "app/frmpadcom.h"
#include "app/widgets/countbox.h"
#include "app/widgets/framepacer.h"
#include "app/widgets/logview.h"
#include "testkit/windowrig.h"
#include "text/win1252.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <memory>
#include <thread>
#include <unistd.h>

class TestFrmPadcomReceive : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bytesReachLogsAndCounts();
    void echoFramesInOrder();
    void logsEmptiedAtLimit();
    void transmitFullEventChangesNothing();
    void largeBurstArrivesWhole();
    void streamPaintedTogetherOncePerRefresh();

private:
    std::unique_ptr<WindowRig> m_rig;
    LogView *m_ascii = nullptr;
    LogView *m_hex = nullptr;
    CountBox *m_nack = nullptr;
    CountBox *m_erro = nullptr;
};

void TestFrmPadcomReceive::init()
{
    m_rig = std::make_unique<WindowRig>();
    QVERIFY(m_rig->isValid());
    m_rig->show();
    m_ascii = m_rig->get<LogView>("Text2");
    m_hex = m_rig->get<LogView>("Text3");
    m_nack = m_rig->get<CountBox>("Text6");
    m_erro = m_rig->get<CountBox>("Text7");
    QVERIFY(m_rig->open());
}

void TestFrmPadcomReceive::cleanup()
{
    m_rig.reset();
}

void TestFrmPadcomReceive::bytesReachLogsAndCounts()
{
    m_rig->send("\x06\x15"
                "A");
    QTRY_COMPARE(m_hex->text(), QStringLiteral(" 6 15 41"));
    QCOMPARE(m_ascii->text(), QStringLiteral(" \x06\x15"
                                             "A"));
    QCOMPARE(m_nack->count(), QStringLiteral("1"));
    QCOMPARE(m_erro->count(), QStringLiteral("1"));
    QTest::qWait(50);
    QCOMPARE(m_rig->received(), QByteArray()); // no echo without "Eco"

    m_nack->setText(QStringLiteral("9"));
    m_erro->setText(QStringLiteral("abc"));
    m_rig->send("\x15Z");
    QTRY_COMPARE(m_nack->count(), QStringLiteral("10"));
    QCOMPARE(m_erro->count(), QStringLiteral("1"));
    QVERIFY(m_ascii->text().endsWith(QStringLiteral("\x15Z")));

    // Acknowledgements leave the counts alone, and so what the user selected in them.
    QTRY_COMPARE(m_nack->text(), m_nack->count()); // what the user sees and selects
    m_nack->selectAll();
    m_rig->send("\x06");
    QTRY_VERIFY(m_hex->text().endsWith(QStringLiteral(" 6")));
    QCOMPARE(m_nack->selectedText(), QStringLiteral("10"));
}

void TestFrmPadcomReceive::echoFramesInOrder()
{
    m_rig->get<QCheckBox>("eco")->setChecked(true);
    m_rig->get<QCheckBox>("Check1")->setChecked(true); // never affects the echo
    m_rig->send("\x06"
                "ABC\x15\xA5");
    QTRY_COMPARE(m_rig->received(), QByteArray("\xA5\x01"
                                               "A"
                                               "\xA5\x01"
                                               "B"
                                               "\xA5\x01"
                                               "C"
                                               "\xA5\x01\xA5"));
    QCOMPARE(m_erro->count(), QStringLiteral("4"));
    QCOMPARE(m_nack->count(), QStringLiteral("1"));
}

void TestFrmPadcomReceive::logsEmptiedAtLimit()
{
    // Where the limit lies is the rule's (its own table); the window empties both logs.
    // 200 bytes of "A" make 600 characters of hex log: the next block empties both.
    m_rig->send(QByteArray(200, 'A'));
    QThread::msleep(50);
    QTRY_COMPARE(m_erro->count(), QStringLiteral("200"));
    QCOMPARE(m_hex->text().size(), 600);
    m_rig->send("B");
    QTRY_COMPARE(m_erro->count(), QStringLiteral("201"));
    QCOMPARE(m_hex->text(), QStringLiteral(" 42"));
    QCOMPARE(m_ascii->text(), QStringLiteral(" B"));
}

void TestFrmPadcomReceive::transmitFullEventChangesNothing()
{
    // Frames that do not fit the transmit buffer raise a non-receive event: nothing logged.
    QList<qint16> events;
    connect(&m_rig->form->session(), &Session::OnComm, this,
            [&](const Session::Event &e) { events << e.commEvent(); });
    for (int i = 0; i < 20; ++i)
        m_rig->form->Command3_Click();
    QTRY_VERIFY(events.contains(qint16(1010)));
    QCOMPARE(m_ascii->text(), QString());
    QCOMPARE(m_hex->text(), QString());
    QCOMPARE(m_nack->count(), QStringLiteral("0"));
    QCOMPARE(m_erro->count(), QStringLiteral("0"));
    auto *notice = m_rig->notice();
    QVERIFY(notice->isVisible());
    QVERIFY(notice->text().contains(QStringLiteral("cheio")));
}

void TestFrmPadcomReceive::largeBurstArrivesWhole()
{
    QByteArray burst;
    for (int i = 0; i < 20000; ++i)
        burst.append(char('a' + i % 26));
    m_rig->send(burst);
    QTRY_COMPARE(m_erro->count(), QStringLiteral("20000"));
    // Whatever the block boundaries, the ASCII log ends with the burst's last bytes in order.
    const QString tail = m_ascii->text().right(20);
    QVERIFY(burst.endsWith(win1252::encode(tail).replace(' ', QByteArray()).right(10)));
}

// In which of the window's repaints each of some widgets was painted.
class PaintTimes : public QObject
{
public:
    int repaint = 0;
    QHash<QObject *, QList<int>> in;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest) // the window paints what is due
            ++repaint;
        if (event->type() == QEvent::Paint)
            in[watched] << repaint;
        return false;
    }
};

void TestFrmPadcomReceive::streamPaintedTogetherOncePerRefresh()
{
    // A keyboard that streams, a byte a millisecond: the logs and "Erro" each take every
    // block, and are painted together, once a refresh.
    PaintTimes paints;
    QWidget *boxes[] = {m_ascii->viewport(), m_hex->viewport(), m_erro};
    for (QWidget *box : boxes)
        box->installEventFilter(&paints);
    m_rig->form->installEventFilter(&paints);
    QTest::qWait(200);
    paints.in.clear();
    QElapsedTimer clock;
    clock.start();
    const int fd = m_rig->peer().masterFd();
    std::thread keyboard([fd] {
        for (int i = 0; i < 300; ++i) {
            [[maybe_unused]] const auto n = ::write(fd, "k", 1);
            ::usleep(1000);
        }
    });
    keyboard.join();
    QTRY_COMPARE(m_erro->count(), QStringLiteral("300"));
    QTest::qWait(int(2 * FramePacer::instance().longest().count()));
    const qint64 refreshes = clock.elapsed() / FramePacer::instance().period().count() + 1;
    const QList<int> erro = paints.in.value(m_erro);
    QVERIFY(!erro.isEmpty());
    QVERIFY2(erro.size() <= refreshes, qPrintable(QString::number(erro.size())));
    QCOMPARE(paints.in.value(boxes[0]), erro);
    QCOMPARE(paints.in.value(boxes[1]), erro);
    QCOMPARE(m_erro->text(), QStringLiteral("300"));
}

QTEST_MAIN(TestFrmPadcomReceive)
#include "tst_frmpadcom_receive.moc"
