#include "serial/linesettings.h"
#include "sim/device.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <thread>

using namespace std::chrono_literals;

namespace {
const QByteArray kAck("\x06");
const QByteArray kNack("\x15");

// What a paced reader took in one go: when, how many bytes, and whether bytes still waited
// unread after the read before.
struct Read
{
    std::chrono::nanoseconds at;
    int bytes;
    bool waitedBefore;
};
} // namespace

Q_DECLARE_METATYPE(Read)
Q_DECLARE_METATYPE(Faults)

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void incompleteFrameRefusedAfterGap();
    void wrongLengthFrameRefused();
    void historyBounded();
    void keyboardJudgesGapsOnTheLine_data();
    void keyboardJudgesGapsOnTheLine();
    void lineClock_data();
    void lineClock();
    void replyWaitsForTheLine();
    void faults_data();
    void faults();
};

void TestDevice::frames_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QByteArray>("line1");
    QTest::addColumn<QByteArray>("line2");
    QTest::addColumn<int>("cursor");

    const QByteArray blank(40, ' ');
    auto pad = [](const QByteArray &s) {
        return s + QByteArray(40 - s.size(), ' ');
    };

    QTest::newRow("text at start") << QByteArray("\xA5\x03"
                                                 "abc")
                                   << kAck << pad("abc") << blank << 3;
    QTest::newRow("empty text") << QByteArray("\xA5\x00", 2) << kAck << blank << blank << 0;
    QTest::newRow("line 2") << QByteArray("\xA0\xC0\xA5\x02"
                                          "hi")
                            << kAck + kAck << blank << pad("hi") << 0x42;
    QTest::newRow("cursor mid line") << QByteArray("\xA0\x85\xA5\x01"
                                                   "x")
                                     << kAck + kAck << pad("     x") << blank << 6;
    QTest::newRow("wrap 27 to 40") << QByteArray("\xA0\xA6\xA5\x03"
                                                 "abc")
                                   << kAck + kAck << blank.left(38) + "ab" << pad("c") << 0x41;
    QTest::newRow("wrap 67 to 00") << QByteArray("\xA0\xE7\xA5\x02"
                                                 "yz")
                                   << kAck + kAck << pad("z") << blank.left(39) + "y" << 1;
    QTest::newRow("eighty fill both lines")
        << QByteArray("\xA0\x80\xA5\x50") + QByteArray("0123456789").repeated(8) << kAck + kAck
        << QByteArray("0123456789").repeated(4) << QByteArray("0123456789").repeated(4) << 0;
    QTest::newRow("clear") << QByteArray("\xA5\x02"
                                         "ab"
                                         "\xA0\x01")
                           << kAck + kAck << blank << blank << 0;
    QTest::newRow("unknown command") << QByteArray("\xA0\x02") << kNack << blank << blank << 0;
    QTest::newRow("address 28 refused") << QByteArray("\xA0\xA8") << kNack << blank << blank << 0;
    QTest::newRow("address 68 refused") << QByteArray("\xA0\xE8") << kNack << blank << blank << 0;
    QTest::newRow("stray bytes") << QByteArray("xy\xA5\x01z") << kNack + kNack + kAck << pad("z")
                                 << blank << 1;
    QTest::newRow("marker inside text is text")
        << QByteArray("\xA5\x02\xA0\xA5") << kAck << pad("\xA0\xA5") << blank << 2;
    QTest::newRow("ack byte is stray") << QByteArray("\x06") << kNack << blank << blank << 0;
    QTest::newRow("echo frame") << QByteArray("\xA5\x01\xA5") << kAck << pad("\xA5") << blank << 1;
}

void TestDevice::frames()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, replies);
    QFETCH(QByteArray, line1);
    QFETCH(QByteArray, line2);
    QFETCH(int, cursor);

    LcdDevice d;
    QCOMPARE(d.feed(input, 0ms), replies);
    QCOMPARE(d.line(0), line1);
    QCOMPARE(d.line(1), line2);
    QCOMPARE(int(d.cursor()), cursor);
    QCOMPARE(d.acceptedCount(), replies.count('\x06'));
    QCOMPARE(d.refusedCount(), replies.count('\x15'));

    // Byte by byte, within the gap, the device answers the same.
    LcdDevice slow;
    QByteArray slowReplies;
    for (qsizetype i = 0; i < input.size(); ++i)
        slowReplies += slow.feed(input.mid(i, 1), 40ms * i);
    QCOMPARE(slowReplies, replies);
    QCOMPARE(slow.line(0), line1);
}

