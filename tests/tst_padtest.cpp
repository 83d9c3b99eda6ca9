#include "testkit/runtimedir.h"
#include "testkit/simprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// padtest as a production bench runs it: against padsim started with faults, judged by its
// exit code, its JSON, its JUnit report (read by Python, as CI servers' tools would) and its
// record.
class TestPadtest : public QObject
{
    Q_OBJECT

private slots:
    void runs_data();
    void runs();
};

void TestPadtest::runs_data()
{
    QTest::addColumn<QStringList>("padsim");  // empty: no keyboard at all
    QTest::addColumn<QStringList>("padtest"); // "PORT" stands for padsim's number
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("json"); // frames_sent accepted refused other_bytes, or empty
    QTest::addColumn<QString>("says");
    QTest::addColumn<int>("killAfterMs"); // 0: padsim lives to the end

    const QStringList keyboard{QStringLiteral("--port"), QStringLiteral("7")};
    const auto args = [](const char *text) {
        return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
    };
    QTest::newRow("a good keyboard passes, wrong frames refused")
        << keyboard << args("PORT --frames 20 --rate 50 --wrong-every 5") << 0
        << QStringLiteral("41 37 4 0") << QStringLiteral("APROVADO") << 0;
    QTest::newRow("refusals of good frames fail")
        << keyboard + args("--refuse-every 7") << args("PORT --frames 20 --rate 50") << 1
        << QStringLiteral("41 36 5 0") << QStringLiteral("quadros bons recusados") << 0;
    QTest::newRow("replies later than allowed fail")
        << keyboard + args("--reply-delay 30") << args("PORT --frames 5 --max-latency 10") << 1
        << QString() << QStringLiteral("quadros sem resposta em até 10 ms") << 0;
    QTest::newRow("a port that is not there")
        << QStringList() << args("99 --frames 5") << 3 << QString()
        << QStringLiteral("Não Foi possivel iniciar") << 0;
    QTest::newRow("the keyboard lost in the middle")
        << keyboard << args("PORT --seconds 30 --rate 50") << 3 << QString()
        << QStringLiteral("foi perdida") << 800;
    QTest::newRow("a rate of 0") << QStringList() << args("7 --rate 0") << 2 << QString()
                                 << QStringLiteral("--rate pede") << 0;
    QTest::newRow("a rate above 65535") << QStringList() << args("7 --rate 65536") << 2 << QString()
                                        << QStringLiteral("--rate pede") << 0;
    QTest::newRow("no port") << QStringList() << args("--frames 5") << 2 << QString()
                             << QStringLiteral("falta o número da porta") << 0;
    QTest::newRow("an unknown option") << QStringList() << args("7 --fast") << 2 << QString()
                                       << QStringLiteral("Opção desconhecida") << 0;
}

void TestPadtest::runs()
{
    QFETCH(QStringList, padsim);
    QFETCH(QStringList, padtest);
    QFETCH(int, exitCode);
    QFETCH(QString, json);
    QFETCH(QString, says);
    QFETCH(int, killAfterMs);

    RuntimeDir runtime;
    SimulatorProcess sim;
    if (!padsim.isEmpty())
        QVERIFY(sim.start(QStringLiteral(PADSIM_PATH), padsim));
    QTemporaryDir dir;
    const QString jsonPath = dir.filePath(QStringLiteral("figures.json"));
    const QString junitPath = dir.filePath(QStringLiteral("report.xml"));
    const QString recordPath = dir.filePath(QStringLiteral("session.txt"));
    padtest.replaceInStrings(QStringLiteral("PORT"), QString::number(sim.number()));
    if (exitCode != 2)
        padtest << QStringLiteral("--json") << jsonPath << QStringLiteral("--junit") << junitPath
                << QStringLiteral("--record") << recordPath;

    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral(PADTEST_PATH), padtest);
    QVERIFY(run.waitForStarted());
    if (killAfterMs > 0) {
        QTest::qWait(killAfterMs);
        sim.process().kill();
    }
    QVERIFY(run.waitForFinished(60'000));
    const QString out = QString::fromUtf8(run.readAll());
    QVERIFY2(out.contains(says), qPrintable(out));
    QCOMPARE(run.exitCode(), exitCode);
    if (exitCode == 2)
        return;

    QFile file(jsonPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject figures = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(figures[QStringLiteral("exit_code")].toInt(), exitCode);
    if (!json.isEmpty()) {
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(figures[QStringLiteral("frames_sent")].toInt())
                     .arg(figures[QStringLiteral("accepted")].toInt())
                     .arg(figures[QStringLiteral("refused")].toInt())
                     .arg(figures[QStringLiteral("other_bytes")].toInt()),
                 json);
        // The keyboard's own count agrees with ours.
        QTRY_COMPARE(sim.counts(), std::make_pair(figures[QStringLiteral("accepted")].toInt(),
                                                  figures[QStringLiteral("refused")].toInt()));
    }
    // A CI server's reader takes the report: one case per check, the failures as counted.
    // One case per check, counted as the cases say; a port that failed is an error.
    QProcess python;
    python.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, xml.etree.ElementTree as ET\n"
                        "s = ET.parse(sys.argv[1]).getroot().find('testsuite')\n"
                        "cases = s.findall('testcase')\n"
                        "n = lambda tag: sum(c.find(tag) is not None for c in cases)\n"
                        "assert int(s.get('tests')) == len(cases) > 0\n"
                        "for tag, count in (('failure', 'failures'), ('error', 'errors'),\n"
                        "                   ('skipped', 'skipped')):\n"
                        "    assert int(s.get(count)) == n(tag), tag\n"
                        "print(n('failure'), n('error'))"),
         junitPath});
    QVERIFY(python.waitForFinished(30'000));
    QCOMPARE(python.exitCode(), 0);
    const QList<QByteArray> bad = python.readAllStandardOutput().trimmed().split(' ');
    QCOMPARE(bad.value(0) == "0" && bad.value(1) == "0", exitCode == 0);
    QCOMPARE(bad.value(1) != "0", exitCode == 3);
    // The record holds what happened, to the end, loss included.
    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray lines = record.readAll();
    QVERIFY(lines.startsWith("# PADCOM "));
    QVERIFY2(lines.contains("# Quadros enviados: "), lines.right(300).constData());
}

QTEST_GUILESS_MAIN(TestPadtest)
#include "tst_padtest.moc"
