#include "monitor/receive.h"
#include "text/win1252.h"

#include <QTest>

Q_DECLARE_METATYPE(monitor::Boxes)

class TestReceive : public QObject
{
    Q_OBJECT

private slots:
    void hexCodes();
    void logLimit_data();
    void logLimit();
    void count_data();
    void count();
    void block_data();
    void block();
    void allByteValuesKept();
};

void TestReceive::hexCodes()
{
    const QStringList expected = {QStringLiteral("0"),  QStringLiteral("6"),  QStringLiteral("A"),
                                  QStringLiteral("F"),  QStringLiteral("10"), QStringLiteral("15"),
                                  QStringLiteral("41"), QStringLiteral("A5"), QStringLiteral("FF")};
    const QList<uchar> bytes = {0x00, 0x06, 0x0A, 0x0F, 0x10, 0x15, 0x41, 0xA5, 0xFF};
    for (qsizetype i = 0; i < bytes.size(); ++i)
        QCOMPARE(monitor::hexCode(bytes[i]), expected[i]);
    for (int b = 0; b < 256; ++b)
        QCOMPARE(monitor::hexCode(uchar(b)).toInt(nullptr, 16), b);
}

void TestReceive::logLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("empties");
    for (const auto &[n, e] : std::initializer_list<std::pair<int, bool>>{{0, false},
                                                                          {599, false},
                                                                          {600, true},
                                                                          {601, false},
                                                                          {1000, false},
                                                                          {1001, true},
                                                                          {5000, true}})
        QTest::addRow("%d", n) << n << e;
}

void TestReceive::logLimit()
{
    QFETCH(int, length);
    QFETCH(bool, empties);
    QCOMPARE(monitor::logsMustEmpty(length), empties);
}

void TestReceive::count_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<qint64>("amount");
    QTest::addColumn<QString>("result");

    QTest::newRow("zero") << QStringLiteral("0") << qint64(1) << QStringLiteral("1");
    QTest::newRow("nine") << QStringLiteral("9") << qint64(1) << QStringLiteral("10");
    QTest::newRow("minus three") << QStringLiteral("-3") << qint64(1) << QStringLiteral("-2");
    QTest::newRow("minus one to zero") << QStringLiteral("-1") << qint64(1) << QStringLiteral("0");
    QTest::newRow("minus two by five") << QStringLiteral("-2") << qint64(5) << QStringLiteral("3");
    QTest::newRow("digits then letters")
        << QStringLiteral("12abc") << qint64(1) << QStringLiteral("13");
    QTest::newRow("letters") << QStringLiteral("abc") << qint64(1) << QStringLiteral("1");
    QTest::newRow("empty") << QString() << qint64(1) << QStringLiteral("1");
    QTest::newRow("leading blanks") << QStringLiteral("   41") << qint64(1) << QStringLiteral("42");
    QTest::newRow("leading zeros") << QStringLiteral("007") << qint64(1) << QStringLiteral("8");
    QTest::newRow("minus alone") << QStringLiteral("-") << qint64(1) << QStringLiteral("1");
    QTest::newRow("fraction cut") << QStringLiteral("2.5") << qint64(1) << QStringLiteral("3");
    QTest::newRow("blank then letters")
        << QStringLiteral(" x9") << qint64(1) << QStringLiteral("1");
    QTest::newRow("past 2^53") << QStringLiteral("9007199254740993") << qint64(1)
                               << QStringLiteral("9007199254740994");
    QTest::newRow("past 64 bits") << QStringLiteral("99999999999999999999") << qint64(1)
                                  << QStringLiteral("100000000000000000000");
    QTest::newRow("huge negative") << QStringLiteral("-100000000000000000000") << qint64(1)
                                   << QStringLiteral("-99999999999999999999");
    QTest::newRow("block of 1024")
        << QStringLiteral("976") << qint64(1024) << QStringLiteral("2000");
}

