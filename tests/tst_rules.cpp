#include "display/frames.h"
#include "display/sendloop.h"
#include "serial/linesettings.h"
#include "serial/portmap.h"
#include "serial/txline.h"
#include "serial/win1252.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <cmath>

using namespace std::chrono_literals;

class TestRules : public QObject
{
    Q_OBJECT

private slots:
    void textFrame_data();
    void textFrame();
    void textTooLongForLengthByte();
    void commandFrames();
    void rate_data();
    void rate();
    void testText();
    void portNumber_data();
    void portNumber();
    void settings_data();
    void settings();
    void txLine();
    void loopTimerKeepsTheGrid();
};

void TestRules::textFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wrong");
    QTest::addColumn<QByteArray>("frame");

    const QString sample = QStringLiteral(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN ");
    const QByteArray sampleBytes(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN ");
    const QByteArray eighty = QByteArray("0123456789").repeated(8);

    QTest::newRow("sample") << sample << false << QByteArray("\xA5\x27") + sampleBytes;
    QTest::newRow("sample, wrong length") << sample << true << QByteArray("\xA5\x28") + sampleBytes;
    QTest::newRow("empty") << QString() << false << QByteArray("\xA5\x00", 2);
    QTest::newRow("empty, wrong length") << QString() << true << QByteArray("\xA5\x01");
    QTest::newRow("eighty") << QString::fromLatin1(eighty) << false
                            << QByteArray("\xA5\x50") + eighty;
    QTest::newRow("eighty, wrong length")
        << QString::fromLatin1(eighty) << true << QByteArray("\xA5\x51") + eighty;
    QTest::newRow("ordinal is one byte") << QStringLiteral("1º") << false
                                         << QByteArray("\xA5\x02"
                                                       "1\xBA");
    QTest::newRow("line break is CR LF") << QStringLiteral("a\r\nb") << false
                                         << QByteArray("\xA5\x04"
                                                       "a\r\nb");
    QTest::newRow("blanks kept") << QStringLiteral("  ") << false << QByteArray("\xA5\x02  ");
    QTest::newRow("missing character") << QStringLiteral("ł") << false << QByteArray("\xA5\x01?");
}

void TestRules::textFrame()
{
    QFETCH(QString, text);
    QFETCH(bool, wrong);
    QFETCH(QByteArray, frame);
    QCOMPARE(frames::text(win1252::encode(text), wrong), frame);
}

void TestRules::textTooLongForLengthByte()
{
    QCOMPARE(frames::text(QByteArray(255, 'x'), false).size(), 257);
    QVERIFY(frames::text(QByteArray(256, 'x'), false).isEmpty());
    QCOMPARE(frames::text(QByteArray(254, 'x'), true).at(1), char(255));
    QVERIFY(frames::text(QByteArray(255, 'x'), true).isEmpty());
}

void TestRules::commandFrames()
{
    QCOMPARE(frames::command(frames::Command::Clear), QByteArray("\xA0\x01"));
    QCOMPARE(frames::command(frames::Command::Line1), QByteArray("\xA0\x80"));
    QCOMPARE(frames::command(frames::Command::Line2), QByteArray("\xA0\xC0"));
}

void TestRules::rate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rate"); // -1: refused

    QTest::newRow("default") << QStringLiteral("100") << 100;
    QTest::newRow("zero") << QStringLiteral("0") << 0;
    QTest::newRow("largest") << QStringLiteral("65535") << 65535;
    QTest::newRow("blanks around") << QStringLiteral("  50 ") << 50;
    QTest::newRow("leading zeros") << QStringLiteral("0020") << 20;
    QTest::newRow("too large") << QStringLiteral("65536") << -1;
    QTest::newRow("far too large") << QStringLiteral("99999999999") << -1;
    QTest::newRow("negative") << QStringLiteral("-5") << -1;
    QTest::newRow("plus sign") << QStringLiteral("+5") << -1;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("blanks only") << QStringLiteral("   ") << -1;
    QTest::newRow("letters") << QStringLiteral("abc") << -1;
    QTest::newRow("fraction") << QStringLiteral("10.5") << -1;
    QTest::newRow("digits then letters") << QStringLiteral("10ms") << -1;
    QTest::newRow("blank inside") << QStringLiteral("1 0") << -1;
    QTest::newRow("arabic-indic digits") << QStringLiteral("١٠") << -1;
}

