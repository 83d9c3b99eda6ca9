// Fault drills and a restless user, on real pseudo-terminals: what must hold whatever the
// user and the line do. Counts are modest by default, so that CI keeps running them; the
// variables PADCOM_LOSSES, PADCOM_CYCLES, PADCOM_FLOOD_SECONDS and PADCOM_ACTIONS make them
// as long as wanted, PADCOM_SEED replays a restless run and PADCOM_TRACE prints its steps.
#include "app/frmpadcom.h"
#include "app/widgets/textbox.h"
#include "monitor/receive.h"
#include "protocol/sendloop.h"
#include "serial/linesettings.h"
#include "serial/portmap.h"
#include "testkit/framecheck.h"
#include "testkit/linerecorder.h"
#include "testkit/simprocess.h"
#include "testkit/windowrig.h"
#include "text/win1252.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>

#include <array>
#include <atomic>
#include <csignal>
#include <ctime>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

int envCount(const char *name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// Growth of memory, as far as this build can tell: AddressSanitizer keeps what is freed in
// quarantine, so there the plain build's run is the one that judges memory (and the
// sanitizer's own leak check judges leaks).
double grownMiB(double since)
{
#if defined(__SANITIZE_ADDRESS__)
    Q_UNUSED(since);
    return 0;
#else
    return residentMiB() - since;
#endif
}

double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

class TestDrills : public QObject
{
    Q_OBJECT

private slots:
    void lossesDuringLoop_data();
    void lossesDuringLoop();
    void reopenCycles();
    void floodWithLoopAndEcho();
    void stopsNeverCutFrames();
    void restlessUser();
};

void TestDrills::lossesDuringLoop_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("pseudo-terminal closed") << QStringLiteral("close");
    QTest::newRow("padsim killed") << QStringLiteral("kill");
    QTest::newRow("padsim terminated") << QStringLiteral("term");
}

void TestDrills::lossesDuringLoop()
{
    QFETCH(QString, how);
    const int losses = envCount("PADCOM_LOSSES", 8);
    WindowRig rig;
    QVERIFY(rig.isValid());
    rig.show();
    rig.get<QLineEdit>("Text4")->setText(QStringLiteral("1"));
    int fdsAfterFirst = 0;
    double rssAfterFirst = 0;
    for (int i = 0; i < losses; ++i) {
        std::unique_ptr<SimulatorProcess> sim;
        if (how != u"close") {
            sim = std::make_unique<SimulatorProcess>();
            QVERIFY(sim->start(QStringLiteral(PADSIM_PATH)));
        }
        const QString number = sim ? QString::number(sim->number()) : QStringLiteral("1");
        QVERIFY2(rig.open(number), qPrintable(QString::number(i)));
        if (!sim && i == 0) {
            rig.send("AB"); // what the user was looking at, to be kept
            QTRY_COMPARE(rig.text("Text3"), QStringLiteral(" 41 42"));
        }
        rig.click("Command7");
        QTest::qWait(30);
        if (how == u"close")
            rig.pull();
        else
            ::kill(pid_t(sim->process().processId()), how == u"kill" ? SIGKILL : SIGTERM);
        // A notice about skipped ticks may come first; the loss's own replaces it.
        // What the window said instead, if it says nothing of the loss in time.
        QTRY_VERIFY2_WITH_TIMEOUT(
            rig.notice()->text().contains(QStringLiteral("foi fechada")),
            qPrintable(QStringLiteral("round %1, port %2, notice \"%3\"")
                           .arg(i)
                           .arg(rig.form->comm().PortOpen() ? u"open" : u"closed")
                           .arg(rig.notice()->text())),
            10000);
        QVERIFY(rig.notice()->isVisible());
        QVERIFY(rig.notice()->windowModality() == Qt::NonModal);
        QVERIFY2(rig.notice()->text().startsWith(QStringLiteral("A porta serial %1 (").arg(number))
                     && rig.notice()->text().contains(QStringLiteral("\"Inicia a Porta Serial\"")),
                 qPrintable(rig.notice()->text()));
        QVERIFY(rig.covered());
        QCOMPARE(rig.form->loopOn(), qint16(0));
        QVERIFY(!rig.form->timer().isTicking());
        // The logs and counters keep what the user was looking at.
        if (!sim && i == 0) {
            QCOMPARE(rig.text("Text3"), QStringLiteral(" 41 42"));
            QCOMPARE(rig.text("Text7"), QStringLiteral("2"));
        } else if (sim) {
            QVERIFY(!rig.text("Text3").isEmpty());
        }
        // Told once, and idle afterwards: no tick, no retry on the dead device.
        rig.notice()->hide();
        rig.notice()->setText(QString()); // the next round waits for a notice of its own
        const double cpu = cpuSeconds();
        QTest::qWait(200);
        QVERIFY2(cpuSeconds() - cpu < 0.05, qPrintable(QString::number(cpuSeconds() - cpu)));
        QVERIFY(!rig.notice()->isVisible());
        if (how == u"close")
            rig.attach();
        sim.reset();
        if (i == 0) {
            fdsAfterFirst = openDescriptors();
            rssAfterFirst = residentMiB();
        }
    }
    // The device back: "Inicia" recovers, and nothing was left behind by the losses.
    if (how != u"close") {
        SimulatorProcess sim;
        QVERIFY(sim.start(QStringLiteral(PADSIM_PATH)));
        QVERIFY(rig.open(QString::number(sim.number())));
    } else {
        QVERIFY(rig.open());
        const qsizetype before = rig.received().size();
        rig.click("Command5");
        QTRY_COMPARE(rig.received().mid(before), QByteArray("\xA0\x80"));
    }
    rig.click("Command8");
    QVERIFY2(openDescriptors() <= fdsAfterFirst,
             qPrintable(QStringLiteral("%1 > %2").arg(openDescriptors()).arg(fdsAfterFirst)));
    QVERIFY2(grownMiB(rssAfterFirst) < 8, qPrintable(QString::number(grownMiB(rssAfterFirst))));
}

