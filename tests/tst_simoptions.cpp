#include "sim/simoptions.h"

#include <QCommandLineParser>
#include <QMap>
#include <QProcess>
#include <QTest>

namespace {

QMap<QString, QString> fields(const SimOptions &o)
{
    const Faults &f = o;
    QMap<QString, QString> m;
    m[QStringLiteral("port")] = QString::number(o.number);
    m[QStringLiteral("device")] = o.device;
    m[QStringLiteral("paced")] = QString::number(o.paced);
    m[QStringLiteral("headless")] = QString::number(o.headless);
    m[QStringLiteral("delay")] = QString::number(f.replyDelayMs);
    m[QStringLiteral("refuse")] = QString::number(f.refuseEvery);
    m[QStringLiteral("twice")] = QString::number(f.answerTwice);
    m[QStringLiteral("silent")] = QString::number(f.silentAfter);
    m[QStringLiteral("drop")] = QString::number(f.dropEvery);
    m[QStringLiteral("noise")] = QString::number(f.noiseEvery);
    m[QStringLiteral("nogap")] = QString::number(f.noGap);
    m[QStringLiteral("acceptall")] = QString::number(f.acceptAll);
    m[QStringLiteral("stale")] = QString::number(f.stale);
    return m;
}

QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

} // namespace

// padsim's command line: every number read the same way, every mistake a usage error.
class TestSimOptions : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void exitCodes_data();
    void exitCodes();
};

void TestSimOptions::read_data()
{
    QTest::addColumn<QStringList>("arguments");
    // "name=value" for what differs from the defaults, or the error expected.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("error");

    QTest::newRow("nothing: the first free port, paced, a window")
        << QStringList() << QStringList() << QString();
    QTest::newRow("every option at once")
        << words("--port 99 --headless --no-pacing --reply-delay 20 --refuse-every 10 "
                 "--answer-twice --silent-after 5 --drop-every 3 --noise-every 4 --no-gap "
                 "--accept-all --stale 1000")
        << words("port=99 headless=1 paced=0 delay=20 refuse=10 twice=1 silent=5 drop=3 "
                 "noise=4 nogap=1 acceptall=1 stale=1000")
        << QString();
    QTest::newRow("silent from the start")
        << words("--silent-after 0") << words("silent=0") << QString();
    QTest::newRow("a real port with faults")
        << words("--device /dev/ttyUSB1 --drop-every 65535")
        << words("device=/dev/ttyUSB1 drop=65535") << QString();

    QTest::newRow("port 0") << words("--port 0") << QStringList()
                            << QStringLiteral("--port pede um número inteiro de 1 a 99, não \"0\"");
    QTest::newRow("port 100") << words("--port 100") << QStringList()
                              << QStringLiteral(
                                     "--port pede um número inteiro de 1 a 99, não \"100\"");
    QTest::newRow("a delay that is no number")
        << words("--reply-delay 2O") << QStringList()
        << QStringLiteral("--reply-delay pede um número inteiro de 0 a 65535, não \"2O\"");
    QTest::newRow("a delay too long")
        << words("--reply-delay 65536") << QStringList()
        << QStringLiteral("--reply-delay pede um número inteiro de 0 a 65535, não \"65536\"");
    QTest::newRow("refusing every 0th")
        << words("--refuse-every 0") << QStringList()
        << QStringLiteral("--refuse-every pede um número inteiro de 1 a 65535, não \"0\"");
    QTest::newRow("a negative count")
        << words("--noise-every -1") << QStringList()
        << QStringLiteral("--noise-every pede um número inteiro de 1 a 65535, não \"-1\"");
    QTest::newRow("too many stale replies")
        << words("--stale 1001") << QStringList()
        << QStringLiteral("--stale pede um número inteiro de 1 a 1000, não \"1001\"");
    QTest::newRow("stale replies on a real port")
        << words("--device /dev/ttyUSB1 --stale 2") << QStringList()
        << QStringLiteral("--stale só vale na pseudo-porta, não com --device");
    QTest::newRow("a port number without --port")
        << words("7") << QStringList()
        << QStringLiteral("argumento inesperado: \"7\" (a porta se escolhe com --port N)");
}

void TestSimOptions::read()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, options);
    QFETCH(QString, error);

    QCommandLineParser parser;
    addSimOptions(parser);
    QVERIFY2(parser.parse(QStringList{QStringLiteral("padsim")} + arguments),
             qPrintable(parser.errorText()));
    const ParsedSimOptions parsed = readSimOptions(parser);
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.options.has_value(), error.isEmpty());
    if (!parsed.options)
        return;
    QMap<QString, QString> expected = fields(SimOptions());
    for (const QString &o : options)
        expected[o.section(u'=', 0, 0)] = o.section(u'=', 1);
    QCOMPARE(fields(*parsed.options), expected);
}

void TestSimOptions::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("a bad value: usage") << words("--headless --reply-delay abc") << 2
                                        << QStringLiteral("padsim: --reply-delay pede um número "
                                                          "inteiro de 0 a 65535, não \"abc\"");
    QTest::newRow("a bad port number: usage")
        << words("--headless --port 0") << 2
        << QStringLiteral("padsim: --port pede um número inteiro de 1 a 99, não \"0\"");
    QTest::newRow("an unknown option: usage") << words("--headless --answer-thrice") << 2
                                              << QStringLiteral("padsim: Opção desconhecida: "
                                                                "'answer-thrice'.");
    QTest::newRow("a device that cannot be opened: not usage")
        << words("--headless --device /nonexistent/ttyX") << 1
        << QStringLiteral("padsim: /nonexistent/ttyX: ");
}

void TestSimOptions::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);

    QProcess padsim;
    padsim.start(QStringLiteral(PADSIM_PATH), arguments);
    QVERIFY(padsim.waitForFinished(10'000));
    QCOMPARE(padsim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(padsim.exitCode(), exitCode);
    const QStringList said = QString::fromUtf8(padsim.readAllStandardError()).split(u'\n');
    QVERIFY2(said.constFirst().startsWith(firstLine), qPrintable(said.join(u'\n')));
    // A usage error shows the usage after its one line.
    QCOMPARE(said.value(1).startsWith(QStringLiteral("Uso: padsim")), exitCode == 2);
}

QTEST_GUILESS_MAIN(TestSimOptions)
#include "tst_simoptions.moc"
