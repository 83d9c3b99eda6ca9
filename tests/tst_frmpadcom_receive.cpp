#include "app/frmpadcom.h"
#include "app/widgets/textbox.h"
#include "support/pty.h"
#include "support/window.h"
#include "text/win1252.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <memory>

class TestFrmPadcomReceive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void bytesReachLogsAndCounts();
    void echoFramesInOrder();
    void everyByteValueKept();
    void logsEmptiedAtLimit();
    void transmitFullEventChangesNothing();
    void largeBurstArrivesWhole();

private:
    RuntimeDir m_runtime;
    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<frmPADCOM> m_form;
    TextBox *m_ascii = nullptr;
    TextBox *m_hex = nullptr;
    QLineEdit *m_nack = nullptr;
    QLineEdit *m_erro = nullptr;
};

void TestFrmPadcomReceive::initTestCase()
{
    QVERIFY(m_runtime.isValid());
}

void TestFrmPadcomReceive::init()
{
    QVERIFY(startWindowOnPty(m_peer, m_form));
    m_ascii = control<TextBox>(*m_form, "Text2");
    m_hex = control<TextBox>(*m_form, "Text3");
    m_nack = control<QLineEdit>(*m_form, "Text6");
    m_erro = control<QLineEdit>(*m_form, "Text7");
    QTest::mouseClick(control<QPushButton>(*m_form, "CMDInicializar"), Qt::LeftButton);
    QVERIFY(m_form->comm().PortOpen());
}

void TestFrmPadcomReceive::cleanup()
{
    m_form.reset();
    m_peer.reset();
}

void TestFrmPadcomReceive::bytesReachLogsAndCounts()
{
    m_peer->send("\x06\x15"
                 "A");
    QTRY_COMPARE(m_hex->text(), QStringLiteral(" 6 15 41"));
    QCOMPARE(m_ascii->text(), QStringLiteral(" \x06\x15"
                                             "A"));
    QCOMPARE(m_nack->text(), QStringLiteral("1"));
    QCOMPARE(m_erro->text(), QStringLiteral("1"));
    QTest::qWait(50);
    QCOMPARE(m_peer->received(), QByteArray()); // no echo without "Eco"

    m_nack->setText(QStringLiteral("9"));
    m_erro->setText(QStringLiteral("abc"));
    m_peer->send("\x15Z");
    QTRY_COMPARE(m_nack->text(), QStringLiteral("10"));
    QCOMPARE(m_erro->text(), QStringLiteral("1"));
    QVERIFY(m_ascii->text().endsWith(QStringLiteral("\x15Z")));
}

void TestFrmPadcomReceive::echoFramesInOrder()
{
    control<QCheckBox>(*m_form, "eco")->setChecked(true);
    control<QCheckBox>(*m_form, "Check1")->setChecked(true); // never affects the echo
    m_peer->send("\x06"
                 "ABC\x15\xA5");
    QTRY_COMPARE(m_peer->received(), QByteArray("\xA5\x01"
                                                "A"
                                                "\xA5\x01"
                                                "B"
                                                "\xA5\x01"
                                                "C"
                                                "\xA5\x01\xA5"));
    QCOMPARE(m_erro->text(), QStringLiteral("4"));
    QCOMPARE(m_nack->text(), QStringLiteral("1"));
}

void TestFrmPadcomReceive::everyByteValueKept()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    m_peer->send(all);
    // Let the whole burst reach the terminal before the window reads: one block.
    QThread::msleep(50);
    QTRY_COMPARE(m_erro->text(), QStringLiteral("254"));
    QCOMPARE(win1252::encode(m_ascii->text()), QByteArray(" ") + all);
    const QStringList hex = m_hex->text().split(u' ', Qt::SkipEmptyParts);
    QCOMPARE(hex.size(), 256);
    for (int b = 0; b < 256; ++b)
        QCOMPARE(hex[b].toInt(nullptr, 16), b);
    QCOMPARE(m_nack->text(), QStringLiteral("1"));
}

void TestFrmPadcomReceive::logsEmptiedAtLimit()
{
    // 200 bytes of "A" make 600 characters of hex log: the next block empties both logs.
    m_peer->send(QByteArray(200, 'A'));
    QThread::msleep(50);
    QTRY_COMPARE(m_erro->text(), QStringLiteral("200"));
    QCOMPARE(m_hex->text().size(), 600);
    m_peer->send("B");
    QTRY_COMPARE(m_erro->text(), QStringLiteral("201"));
    QCOMPARE(m_hex->text(), QStringLiteral(" 42"));
    QCOMPARE(m_ascii->text(), QStringLiteral(" B"));
    // Past 1000 in any case the next block empties them.
    m_peer->send(QByteArray(400, 'C'));
    QTRY_COMPARE(m_erro->text(), QStringLiteral("601"));
    m_peer->send("D");
    QTRY_COMPARE(m_erro->text(), QStringLiteral("602"));
    QVERIFY(m_hex->text().size() <= 1000 + 3 * 1024);
    QVERIFY(m_hex->text().endsWith(QStringLiteral(" 44")));
}

void TestFrmPadcomReceive::transmitFullEventChangesNothing()
{
    // Frames that do not fit the transmit buffer raise a non-receive event: nothing logged.
    for (int i = 0; i < 20; ++i)
        m_form->Command3_Click();
    QTest::qWait(50);
    QCOMPARE(m_form->comm().CommEvent(), qint16(1010));
    QCOMPARE(m_ascii->text(), QString());
    QCOMPARE(m_hex->text(), QString());
    QCOMPARE(m_nack->text(), QStringLiteral("0"));
    QCOMPARE(m_erro->text(), QStringLiteral("0"));
    auto *notice = m_form->findChild<QMessageBox *>(QStringLiteral("notice"));
    QVERIFY(notice->isVisible());
    QVERIFY(notice->text().contains(QStringLiteral("cheio")));
}

void TestFrmPadcomReceive::largeBurstArrivesWhole()
{
    QByteArray burst;
    for (int i = 0; i < 20000; ++i)
        burst.append(char('a' + i % 26));
    m_peer->send(burst);
    QTRY_COMPARE(m_erro->text(), QStringLiteral("20000"));
    // Whatever the block boundaries, the ASCII log ends with the burst's last bytes in order.
    const QString tail = m_ascii->text().right(20);
    QVERIFY(burst.endsWith(win1252::encode(tail).replace(' ', QByteArray()).right(10)));
}

QTEST_MAIN(TestFrmPadcomReceive)
#include "tst_frmpadcom_receive.moc"