void TestRules::rate()
{
    QFETCH(QString, text);
    QFETCH(int, rate);
    const auto parsed = sendloop::parseRate(text);
    QCOMPARE(parsed.value_or(-1), rate);
}

void TestRules::testText()
{
    QCOMPARE(sendloop::kTestText.size(), 78);
    QCOMPARE(sendloop::kTestText.left(40).right(2), QStringLiteral("  "));
    QCOMPARE(sendloop::kTestText.count(QStringLiteral("8-8-8= Teste")), 6);
    QCOMPARE(sendloop::tickBytes(80), 84);
}

void TestRules::portNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number"); // -1: not a number

    QTest::newRow("one") << QStringLiteral("1") << 1;
    QTest::newRow("two digits") << QStringLiteral("12") << 12;
    QTest::newRow("zero") << QStringLiteral("0") << 0;
    QTest::newRow("blanks") << QStringLiteral(" 7") << 7;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("letters") << QStringLiteral("ab") << -1;
    QTest::newRow("sign") << QStringLiteral("-1") << -1;
    QTest::newRow("mixed") << QStringLiteral("1a") << -1;
}

void TestRules::portNumber()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QCOMPARE(ports::parseNumber(text).value_or(-1), number);
}

void TestRules::settings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("bits");

    QTest::newRow("9600,N,8,1") << QStringLiteral("9600,N,8,1") << true << 10.0;
    QTest::newRow("19200,E,7,2") << QStringLiteral("19200,E,7,2") << true << 11.0;
    QTest::newRow("lower case") << QStringLiteral("9600,n,8,1") << true << 10.0;
    QTest::newRow("missing part") << QStringLiteral("9600,N,8") << false << 0.0;
    QTest::newRow("bad parity") << QStringLiteral("9600,X,8,1") << false << 0.0;
    QTest::newRow("bad data bits") << QStringLiteral("9600,N,9,1") << false << 0.0;
    QTest::newRow("zero baud") << QStringLiteral("0,N,8,1") << false << 0.0;
}

void TestRules::settings()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, bits);
    const auto parsed = LineSettings::parse(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(parsed->bitsPerByte(), bits);
        QCOMPARE(LineSettings::parse(parsed->toString()), parsed);
    }
}

void TestRules::txLine()
{
    const LineSettings s;
    QCOMPARE(s.byteTime(), 1'041'667ns); // 10 bits at 9600 baud
    TxLine line(1ms);
    QCOMPARE(line.pending(0ms), 0);
    line.handOver(10, 0ms);
    QCOMPARE(line.pending(0ms), 10);
    QCOMPARE(line.pending(std::chrono::microseconds(4500)), 6); // a byte half sent still counts
    QCOMPARE(line.pending(10ms), 0);
    line.handOver(4, 8ms); // queued behind the two still going out
    QCOMPARE(line.pending(8ms), 6);
    QCOMPARE(line.untilPendingAtMost(2, 8ms), 4ms);
    line.handOver(3, 100ms); // an idle line starts afresh
    QCOMPARE(line.pending(100ms), 3);
}

void TestRules::loopTimerKeepsTheGrid()
{
    // Ticks come at the interval's grid, a busy moment costs ticks but not the grid, and a
    // stop means no tick after it.
    LoopTimer timer;
    QList<qint64> at;
    QElapsedTimer clock;
    connect(&timer, &LoopTimer::Timer, this, [&] { at << clock.nsecsElapsed(); });
    timer.setInterval(20);
    clock.start();
    timer.setEnabled(true);
    QVERIFY(timer.isTicking());
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 10, 5000);
    QThread::msleep(75); // the thread at work: about three ticks come due meanwhile
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 13, 5000);
    timer.setEnabled(false);
    QVERIFY(!timer.isTicking());
    const qsizetype stopped = at.size();
    QTest::qWait(100);
    QCOMPARE(at.size(), stopped);
    for (qsizetype i = 1; i < at.size(); ++i) {
        const qint64 step = at[i] - at[i - 1];
        // Whole intervals apart, within what a loaded machine may add to one dispatch.
        const double intervals = double(step) / 20e6;
        QVERIFY2(std::abs(intervals - std::round(intervals)) < 0.45 || intervals > 1,
                 qPrintable(QString::number(intervals)));
    }
    // Nothing was queued: no burst of catch-up ticks after the busy moment.
    for (qsizetype i = 1; i < at.size(); ++i)
        QVERIFY2(at[i] - at[i - 1] > 5'000'000, qPrintable(QString::number(at[i] - at[i - 1])));
}

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
