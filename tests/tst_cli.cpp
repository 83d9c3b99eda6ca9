#include "cli/cli.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QTest>

#include <vector>

// What the programs decide from their command line before any window exists.
class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void textOnly_data();
    void textOnly();
    void helpIsPortugueseAndNamesTheProgram();
};

void TestCli::textOnly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("textOnly");

    QTest::newRow("nothing") << QStringList() << false;
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << true;
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")} << true;
    QTest::newRow("--version after an option")
        << QStringList{QStringLiteral("--headless"), QStringLiteral("--version")} << true;
    QTest::newRow("-v") << QStringList{QStringLiteral("-v")} << true;
    QTest::newRow("after --, a value")
        << QStringList{QStringLiteral("--"), QStringLiteral("-h")} << false;
    QTest::newRow("a longer word") << QStringList{QStringLiteral("--helpful")} << false;
}

void TestCli::textOnly()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, textOnly);
    std::vector<QByteArray> bytes{QByteArrayLiteral("padcom")};
    for (const QString &a : arguments)
        bytes.push_back(a.toUtf8());
    std::vector<const char *> argv;
    for (const QByteArray &b : bytes)
        argv.push_back(b.constData());
    QCOMPARE(cli::asksForTextOnly(int(argv.size()), argv.data()), textOnly);
}

void TestCli::helpIsPortugueseAndNamesTheProgram()
{
    QCommandLineParser parser;
    cli::describe(parser, QStringLiteral("padsim"), QStringLiteral("Teclado virtual."));
    const QString help = cli::helpText(parser);
    QVERIFY2(
        help.startsWith(QStringLiteral("Uso: tst_cli [opções]\nTeclado virtual.\n\nOpções:\n")),
        qPrintable(help));
    QVERIFY2(help.contains(QRegularExpression(QStringLiteral("--version +Mostra a versão.\n"))),
             qPrintable(help));
    QCOMPARE(QCoreApplication::applicationVersion(), cli::version());
    QVERIFY(!cli::version().isEmpty());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
