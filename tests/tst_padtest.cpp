#include "testkit/runtimedir.h"
#include "testkit/simprocess.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// padtest as a production bench runs it: against padsim playing sound and faulty keyboards,
// judged by its exit code, its summary, its JSON, its JUnit report (read by Python, as CI
// servers' tools would) and its record, which must all say the same, in bounded time.
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
    // What happens during the run: "kill MS" (the keyboard dies), "interrupt MS [N]" (N
    // Ctrl+C, one after the other, MS after the start).
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("broken"); // a file that cannot be written: json, record

    const QStringList keyboard{QStringLiteral("--port"), QStringLiteral("7")};
    const auto args = [](const char *text) {
        return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
    };
    QTest::newRow("a good keyboard passes, wrong frames refused")
        << keyboard << args("PORT --frames 20 --rate 50 --wrong-every 5") << 0
        << QStringLiteral("41 37 4 0") << QStringLiteral("APROVADO") << QString() << QString();
    QTest::newRow("refusals of good frames fail")
        << keyboard + args("--refuse-every 7") << args("PORT --frames 20 --rate 50") << 1
        << QStringLiteral("41 36 5 0") << QStringLiteral("quadros bons recusados") << QString()
        << QString();
    QTest::newRow("replies later than the bound: the frame counts as unanswered")
        << keyboard + args("--reply-delay 30") << args("PORT --frames 5 --max-latency 10") << 1
        << QString() << QStringLiteral("quadros sem resposta em até 10 ms") << QString()
        << QString();
    QTest::newRow("a port that is not there")
        << QStringList() << args("99 --frames 5") << 3 << QString()
        << QStringLiteral("Não Foi possivel iniciar") << QString() << QString();
    QTest::newRow("the keyboard lost in the middle")
        << keyboard << args("PORT --seconds 30 --rate 50") << 3 << QString()
        << QStringLiteral("foi perdida") << QStringLiteral("kill 800") << QString();
    // A keyboard that takes 20 s to answer, and a bound of 30 s: Ctrl+C must not wait them.
    QTest::newRow("Ctrl+C while the keyboard keeps everyone waiting")
        << keyboard + args("--reply-delay 20000") << args("PORT --seconds 60 --max-latency 30000")
        << 1 << QString() << QStringLiteral("interrompido antes do fim")
        << QStringLiteral("interrupt 600") << QString();
    QTest::newRow("Ctrl+C twice") << keyboard + args("--reply-delay 20000")
                                  << args("PORT --seconds 60 --max-latency 30000") << 1 << QString()
                                  << QStringLiteral("interrompido antes do fim")
                                  << QStringLiteral("interrupt 600 2") << QString();
    QTest::newRow("a report that cannot be written fails the run, and the others say so")
        << keyboard << args("PORT --frames 2") << 1 << QString()
        << QStringLiteral("não foi possível gravar") << QString() << QStringLiteral("json");
    QTest::newRow("a record that cannot be written fails the run")
        << keyboard << args("PORT --frames 20 --rate 20") << 1 << QString()
        << QStringLiteral("não há espaço livre no disco") << QString() << QStringLiteral("record");
    QTest::newRow("a rate of 0") << QStringList() << args("7 --rate 0") << 2 << QString()
                                 << QStringLiteral("--rate pede") << QString() << QString();
    QTest::newRow("a rate above 65535") << QStringList() << args("7 --rate 65536") << 2 << QString()
                                        << QStringLiteral("--rate pede") << QString() << QString();
    QTest::newRow("no port") << QStringList() << args("--frames 5") << 2 << QString()
                             << QStringLiteral("falta o número da porta") << QString() << QString();
    QTest::newRow("an unknown option")
        << QStringList() << args("7 --fast") << 2 << QString()
        << QStringLiteral("Opção desconhecida") << QString() << QString();
}

void TestPadtest::runs()
{
    QFETCH(QStringList, padsim);
    QFETCH(QStringList, padtest);
    QFETCH(int, exitCode);
    QFETCH(QString, json);
    QFETCH(QString, says);
    QFETCH(QString, action);
    QFETCH(QString, broken);

    RuntimeDir runtime;
    SimulatorProcess sim;
    if (!padsim.isEmpty())
        QVERIFY(sim.start(QStringLiteral(PADSIM_PATH), padsim));
    QTemporaryDir dir;
    const QString jsonPath = broken == u"json"
                                 ? dir.filePath(QStringLiteral("no/such/figures.json"))
                                 : dir.filePath(QStringLiteral("figures.json"));
    const QString junitPath = dir.filePath(QStringLiteral("report.xml"));
    const QString recordPath = broken == u"record" ? QStringLiteral("/dev/full")
                                                   : dir.filePath(QStringLiteral("session.txt"));
    padtest.replaceInStrings(QStringLiteral("PORT"), QString::number(sim.number()));
    if (exitCode != 2)
        padtest << QStringLiteral("--json") << jsonPath << QStringLiteral("--junit") << junitPath
                << QStringLiteral("--record") << recordPath;

    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral(PADTEST_PATH), padtest);
    QVERIFY(run.waitForStarted());
    const QStringList act = action.split(u' ', Qt::SkipEmptyParts);
    QElapsedTimer sinceAction;
    if (!act.isEmpty()) {
        QTest::qWait(act[1].toInt());
        sinceAction.start();
        if (act[0] == u"kill") {
            sim.process().kill();
        } else {
            for (int i = 0; i < act.value(2, QStringLiteral("1")).toInt(); ++i)
                ::kill(pid_t(run.processId()), SIGINT);
        }
    }
    QVERIFY(run.waitForFinished(60'000));
    // Within half a second of Ctrl+C; the rest is a margin for a loaded machine.
    if (act.value(0) == u"interrupt")
        QVERIFY2(sinceAction.elapsed() < 2000, qPrintable(QString::number(sinceAction.elapsed())));
    const QString out = QString::fromUtf8(run.readAll());
    QVERIFY2(out.contains(says), qPrintable(out));
    QCOMPARE(run.exitCode(), exitCode);
    if (exitCode == 2)
        return;
    QCOMPARE(out.startsWith(QStringLiteral("APROVADO")), exitCode == 0);

    if (broken != u"json") {
        QFile file(jsonPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject figures = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(figures[QStringLiteral("exit_code")].toInt(), exitCode);
        QCOMPARE(figures[QStringLiteral("verdict")].toString() == u"pass", exitCode == 0);
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
    }
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
    // A run that could not tell its result does not start: it has no record to write.
    if (!broken.isEmpty())
        return;
    // The record holds what happened, to the end: every opening closed or lost, then the
    // figures of the whole file.
    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray lines = record.readAll();
    QVERIFY(lines.startsWith("# PADCOM "));
    QCOMPARE(lines.count(" aberta: "), lines.count(" fechada\n") + lines.count(" perdida: "));
    QVERIFY2(lines.contains("# Números da gravação inteira:\n# Quadros enviados: "),
             lines.right(300).constData());
}

QTEST_GUILESS_MAIN(TestPadtest)
#include "tst_padtest.moc"