void TestDrills::reopenCycles()
{
    const int cycles = envCount("PADCOM_CYCLES", 1000);
    WindowRig rig;
    QVERIFY(rig.isValid());
    rig.show();
    int fds = 0;
    double rss = 0;
    for (int i = 0; i < cycles; ++i) {
        rig.click("CMDInicializar");
        QVERIFY2(rig.form->comm().PortOpen(), qPrintable(QString::number(i)));
        rig.click("Command8");
        // Paint and delete what waits, as the program's event loop does between clicks.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (i == 10) {
            fds = openDescriptors();
            rss = residentMiB();
        }
    }
    qInfo("%d cycles: descriptors %d -> %d, memory %+.2f MiB", cycles, fds, openDescriptors(),
          residentMiB() - rss);
    QVERIFY(openDescriptors() <= fds);
    QVERIFY2(grownMiB(rss) < 4, qPrintable(QString::number(grownMiB(rss))));
    // No lock of any kind left behind: another control opens the port at once.
    MSComm other;
    QVERIFY(other.setCommPort(1) && other.setPortOpen(true));
}

void TestDrills::floodWithLoopAndEcho()
{
    const int seconds = envCount("PADCOM_FLOOD_SECONDS", 4);
    WindowRig rig;
    QVERIFY(rig.isValid());
    rig.show();
    rig.click("CMDInicializar");
    rig.get<QCheckBox>("eco")->setChecked(true);
    rig.get<QLineEdit>("Text4")->setText(QStringLiteral("20"));
    rig.click("Command7");

    // The far end writes from a thread of its own, as fast as the terminal takes it.
    std::atomic<bool> stop{false};
    qint64 nacks = 0, others = 0, sent = 0;
    std::thread flood([&] {
        QRandomGenerator random(99);
        QByteArray chunk(512, Qt::Uninitialized);
        const auto end = monotonicNow() + std::chrono::seconds(seconds);
        while (!stop && monotonicNow() < end) {
            for (char &c : chunk)
                c = char(random.bounded(256));
            pollfd p{rig.peer().masterFd(), POLLOUT, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            const ssize_t n
                = ::write(rig.peer().masterFd(), chunk.constData(), size_t(chunk.size()));
            for (ssize_t k = 0; k < n; ++k) {
                const auto b = uchar(chunk[qsizetype(k)]);
                nacks += b == 0x15;
                others += b != 0x15 && b != 0x06;
            }
            sent += std::max<ssize_t>(n, 0);
        }
    });
    // The window must keep answering: measure the longest pause of its event loop.
    QElapsedTimer since;
    since.start();
    qint64 longestStall = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    connect(&beat, &QTimer::timeout,
            [&] { longestStall = std::max(longestStall, since.restart()); });
    beat.start(1);
    const double rssBefore = residentMiB();
    QTest::qWait(seconds * 1000 + 200);
    stop = true;
    flood.join();
    // The backlog is drained when every byte sent was counted. An empty receive buffer alone
    // says nothing: the terminal may still hold bytes the line has not taken yet.
    QTRY_COMPARE_WITH_TIMEOUT(rig.text("Text7"), QString::number(others), 5000);
    QTRY_COMPARE(rig.text("Text6"), QString::number(nacks));
    QTest::qWait(300);
    beat.stop();
    QCOMPARE(rig.form->comm().InBufferCount(), 0);
    QCOMPARE(rig.text("Text6"), QString::number(nacks));
    QCOMPARE(rig.text("Text7"), QString::number(others));
    qInfo("flood: %lld bytes in %d s, longest event-loop stall %lld ms, memory %+.1f MiB", sent,
          seconds, longestStall, residentMiB() - rssBefore);
    QVERIFY2(longestStall < 250, qPrintable(QString::number(longestStall)));
    QVERIFY(grownMiB(rssBefore) < 20);
}

void TestDrills::stopsNeverCutFrames()
{
    // Stop a running loop at random moments, in each way a user can: whatever reached the
    // far end must read as whole frames, and only frames the window was asked to send.
    WindowRig rig;
    rig.attach(LineSettings().bytesPerSecond());
    QVERIFY(rig.isValid());
    const quint32 seed = qEnvironmentVariableIsSet("PADCOM_SEED")
                             ? qEnvironmentVariable("PADCOM_SEED").toUInt()
                             : QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    QSet<QByteArray> texts{sendloop::kTestText.toLatin1()};
    for (int i = envCount("PADCOM_STOPS", 200); i > 0; --i) {
        if (!rig.form)
            rig.show();
        QVERIFY(rig.open());
        QByteArray text(random.bounded(81), Qt::Uninitialized);
        for (char &c : text)
            c = char('A' + random.bounded(26));
        texts.insert(text);
        rig.setText("Text1", QString::fromLatin1(text));
        rig.setText("Text4", QString::number(random.bounded(20, 201)));
        rig.click("Command7");
        QTest::qWait(random.bounded(250));
        switch (random.bounded(3)) {
        case 0:
            rig.click("Command8");
            break;
        case 1:
            rig.click("Command2"); // "Sair": the program ends and takes the window with it
            rig.form.reset();
            break;
        default:
            rig.form->close();
            rig.form.reset();
            break;
        }
    }
    rig.settle(300ms, 5000ms);
    const FrameCheck check = checkFrames(rig.carried(), texts);
    QVERIFY2(check.error.isEmpty(),
             qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(check.error)));
    QVERIFY(check.textFrames > 0);
}

