#include "serial/mscomm.h"
#include "support/pty.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

QByteArray allBytes()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    return all;
}

// Opens port `number` the way port setup does.
bool openPort(MSComm &comm, int number)
{
    return comm.setSettings(QStringLiteral("9600,N,8,1")) && comm.setInputLen(0)
           && comm.setCommPort(qint16(number)) && comm.setPortOpen(true) && comm.setDTREnable(false)
           && comm.setRTSEnable(false);
}

} // namespace

class TestMSComm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void slaveIsRawAfterOpen();
    void everyByteBothWays();
    void inputIsBoundedAndLosesNothing();
    void onCommNotReentered();
    void busyPortRefused();
    void missingPortRefused_data();
    void missingPortRefused();
    void vanishingDeviceReportedOnce();
    void reopenOnAnotherNumber();
    void outputOnClosedPortRefused();
    void transmitBufferBounded();
    void closeSilencesLine();

private:
    RuntimeDir m_runtime;
    std::unique_ptr<PtyPeer> m_peer;
};

void TestMSComm::initTestCase()
{
    QVERIFY(m_runtime.isValid());
}

void TestMSComm::init()
{
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(m_peer->isOpen());
    QVERIFY(linkPort(1, m_peer->slavePath()));
}

void TestMSComm::slaveIsRawAfterOpen()
{
    MSComm comm;
    QVERIFY2(openPort(comm, 1), qPrintable(comm.errorString()));
    const termios tio = m_peer->slaveTermios();
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(tio.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QVERIFY(comm.PortOpen());
    QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));
}

void TestMSComm::everyByteBothWays()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QByteArray got;
    connect(&comm, &MSComm::OnComm, this, [&] {
        QCOMPARE(comm.CommEvent(), qint16(MSComm::comEvReceive));
        got += comm.Input();
    });
    m_peer->send(allBytes());
    QTRY_COMPARE(got, allBytes());

    // Out in frames that fit the transmit buffer; the line paces them.
    QCOMPARE(comm.Output(allBytes().left(200)), MSComm::OutputResult::Queued);
    QCOMPARE(comm.Output(allBytes().mid(200)), MSComm::OutputResult::Queued);
    QTRY_COMPARE_WITH_TIMEOUT(m_peer->received(), allBytes(), 3000);
}

void TestMSComm::inputIsBoundedAndLosesNothing()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QByteArray data;
    for (int i = 0; i < 5000; ++i)
        data.append(char(i * 7 + i / 256));
    QByteArray got;
    qsizetype largest = 0;
    connect(&comm, &MSComm::OnComm, this, [&] {
        const QByteArray block = comm.Input();
        largest = std::max(largest, block.size());
        got += block;
    });
    m_peer->send(data);
    QTRY_COMPARE(got.size(), data.size());
    QCOMPARE(got, data);
    QVERIFY(largest <= MSComm::kInBufferSize);
}

void TestMSComm::onCommNotReentered()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    int depth = 0;
    int deepest = 0;
    int events = 0;
    connect(&comm, &MSComm::OnComm, this, [&] {
        ++depth;
        ++events;
        deepest = std::max(deepest, depth);
        if (events == 1) {
            // More bytes arrive while the handler runs; they come with the next event.
            m_peer->send("more");
            QTest::qWait(50);
        } else {
            comm.Input();
        }
        --depth;
    });
    m_peer->send("x");
    QTRY_VERIFY(events >= 2);
    QCOMPARE(deepest, 1);
}

void TestMSComm::busyPortRefused()
{
    MSComm first;
    QVERIFY(openPort(first, 1));
    MSComm second;
    QVERIFY(!openPort(second, 1));
    QVERIFY(!second.PortOpen());
    QVERIFY(!second.errorString().isEmpty());
    first.setPortOpen(false);
    QVERIFY2(openPort(second, 1), qPrintable(second.errorString()));
}

void TestMSComm::missingPortRefused_data()
{
    QTest::addColumn<int>("number");
    QTest::newRow("zero") << 0;
    QTest::newRow("no such port") << 99;
    QTest::newRow("dangling link") << 5;
    QTest::newRow("not a terminal") << 6;
    QTest::newRow("out of range") << 300;
}

