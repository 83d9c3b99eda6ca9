// The serial control over a recording port: what no pseudo-terminal can show (modem lines,
// a system queue that holds bytes, a COM port that fails), on every platform.
#include "serial/mscomm.h"
#include "serial/portmap.h"
#include "serial/portsetup.h"
#include "testkit/fakeport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestPortDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void portNames_data();
    void portNames();
    void openSequenceLeavesLinesOff();
    void systemBacklogCountsAsWaiting();
    void failureClosesAndIsToldOnce_data();
    void failureClosesAndIsToldOnce();
    void loopTickWholeOrSkipped_data();
    void loopTickWholeOrSkipped();

private:
    QTemporaryDir m_runtime;
};

void TestPortDevice::initTestCase()
{
#ifndef Q_OS_WIN
    // Port 1 names some device; the recording port never opens it.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    QVERIFY(QDir().mkpath(ports::linkDirectory()));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports::linkPath(1)));
#endif
}

void TestPortDevice::portNames_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("location");
#ifdef Q_OS_WIN
    // From 10 on, Windows opens a COM port only by its \\.\ name; QSerialPort adds it.
    QTest::newRow("1") << 1 << QStringLiteral("COM1") << QStringLiteral("\\\\.\\COM1");
    QTest::newRow("9") << 9 << QStringLiteral("COM9") << QStringLiteral("\\\\.\\COM9");
    QTest::newRow("10") << 10 << QStringLiteral("COM10") << QStringLiteral("\\\\.\\COM10");
    QTest::newRow("99") << 99 << QStringLiteral("COM99") << QStringLiteral("\\\\.\\COM99");
    QTest::newRow("255") << 255 << QStringLiteral("COM255") << QStringLiteral("\\\\.\\COM255");
#else
    QTest::newRow("published") << 1 << QStringLiteral("/dev/null") << QStringLiteral("/dev/null");
#endif
    QTest::newRow("0") << 0 << QString() << QString();
    QTest::newRow("256") << 256 << QString() << QString();
}

void TestPortDevice::portNames()
{
    QFETCH(int, number);
    QFETCH(QString, device);
    QFETCH(QString, location);
    QCOMPARE(ports::deviceFor(number).value_or(QString()), device);
    if (!device.isEmpty())
        QCOMPARE(ports::systemLocation(device), location);
}

void TestPortDevice::openSequenceLeavesLinesOff()
{
    auto device = std::make_unique<FakePort>();
    FakePort &port = *device;
    MSComm comm(std::move(device));
    QVERIFY(portsetup::open(comm, QStringLiteral("1")).opened);
    QVERIFY(!port.dtr);
    QVERIFY(!port.rts);
    // Settings go with the open; both lines are switched after it, DTR first.
    QVERIFY2(port.calls.first().startsWith(u"open ") && port.calls.first().endsWith(u" 9600,N,8,1"),
             qPrintable(port.calls.join(u'|')));
    QCOMPARE(port.calls.mid(port.calls.size() - 2),
             QStringList({QStringLiteral("dtr 0"), QStringLiteral("rts 0")}));

    // A line set while closed takes effect with the next open.
    comm.setPortOpen(false);
    QVERIFY(comm.setDTREnable(true));
    QVERIFY(comm.setPortOpen(true));
    QVERIFY(port.dtr);
    QVERIFY(!port.rts);
}