void TestDrills::restlessUser()
{
    const quint32 seed = qEnvironmentVariableIsSet("PADCOM_SEED")
                             ? qEnvironmentVariable("PADCOM_SEED").toUInt()
                             : QRandomGenerator::global()->generate();
    const int actions = envCount("PADCOM_ACTIONS", 1500);
    QRandomGenerator random(seed);
    const auto where = [seed](int step, const QString &what) {
        return qPrintable(QStringLiteral("seed %1, step %2: %3").arg(seed).arg(step).arg(what));
    };
    WindowRig rig;
    QVERIFY(rig.isValid());
    rig.show();
    auto *text1 = rig.get<TextBox>("Text1");
    auto *text6 = rig.get<QLineEdit>("Text6");
    auto *text7 = rig.get<QLineEdit>("Text7");
    QSet<QByteArray> texts;
    for (int b = 0; b < 256; ++b)
        texts.insert(QByteArray(1, char(b))); // echoes
    const QStringList rates
        = {QStringLiteral("0"),   QStringLiteral("1"), QStringLiteral("7"),    QStringLiteral("20"),
           QStringLiteral("100"), QStringLiteral("x"), QStringLiteral("70000")};
    QString base6 = text6->text(), base7 = text7->text();
    qint64 sentNack = 0, sentOther = 0;
    qsizetype carriedWhenCovered = -1;

    for (int step = 0; step < actions; ++step) {
        texts.insert(win1252::encode(text1->text()));
        const int action = random.bounded(100);
        if (qEnvironmentVariableIsSet("PADCOM_TRACE"))
            qInfo("step %d action %d covered %d open %d", step, action, rig.covered(),
                  rig.form->comm().PortOpen());
        const bool reachable = !rig.covered(); // the working controls
        if (action >= 10 && action < 80 && !reachable) {
            QTest::qWait(1);
        } else if (action < 10) {
            const QString number = random.bounded(8) ? QStringLiteral("1") : QStringLiteral("9x");
            rig.get<QLineEdit>("Text5")->setText(number);
            answerModal([&] { rig.click("CMDInicializar"); });
        } else if (action < 14) {
            rig.click("Command8");
        } else if (action < 24) {
            rig.click("Command3");
        } else if (action < 30) {
            rig.click(std::array{"Command4", "Command5", "Command6"}[random.bounded(3)]);
        } else if (action < 38) {
            rig.get<QLineEdit>("Text4")->setText(rates[random.bounded(int(rates.size()))]);
            rig.click("Command7");
        } else if (action < 43) {
            rig.get<QCheckBox>("Check1")->click();
        } else if (action < 48) {
            rig.get<QCheckBox>("eco")->click();
        } else if (action < 58) {
            QString typed;
            for (int k = random.bounded(12); k > 0; --k)
                typed += QChar(char16_t(random.bounded(0x20, 0x7F)));
            QTest::keyClicks(text1, typed);
            if (random.bounded(4) == 0)
                QTest::keyClick(text1, Qt::Key_Return);
            if (random.bounded(4) == 0)
                QTest::keyClick(text1, Qt::Key_Backspace);
        } else if (action < 61) {
            QTest::mouseClick(rig.get("Label5"), Qt::LeftButton);
        } else if (action < 64) {
            rig.click("Command1");
        } else if (action < 78) {
            if (rig.form->comm().PortOpen()) {
                QByteArray keys(random.bounded(1, 30), Qt::Uninitialized);
                for (char &c : keys) {
                    c = char(random.bounded(256));
                    sentNack += uchar(c) == 0x15;
                    sentOther += uchar(c) != 0x15 && uchar(c) != 0x06;
                }
                rig.send(keys);
                const QString want6 = monitor::addToCount(base6, sentNack);
                const QString want7 = monitor::addToCount(base7, sentOther);
                QTRY_VERIFY2_WITH_TIMEOUT(text6->text() == want6 && text7->text() == want7,
                                          where(step, text6->text() + u'/' + text7->text()
                                                          + QStringLiteral(" != ") + want6 + u'/'
                                                          + want7),
                                          3000);
            }
        } else if (action < 80) {
            (random.bounded(2) ? text6 : text7)->setText(QString::number(random.bounded(-5, 50)));
            base6 = text6->text();
            base7 = text7->text();
            sentNack = sentOther = 0;
        } else if (action < 82) {
            rig.pull();
            QTest::qWait(20);
            rig.attach();
            if (rig.notice()->isVisible())
                rig.notice()->hide();
        } else {
            QTest::qWait(random.bounded(25));
        }
        QCoreApplication::processEvents();

        QVERIFY2(win1252::length(text1->text()) <= 80, where(step, text1->text()));
        QVERIFY2(rig.covered() == !rig.form->comm().PortOpen(),
                 where(step, QStringLiteral("frame")));
        if (rig.covered()) {
            // Nothing is written while the frame is shown: once what was on the line has
            // arrived, the far end hears no more.
            if (carriedWhenCovered < 0) {
                QTest::qWait(30);
                carriedWhenCovered = rig.received().size();
            }
            QVERIFY2(rig.received().size() == carriedWhenCovered,
                     where(step, QStringLiteral("written while closed")));
        } else {
            carriedWhenCovered = -1;
        }
    }
    rig.click("Command8");
    QTest::qWait(200);
    const FrameCheck check = checkFrames(rig.carried(), texts, true);
    QVERIFY2(check.error.isEmpty(), where(actions, check.error));
}

QTEST_MAIN(TestDrills)
#include "tst_drills.moc"
