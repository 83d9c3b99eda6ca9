#include "text/number.h"

#include <QTest>

// Numbers typed into the window's boxes: the loop's rate (at most 65535 ms) and the port
// number (at most 99).
class TestNumber : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestNumber::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("number"); // -1: refused

    const int rate = 65535;
    const int port = 99;
    QTest::newRow("rate default") << QStringLiteral("100") << rate << 100;
    QTest::newRow("rate zero") << QStringLiteral("0") << rate << 0;
    QTest::newRow("rate largest") << QStringLiteral("65535") << rate << 65535;
    QTest::newRow("blanks around") << QStringLiteral("  50 ") << rate << 50;
    QTest::newRow("leading zeros") << QStringLiteral("0020") << rate << 20;
    QTest::newRow("more digits than the largest") << QStringLiteral("000050") << rate << -1;
    QTest::newRow("too large") << QStringLiteral("65536") << rate << -1;
    QTest::newRow("far too large") << QStringLiteral("99999999999") << rate << -1;
    QTest::newRow("negative") << QStringLiteral("-5") << rate << -1;
    QTest::newRow("plus sign") << QStringLiteral("+5") << rate << -1;
    QTest::newRow("empty") << QString() << rate << -1;
    QTest::newRow("blanks only") << QStringLiteral("   ") << rate << -1;
    QTest::newRow("letters") << QStringLiteral("abc") << rate << -1;
    QTest::newRow("fraction") << QStringLiteral("10.5") << rate << -1;
    QTest::newRow("digits then letters") << QStringLiteral("10ms") << rate << -1;
    QTest::newRow("blank inside") << QStringLiteral("1 0") << rate << -1;
    QTest::newRow("arabic-indic digits") << QStringLiteral("١٠") << rate << -1;
    QTest::newRow("port one") << QStringLiteral("1") << port << 1;
    QTest::newRow("port two digits") << QStringLiteral("12") << port << 12;
    QTest::newRow("port zero is a number") << QStringLiteral("0") << port << 0;
    QTest::newRow("port largest") << QStringLiteral("99") << port << 99;
    QTest::newRow("port too large") << QStringLiteral("100") << port << -1;
    QTest::newRow("port blank first") << QStringLiteral(" 7") << port << 7;
    QTest::newRow("port sign") << QStringLiteral("-1") << port << -1;
    QTest::newRow("port mixed") << QStringLiteral("1a") << port << -1;
}

void TestNumber::parse()
{
    QFETCH(QString, text);
    QFETCH(int, max);
    QFETCH(int, number);
    QCOMPARE(numbers::parse(text, max).value_or(-1), number);
}

QTEST_GUILESS_MAIN(TestNumber)
#include "tst_number.moc"