void TestPortDevice::systemBacklogCountsAsWaiting()
{
    auto device = std::make_unique<FakePort>();
    FakePort &port = *device;
    MSComm comm(std::move(device));
    QVERIFY(portsetup::open(comm, QStringLiteral("1")).opened);
    // An adapter that holds 450 bytes the line has not carried: only 62 more may wait.
    port.heldBySystem = 450;
    QCOMPARE(comm.OutBufferCount(), 450);
    QCOMPARE(comm.Output(QByteArray(63, 'x')), MSComm::OutputResult::BufferFull);
    QCOMPARE(comm.Output(QByteArray(62, 'x')), MSComm::OutputResult::Queued);
    QCOMPARE(port.written, QByteArray()); // held back until the adapter has room
    QCOMPARE(comm.OutBufferCount(), 512);
    port.heldBySystem = 0;
    QTRY_COMPARE(port.written, QByteArray(62, 'x'));

    // A system that never drains does not hold a close for long: what it has is discarded.
    port.heldBySystem = 300;
    comm.setPortOpen(false);
    QVERIFY(port.calls.contains(QStringLiteral("discard")));
}

void TestPortDevice::failureClosesAndIsToldOnce_data()
{
    QTest::addColumn<PortDevice::Failure>("failure");
    QTest::newRow("device gone") << PortDevice::Failure::Gone;
    QTest::newRow("read failed") << PortDevice::Failure::ReadFailed;
    QTest::newRow("write failed") << PortDevice::Failure::WriteFailed;
}

void TestPortDevice::failureClosesAndIsToldOnce()
{
    QFETCH(PortDevice::Failure, failure);
    auto device = std::make_unique<FakePort>();
    FakePort &port = *device;
    MSComm comm(std::move(device));
    QSignalSpy lost(&comm, &MSComm::portLost);
    QVERIFY(portsetup::open(comm, QStringLiteral("1")).opened);
    port.fail(failure);
    port.fail(failure);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.first().at(1).toString(), QStringLiteral("falhou"));
    QCOMPARE(comm.state(), MSComm::PortState::Lost);
    QVERIFY(!port.isOpen());
    QCOMPARE(comm.Output("x"), MSComm::OutputResult::PortClosed);
    QCOMPARE(port.written, QByteArray());
}

void TestPortDevice::loopTickWholeOrSkipped_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("heldBySystem");
    QTest::addColumn<MSComm::LoopTick>("tick");
    QTest::addColumn<int>("waiting");
    // The tick's frames are 2 and 15 bytes: 17 in all.
    QTest::newRow("room") << true << 0 << MSComm::LoopTick::Sent << 17;
    QTest::newRow("room for the whole tick, just")
        << true << 512 - 17 << MSComm::LoopTick::Sent << 512;
    QTest::newRow("room for its first frame only")
        << true << 512 - 16 << MSComm::LoopTick::Skipped << 512 - 16;
    QTest::newRow("port closed") << false << 0 << MSComm::LoopTick::PortClosed << 0;
}

void TestPortDevice::loopTickWholeOrSkipped()
{
    QFETCH(bool, open);
    QFETCH(int, heldBySystem);
    QFETCH(MSComm::LoopTick, tick);
    QFETCH(int, waiting);
    auto device = std::make_unique<FakePort>();
    FakePort &port = *device;
    MSComm comm(std::move(device));
    if (open)
        QVERIFY(portsetup::open(comm, QStringLiteral("1")).opened);
    port.heldBySystem = heldBySystem;
    const QByteArray cursor("\xA0\x80");
    const QByteArray text = QByteArray("\xA5\x0D") + QByteArray(13, 'x');
    comm.setLoopFrames({cursor, text});
    QSignalSpy ticks(&comm, &MSComm::loopTicked);
    comm.setLoopInterval(5);
    QVERIFY(ticks.wait(1000));
    comm.setLoopInterval(0);
    QVERIFY(!comm.loopTicking());
    QCOMPARE(ticks.first().at(0).value<MSComm::LoopTick>(), tick);
    QCOMPARE(comm.OutBufferCount(), waiting);
    // Whole or not at all, in order.
    if (tick == MSComm::LoopTick::Sent && heldBySystem == 0)
        QCOMPARE(port.written, cursor + text);
    if (tick != MSComm::LoopTick::Sent)
        QCOMPARE(port.written, QByteArray());
}

QTEST_GUILESS_MAIN(TestPortDevice)
#include "tst_portdevice.moc"