void TestReceive::count()
{
    QFETCH(QString, box);
    QFETCH(qint64, amount);
    QFETCH(QString, result);
    QCOMPARE(monitor::addToCount(box, amount), result);
    // Adding one at a time gives the same text as adding the whole amount.
    QString stepwise = box;
    for (qint64 i = 0; i < amount; ++i)
        stepwise = monitor::addToCount(stepwise, 1);
    QCOMPARE(stepwise, result);
}

void TestReceive::block_data()
{
    QTest::addColumn<monitor::Boxes>("before");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<monitor::Boxes>("after");
    QTest::addColumn<QByteArray>("echoed");

    using B = monitor::Boxes;
    const B fresh{QString(), QString(), QStringLiteral("0"), QStringLiteral("0")};
    const QString ackNakA = QStringLiteral(" \x06\x15"
                                           "A");

    QTest::newRow("empty block") << fresh << QByteArray() << true
                                 << B{QStringLiteral(" "), QString(), QStringLiteral("0"),
                                      QStringLiteral("0")}
                                 << QByteArray();
    QTest::newRow("06 15 41 with echo")
        << fresh
        << QByteArray("\x06\x15"
                      "A")
        << true << B{ackNakA, QStringLiteral(" 6 15 41"), QStringLiteral("1"), QStringLiteral("1")}
        << QByteArray("\xA5\x01"
                      "A");
    QTest::newRow("06 15 41 without echo")
        << fresh
        << QByteArray("\x06\x15"
                      "A")
        << false << B{ackNakA, QStringLiteral(" 6 15 41"), QStringLiteral("1"), QStringLiteral("1")}
        << QByteArray();
    QTest::newRow("second identical block")
        << B{ackNakA, QStringLiteral(" 6 15 41"), QStringLiteral("1"), QStringLiteral("1")}
        << QByteArray("\x06\x15"
                      "A")
        << true
        << B{ackNakA + ackNakA, QStringLiteral(" 6 15 41 6 15 41"), QStringLiteral("2"),
             QStringLiteral("2")}
        << QByteArray("\xA5\x01"
                      "A");
    QTest::newRow("acks only") << fresh << QByteArray("\x06\x06\x06") << true
                               << B{QStringLiteral(" \x06\x06\x06"), QStringLiteral(" 6 6 6"),
                                    QStringLiteral("0"), QStringLiteral("0")}
                               << QByteArray();
    QTest::newRow("ABC echo order") << fresh << QByteArray("ABC") << true
                                    << B{QStringLiteral(" ABC"), QStringLiteral(" 41 42 43"),
                                         QStringLiteral("0"), QStringLiteral("3")}
                                    << QByteArray("\xA5\x01"
                                                  "A"
                                                  "\xA5\x01"
                                                  "B"
                                                  "\xA5\x01"
                                                  "C");
    QTest::newRow("NUL") << fresh << QByteArray(1, '\0') << true
                         << B{QStringLiteral(" ") + QChar(u'\0'), QStringLiteral(" 0"),
                              QStringLiteral("0"), QStringLiteral("1")}
                         << QByteArray("\xA5\x01\x00", 3);
    QTest::newRow("A5 and 0A") << fresh << QByteArray("\xA5\x0A") << true
                               << B{QStringLiteral(" ¥\n"), QStringLiteral(" A5 A"),
                                    QStringLiteral("0"), QStringLiteral("2")}
                               << QByteArray("\xA5\x01\xA5\xA5\x01\x0A");
    QTest::newRow("counts nine and minus three")
        << B{QString(), QString(), QStringLiteral("9"), QStringLiteral("-3")} << QByteArray("\x15Z")
        << false
        << B{QStringLiteral(" \x15Z"), QStringLiteral(" 15 5A"), QStringLiteral("10"),
             QStringLiteral("-2")}
        << QByteArray();
    QTest::newRow("counts of text")
        << B{QString(), QString(), QStringLiteral("12abc"), QStringLiteral("abc")}
        << QByteArray("\x15Z") << false
        << B{QStringLiteral(" \x15Z"), QStringLiteral(" 15 5A"), QStringLiteral("13"),
             QStringLiteral("1")}
        << QByteArray();
    QTest::newRow("untouched count keeps its text")
        << B{QString(), QString(), QStringLiteral("x"), QStringLiteral("")} << QByteArray("\x06")
        << false
        << B{QStringLiteral(" \x06"), QStringLiteral(" 6"), QStringLiteral("x"), QStringLiteral("")}
        << QByteArray();

    const QString h599(599, u'h'), h600(600, u'h'), h601(601, u'h'), h1000(1000, u'h'),
        h1001(1001, u'h');
    QTest::newRow("hex log 599") << B{QStringLiteral("a"), h599, QStringLiteral("0"),
                                      QStringLiteral("0")}
                                 << QByteArray("\x06") << false
                                 << B{QStringLiteral("a \x06"), h599 + QStringLiteral(" 6"),
                                      QStringLiteral("0"), QStringLiteral("0")}
                                 << QByteArray();
    QTest::newRow("hex log 600 empties")
        << B{QStringLiteral("a"), h600, QStringLiteral("0"), QStringLiteral("0")}
        << QByteArray("\x06") << false
        << B{QStringLiteral(" \x06"), QStringLiteral(" 6"), QStringLiteral("0"),
             QStringLiteral("0")}
        << QByteArray();
    QTest::newRow("hex log 601") << B{QStringLiteral("a"), h601, QStringLiteral("0"),
                                      QStringLiteral("0")}
                                 << QByteArray("\x06") << false
                                 << B{QStringLiteral("a \x06"), h601 + QStringLiteral(" 6"),
                                      QStringLiteral("0"), QStringLiteral("0")}
                                 << QByteArray();
    QTest::newRow("hex log 1000") << B{QStringLiteral("a"), h1000, QStringLiteral("0"),
                                       QStringLiteral("0")}
                                  << QByteArray("\x06") << false
                                  << B{QStringLiteral("a \x06"), h1000 + QStringLiteral(" 6"),
                                       QStringLiteral("0"), QStringLiteral("0")}
                                  << QByteArray();
    QTest::newRow("hex log 1001 empties")
        << B{QStringLiteral("a"), h1001, QStringLiteral("0"), QStringLiteral("0")}
        << QByteArray("\x06") << false
        << B{QStringLiteral(" \x06"), QStringLiteral(" 6"), QStringLiteral("0"),
             QStringLiteral("0")}
        << QByteArray();
}