void TestDevice::incompleteFrameRefusedAfterGap()
{
    LcdDevice d;
    QCOMPARE(d.feed("\xA5\x05"
                    "ab",
                    0ms),
             QByteArray());
    QVERIFY(d.frameOpen());
    QCOMPARE(d.expire(50ms), QByteArray()); // exactly the gap: still waiting
    QCOMPARE(d.expire(51ms), kNack);
    QVERIFY(!d.frameOpen());
    QCOMPARE(d.line(0), QByteArray(40, ' ')); // a refused frame shows nothing
    // A late byte starts afresh: the rest of the old frame is stray.
    QCOMPARE(d.feed("\xA0", 100ms), QByteArray());
    QCOMPARE(d.feed("\x01", 200ms), kNack + kNack);
}

void TestDevice::wrongLengthFrameRefused()
{
    // "Enviar Errado": the length byte is one too large; the next frame comes a tick later.
    LcdDevice d;
    QCOMPARE(d.feed("\xA0\x80\xA5\x04"
                    "abc",
                    0ms),
             kAck);
    QCOMPARE(d.feed("\xA0\x80", 100ms), kNack + kAck);
    QCOMPARE(d.line(0), QByteArray(40, ' '));
}

void TestDevice::historyBounded()
{
    LcdDevice d;
    for (int i = 0; i < 100; ++i)
        d.feed("\xA0\x01", 0ms);
    QCOMPARE(d.history().size(), LcdDevice::kHistory);
    QCOMPARE(d.acceptedCount(), 100);
}

void TestDevice::keyboardJudgesGapsOnTheLine_data()
{
    QTest::addColumn<bool>("waiting");  // what the line says while the frame's rest is away
    QTest::addColumn<bool>("readLate"); // the thread was busy, not the line
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QByteArray>("line1");

    const QByteArray blank(40, ' ');
    QTest::newRow("line silent: refused, the rest is stray")
        << false << false << kNack + kNack + kNack << blank;
    QTest::newRow("bytes waiting unread: no gap")
        << true << false << kAck << "abc" + blank.left(37);
    QTest::newRow("read late: no gap") << false << true << kAck << "abc" + blank.left(37);
}

void TestDevice::keyboardJudgesGapsOnTheLine()
{
    QFETCH(bool, waiting);
    QFETCH(bool, readLate);
    QFETCH(QByteArray, replies);
    QFETCH(QByteArray, line1);

    VirtualKeyboard k;
    k.setBytesWaiting([&] { return waiting; });
    QByteArray said;
    connect(&k, &VirtualKeyboard::reply, this, [&](const QByteArray &b) { said += b; });
    k.receive("\xA5\x03"
              "a");
    const auto away = 3 * LcdDevice::kFrameGap;
    if (readLate)
        std::this_thread::sleep_for(away); // no event runs: the timer cannot judge
    else
        QTest::qWait(int(std::chrono::duration_cast<std::chrono::milliseconds>(away).count()));
    waiting = false;
    k.receive("bc");
    QCOMPARE(said, replies);
    QCOMPARE(k.device().line(0), line1);
}

void TestDevice::lineClock_data()
{
    QTest::addColumn<QList<Read>>("reads");
    QTest::addColumn<std::chrono::nanoseconds>("lastByteOff"); // the last byte off the line

    const auto bt = LineSettings().byteTime();
    QTest::newRow("a frame read in one burst") << QList<Read>{{10ms, 43, false}} << 10ms + 43 * bt;
    QList<Read> linePace, slower, paced;
    for (int i = 0; i < 43; ++i) {
        linePace << Read{10ms + i * bt, 1, false};
        slower << Read{10ms + i * 2ms, 1, false};
    }
    // As the pseudo-terminal's pace reads: a burst, then about a byte a millisecond.
    paced << Read{10ms, 16, false};
    for (int i = 0; i < 27; ++i)
        paced << Read{12ms + i * 1ms, 1, true};
    QTest::newRow("a byte at a time, at the line's pace") << linePace << 10ms + 43 * bt;
    QTest::newRow("a byte at a time, slower than the line") << slower << 94ms + bt;
    QTest::newRow("a burst, then paced reads") << paced << 10ms + 43 * bt;
    QTest::newRow("read late after waiting")
        << QList<Read>{{10ms, 16, false}, {60ms, 27, true}} << 10ms + 43 * bt;
    QTest::newRow("the next frame, the line idle since")
        << QList<Read>{{0ms, 2, false}, {50ms, 2, false}} << 50ms + 2 * bt;
    QTest::newRow("the next frame while the line still carries the last")
        << QList<Read>{{0ms, 16, false}, {5ms, 2, false}} << 18 * bt;
}

void TestDevice::lineClock()
{
    QFETCH(QList<Read>, reads);
    QFETCH(std::chrono::nanoseconds, lastByteOff);

    const auto bt = LineSettings().byteTime();
    LineClock line(bt);
    std::chrono::nanoseconds off{0};
    int bytes = 0;
    for (const Read &r : reads) {
        line.read(r.at, r.waitedBefore);
        for (int i = 0; i < r.bytes; ++i)
            off = line.next();
        bytes += r.bytes;
    }
    QCOMPARE(off.count(), lastByteOff.count());
    // As the writer reckons: no earlier than a line started at the first read would carry it.
    QVERIFY(off >= reads.constFirst().at + bytes * bt);
}