void TestMSComm::missingPortRefused()
{
    QFETCH(int, number);
    QVERIFY(linkPort(5, QStringLiteral("/nonexistent/tty")));
    QFile plain(m_runtime.path() + QStringLiteral("/plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(linkPort(6, plain.fileName()));
    MSComm comm;
    QVERIFY(!openPort(comm, number));
    QVERIFY(!comm.PortOpen());
    QVERIFY(!comm.errorString().isEmpty());
}

void TestMSComm::vanishingDeviceReportedOnce()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QSignalSpy lost(&comm, &MSComm::portLost);
    QSignalSpy events(&comm, &MSComm::OnComm);
    m_peer->closeMaster();
    QTRY_COMPARE(lost.size(), 1);
    QCOMPARE(comm.state(), MSComm::PortState::Lost);
    QVERIFY(!comm.PortOpen());
    // Closed at the first error: nothing more arrives, however long we wait.
    QTest::qWait(200);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(comm.Output("x"), MSComm::OutputResult::PortClosed);

    // The device comes back under the same number.
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(linkPort(1, m_peer->slavePath()));
    comm.setPortOpen(false);
    QVERIFY2(openPort(comm, 1), qPrintable(comm.errorString()));
    m_peer->send("ok");
    QTRY_VERIFY(comm.InBufferCount() == 2);
}

void TestMSComm::reopenOnAnotherNumber()
{
    PtyPeer other;
    QVERIFY(linkPort(2, other.slavePath()));
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QVERIFY(!comm.setCommPort(2)); // not while open
    comm.setPortOpen(false);
    QVERIFY(openPort(comm, 2));
    QCOMPARE(comm.CommPort(), qint16(2));
    QCOMPARE(comm.Output("B"), MSComm::OutputResult::Queued);
    QTRY_COMPARE(other.received(), QByteArray("B"));
    QCOMPARE(m_peer->received(), QByteArray());
    QCOMPARE(other.slaveTermios().c_cflag & CSIZE, tcflag_t(CS8));
}

void TestMSComm::outputOnClosedPortRefused()
{
    MSComm comm;
    QCOMPARE(comm.Output("\xA0\x01"), MSComm::OutputResult::PortClosed);
    QVERIFY(!comm.errorString().isEmpty());
    QCOMPARE(comm.Input(), QByteArray());
}

void TestMSComm::transmitBufferBounded()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QSignalSpy events(&comm, &MSComm::OnComm);
    const QByteArray frame(100, 'x');
    for (int i = 0; i < 5; ++i)
        QCOMPARE(comm.Output(frame), MSComm::OutputResult::Queued);
    QVERIFY(comm.OutBufferCount() <= MSComm::kOutBufferSize);
    // 500 bytes wait: a frame of 100 does not fit and is not split, one of 12 does.
    QCOMPARE(comm.Output(frame), MSComm::OutputResult::BufferFull);
    QVERIFY(comm.Output(QByteArray(12, 'y')) == MSComm::OutputResult::Queued
            || comm.OutBufferCount() > 500);
    // A refused frame raises the transmit-full event, not a receive.
    QTRY_VERIFY(!events.isEmpty());
    QCOMPARE(comm.CommEvent(), qint16(MSComm::comEventTxFull));
    QTRY_COMPARE_WITH_TIMEOUT(comm.OutBufferCount(), 0, 3000);
    QCOMPARE(m_peer->received().count('x'), 500);
}

void TestMSComm::closeSilencesLine()
{
    MSComm comm;
    QVERIFY(openPort(comm, 1));
    QCOMPARE(comm.Output(QByteArray(500, 'z')), MSComm::OutputResult::Queued);
    QTest::qWait(100);
    comm.setPortOpen(false);
    const qsizetype atClose = m_peer->received().size();
    QTest::qWait(300);
    // What the system already had may still come out; the queue itself is gone.
    QVERIFY(m_peer->received().size() - atClose <= 16);
    QVERIFY(m_peer->received().size() < 500);
}

QTEST_GUILESS_MAIN(TestMSComm)
#include "tst_mscomm.moc"
