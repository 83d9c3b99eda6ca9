// The serial control over a recording port: what no pseudo-terminal can show (modem lines,
// a system queue that holds bytes, a COM port that fails), on every platform.
#include "serial/mscomm.h"
#include "serial/portmap.h"
#include "serial/portsetup.h"
#include "testkit/fakeport.h"
#include "testkit/linelog.h"

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
    void loopPlan_data();
    void loopPlan();

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
#else
    QTest::newRow("published") << 1 << QStringLiteral("/dev/null") << QStringLiteral("/dev/null");
#endif
    QTest::newRow("0") << 0 << QString() << QString();
    QTest::newRow("100: beyond what the number box takes") << 100 << QString() << QString();
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
    LineLog log(comm);
    QVERIFY(portsetup::open(comm, QStringLiteral("1")).opened);
    port.fail(failure);
    port.fail(failure);
    QTRY_COMPARE(log.of(MSComm::Event::Kind::Lost).size(), 1);
    QTest::qWait(20);
    QCOMPARE(log.of(MSComm::Event::Kind::Lost).size(), 1);
    QCOMPARE(log.of(MSComm::Event::Kind::Lost).constFirst().reason, QStringLiteral("falhou"));
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
    MSComm::LoopPlan plan;
    plan.frames = {cursor, text};
    comm.setLoopPlan(plan);
    // The first tick is the one looked at: the loop stops as it is told of it.
    qsizetype waitingAtTick = -1;
    LineLog log(comm, [&](const MSComm::Events &) {
        if (!log.of(MSComm::Event::Kind::Tick).isEmpty() && waitingAtTick < 0) {
            comm.setLoopInterval(0);
            waitingAtTick = comm.OutBufferCount();
        }
    });
    comm.setLoopInterval(5);
    QTRY_VERIFY_WITH_TIMEOUT(!log.of(MSComm::Event::Kind::Tick).isEmpty(), 1000);
    QVERIFY(!comm.loopTicking());
    QCOMPARE(log.of(MSComm::Event::Kind::Tick).constFirst().tick, tick);
    // With the system holding bytes, what waits is what it holds and the tick; a tick that
    // went out onto an idle line is on the wire by the time it is told (under Wine, a few
    // milliseconds later), and what reached the system says the rest.
    if (heldBySystem > 0)
        QCOMPARE(waitingAtTick, waiting);
    // Whole or not at all, in order.
    if (tick == MSComm::LoopTick::Sent && heldBySystem == 0)
        QCOMPARE(port.written, cursor + text);
    if (tick != MSComm::LoopTick::Sent)
        QCOMPARE(port.written, QByteArray());
}

void TestPortDevice::loopPlan_data()
{
    QTest::addColumn<int>("variantEvery");
    QTest::addColumn<bool>("hold");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QByteArray>("sent"); // one letter a tick: a plain, b variant
    // Frames the owner has not yet seen when it releases a held loop.
    QTest::addColumn<int>("unseen");
    QTest::newRow("every third tick the variant, six in all")
        << 3 << false << 6 << QByteArray("aabaab") << 0;
    QTest::newRow("no variant, the loop ends itself") << 0 << false << 4 << QByteArray("aaaa") << 0;
    // Held after each variant until released: the test releases after a few held ticks.
    QTest::newRow("held after the variant") << 2 << true << 4 << QByteArray("abab") << 0;
    // An owner that has not seen every frame cannot have judged them all.
    QTest::newRow("not released by an owner behind the line")
        << 2 << true << 4 << QByteArray("ab") << 1;
}

void TestPortDevice::loopPlan()
{
    QFETCH(int, variantEvery);
    QFETCH(bool, hold);
    QFETCH(int, ticks);
    QFETCH(QByteArray, sent);
    QFETCH(int, unseen);
    auto device = std::make_unique<FakePort>();
    FakePort &port = *device;
    MSComm comm(std::move(device));
    QVERIFY(portsetup::open(comm, QStringLiteral("1")).opened);
    qint64 framesSeen = 0;
    int held = 0;
    LineLog log(comm, [&](const MSComm::Events &batch) {
        for (const MSComm::Event &e : batch) {
            framesSeen += e.kind == MSComm::Event::Kind::FrameOnLine ? 1 : 0;
            if (e.kind == MSComm::Event::Kind::Tick && e.tick == MSComm::LoopTick::Held
                && ++held % 3 == 0)
                comm.releaseLoop(framesSeen - unseen);
        }
    });
    MSComm::LoopPlan plan;
    plan.frames = {QByteArray("a")};
    plan.variant = {QByteArray("b")};
    plan.variantEvery = variantEvery;
    plan.holdAfterVariant = hold;
    plan.ticks = ticks;
    comm.setLoopPlan(plan);
    comm.setLoopInterval(5);
    if (unseen > 0) {
        QTRY_VERIFY(held >= 6);
        QCOMPARE(port.written, sent);
        return;
    }
    const auto sentTicks = [&] {
        QList<MSComm::Event> out;
        for (const MSComm::Event &e : log.of(MSComm::Event::Kind::Tick)) {
            if (e.tick == MSComm::LoopTick::Sent)
                out.append(e);
        }
        return out;
    };
    // The loop ends itself with its last tick, which is told a moment later.
    QTRY_VERIFY_WITH_TIMEOUT(!comm.loopTicking() && sentTicks().size() >= ticks, 5000);
    QCOMPARE(port.written, sent);
    QCOMPARE(sentTicks().size(), ticks);
    for (qsizetype i = 0; i < ticks; ++i) {
        QCOMPARE(sentTicks()[i].tickNumber, i + 1);
        QCOMPARE(sentTicks()[i].variant, sent[i] == 'b');
        QCOMPARE(sentTicks()[i].lastTick, i + 1 == ticks);
    }
    // A held loop sent nothing until released, and was released only when asked.
    QCOMPARE(held > 0, hold);
}

QTEST_GUILESS_MAIN(TestPortDevice)
#include "tst_portdevice.moc"