void TestDevice::replyWaitsForTheLine()
{
    const QByteArray frame = QByteArray("\xA5\x29") + QByteArray(41, 'x');
    const auto bt = LineSettings().byteTime();
    VirtualKeyboard k;
    k.setLineByteTime(bt);
    QElapsedTimer clock;
    std::chrono::nanoseconds repliedAfter{-1};
    connect(&k, &VirtualKeyboard::reply, this,
            [&] { repliedAfter = std::chrono::nanoseconds(clock.nsecsElapsed()); });
    QSignalSpy replied(&k, &VirtualKeyboard::reply);
    // The second frame meets a line that carried one before and fell idle.
    for (int i = 0; i < 2; ++i) {
        clock.start();
        k.receive(frame);
        QVERIFY(replied.wait(2000)); // an event loop of its own: no test's sleep delays the reply
        QVERIFY2(repliedAfter >= frame.size() * bt,
                 qPrintable(QString::number(repliedAfter.count())));
    }
}

void TestDevice::faults_data()
{
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<QList<QByteArray>>("frames"); // each 100 ms after the one before
    QTest::addColumn<QByteArray>("line");          // what the keyboard sent back, in order
    QTest::addColumn<QByteArray>("line1");         // the display's first line, trimmed

    const QByteArray good("\xA0\x80");
    const QByteArray bad("\xA0\x02"); // no such command
    const QByteArray hi("\xA5\x02hi");
    const QByteArray yo("\xA5\x02yo");
    const QByteArray shortHi("\xA5\x03hi"); // one byte short
    const auto with = [](auto set) {
        Faults f;
        set(f);
        return f;
    };
    const auto hex = [](const char *h) {
        return QByteArray::fromHex(h);
    };

    QTest::newRow("a good keyboard") << Faults() << QList{good, hi, bad, shortHi, good}
                                     << hex("06 06 15 15 06") << QByteArray("hi");
    QTest::newRow("answers twice") << with([](Faults &f) { f.answerTwice = true; })
                                   << QList{good, bad} << hex("06 06 15 15") << QByteArray();
    QTest::newRow("silent after 1: the display still changes")
        << with([](Faults &f) { f.silentAfter = 1; }) << QList{hi, good, yo} << hex("06")
        << QByteArray("yo");
    QTest::newRow("silent from the start") << with([](Faults &f) { f.silentAfter = 0; })
                                           << QList{good, bad} << QByteArray() << QByteArray();
    QTest::newRow("drops every 2nd reply")
        << with([](Faults &f) { f.dropEvery = 2; }) << QList{good, bad, bad, good} << hex("06 15")
        << QByteArray();
    QTest::newRow("noise before every 3rd reply")
        << with([](Faults &f) { f.noiseEvery = 3; }) << QList{good, good, bad, good, good, good}
        << hex("06 06 FF 15 06 06 FF 06") << QByteArray();
    QTest::newRow("noise comes when the reply is dropped")
        << with([](Faults &f) { f.noiseEvery = f.dropEvery = 2; }) << QList{good, good}
        << hex("06 FF") << QByteArray();
    QTest::newRow("accepts what it should refuse, showing nothing of it")
        << with([](Faults &f) { f.acceptAll = true; }) << QList{bad, shortHi, QByteArray("x"), good}
        << hex("06 06 06 06") << QByteArray();
    QTest::newRow("no gap: the next frame completes a short one")
        << with([](Faults &f) { f.noGap = true; }) << QList{shortHi, good} << hex("06 15")
        << QByteArray("hi\xA0");
    QTest::newRow("refuses every 2nd, answering twice") << with([](Faults &f) {
        f.refuseEvery = 2;
        f.answerTwice = true;
    }) << QList{hi, hi} << hex("06 06 15 15") << QByteArray("hi");
}

void TestDevice::faults()
{
    QFETCH(Faults, faults);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, line1);

    VirtualKeyboard k;
    std::chrono::nanoseconds now{0};
    k.setClock([&] { return now; });
    k.setFaults(faults);
    QByteArray said;
    connect(&k, &VirtualKeyboard::reply, this, [&](const QByteArray &b) { said += b; });
    for (const QByteArray &frame : frames) {
        k.receive(frame);
        now += 100ms;
        // A frame left short is refused by the gap's timer, on the event loop.
        if (k.device().frameDeadline())
            QTRY_VERIFY_WITH_TIMEOUT(!k.device().frameOpen(), 2000);
    }
    QCOMPARE(said.toHex(' '), line.toHex(' '));
    QCOMPARE(k.device().line(0).trimmed(), line1);
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