void TestReceive::block()
{
    QFETCH(monitor::Boxes, before);
    QFETCH(QByteArray, block);
    QFETCH(bool, echo);
    QFETCH(monitor::Boxes, after);
    QFETCH(QByteArray, echoed);

    const monitor::BlockResult r = monitor::receiveBlock(before, block, echo);
    QCOMPARE(r.boxes.asciiLog, after.asciiLog);
    QCOMPARE(r.boxes.hexLog, after.hexLog);
    QCOMPARE(r.boxes.nack, after.nack);
    QCOMPARE(r.boxes.erro, after.erro);
    QCOMPARE(r.echoes.join(), echoed);
    for (const QByteArray &frame : r.echoes)
        QCOMPARE(frame.size(), 3); // one frame per byte, never merged
}

void TestReceive::allByteValuesKept()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const monitor::BlockResult r = monitor::receiveBlock({}, all, true);
    QCOMPARE(win1252::encode(r.boxes.asciiLog.mid(1)), all);
    QCOMPARE(r.boxes.hexLog.split(u' ', Qt::SkipEmptyParts).size(), 256);
    QCOMPARE(r.boxes.nack, QStringLiteral("1"));
    QCOMPARE(r.boxes.erro, QStringLiteral("254"));
    QCOMPARE(r.echoes.size(), 254);
}

QTEST_GUILESS_MAIN(TestReceive)
#include "tst_receive.moc"
