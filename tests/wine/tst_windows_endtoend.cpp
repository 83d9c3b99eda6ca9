// The real padcom.exe under Wine, against the virtual keyboard through the Wine serial bridge
// (modemlines.c, commwait.c): what a technician does on Windows, step by step, judged byte
// for byte at the keyboard and read from the window as a user reads it (its clipboard).
// Run by scripts/windows.sh on an X display, with PADCOM_EXE, PADCOM_WINE_BRIDGE (the built
// bridge) and WINEPREFIX (a prefix prepared for it) set.
#include "app/frmpadcom.h"
#include "protocol/sendloop.h"
#include "sim/simulator.h"
#include "testkit/arrival.h"
#include "testkit/framecheck.h"
#include "testkit/ptypeer.h"
#include "testkit/runtimedir.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <termios.h>

using namespace std::chrono_literals;

namespace {

const QByteArray kText(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN ");
const QByteArray kTick = QByteArray("\xA0\x80\xA5") + char(kText.size()) + kText;

QString run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The first window `xdotool search` finds with these criteria (all of them); empty if none.
QString window(const QStringList &criteria)
{
    return run(QStringLiteral("xdotool"),
               QStringList{QStringLiteral("search"), QStringLiteral("--all")} + criteria)
        .section(u'\n', 0, 0)
        .trimmed();
}

// How the ticks kept to the grid: each tick's first byte against the ideal grid through the
// median of them all. A tick the program skipped leaves its grid point empty.
struct Phase
{
    double period = 0; // ms, over the whole run
    double p99 = 0;    // ms
    qint64 skipped = 0;
};

Phase phaseOf(const QList<std::chrono::nanoseconds> &starts, std::chrono::milliseconds interval)
{
    Phase phase;
    if (starts.size() < 2)
        return phase;
    const auto ms = [](std::chrono::nanoseconds t) {
        return std::chrono::duration<double, std::milli>(t).count();
    };
    QList<double> offsets;
    qint64 k = 0;
    for (const auto t : starts) {
        k = std::llround(ms(t - starts[0]) / double(interval.count()));
        offsets << ms(t - starts[0] - k * interval);
    }
    phase.period = ms(starts.last() - starts.first()) / double(k);
    phase.skipped = k + 1 - starts.size();
    QList<double> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    QList<double> errors;
    for (const double o : offsets)
        errors << std::abs(o - median);
    std::sort(errors.begin(), errors.end());
    phase.p99 = errors[qsizetype(std::ceil(0.99 * double(errors.size()))) - 1];
    return phase;
}

} // namespace

class TestWindowsEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void steps_data();
    void steps();

private:
    void startKeyboard();
    void click(const char *name);
    void type(const char *name, const QString &text);
    QString read(const char *name);
    QString notice();
    QByteArray since(qsizetype from) const { return joined(m_arrivals.mid(from)); }
    Phase loop(const QList<Arrival> &arrivals, qsizetype from);

    RuntimeDir m_runtime;
    QString m_prefix;
    std::unique_ptr<frmPADCOM> m_layout; // where each control lies, from the window itself
    std::unique_ptr<PtySimulator> m_sim;
    QList<Arrival> m_arrivals;
    QProcess m_wine;
    QString m_window;
};

void TestWindowsEndToEnd::initTestCase()
{
    const QString exe = qEnvironmentVariable("PADCOM_EXE");
    const QString bridge = qEnvironmentVariable("PADCOM_WINE_BRIDGE");
    m_prefix = qEnvironmentVariable("WINEPREFIX");
    if (exe.isEmpty() || bridge.isEmpty() || m_prefix.isEmpty())
        QSKIP("PADCOM_EXE, PADCOM_WINE_BRIDGE and WINEPREFIX name the program, the bridge and "
              "the prefix (scripts/windows.sh sets them)");
    QVERIFY(m_runtime.isValid());
    m_layout = std::make_unique<frmPADCOM>();
    startKeyboard();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), bridge + QStringLiteral("/modemlines.so"));
    env.insert(QStringLiteral("PADCOM_MODEM_LOG"), m_runtime.path() + QStringLiteral("/modem"));
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    m_wine.setProcessEnvironment(env);
    m_wine.start(QStringLiteral("wine"), {bridge + QStringLiteral("/inject.exe"),
                                          bridge + QStringLiteral("/commwait.dll"), exe});
    QVERIFY(m_wine.waitForStarted());
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += m_wine.readAllStandardOutput()).contains("injected"),
                              said + m_wine.readAllStandardError(), 90000);
    QTRY_VERIFY_WITH_TIMEOUT(
        !(m_window = window({QStringLiteral("--name"), QStringLiteral("^Teclado Vorlan$")}))
             .isEmpty(),
        30000);
}

void TestWindowsEndToEnd::cleanupTestCase()
{
    if (m_wine.state() != QProcess::NotRunning) {
        m_wine.kill();
        m_wine.waitForFinished();
    }
    QProcess::execute(QStringLiteral("wineserver"), {QStringLiteral("-k")});
}

// The virtual keyboard on a pseudo-terminal that Wine knows as COM5, recording what comes.
void TestWindowsEndToEnd::startKeyboard()
{
    m_sim = std::make_unique<PtySimulator>();
    QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
    recordArrivals(m_sim->line(), m_arrivals);
    // The prefix maps COM5 to this link (scripts/windows.sh), so that Wine's mount manager,
    // which makes the prefix's ports anew at every start, keeps it.
    const QString com5 = m_prefix + QStringLiteral("/padcom-com5");
    QFile::remove(com5);
    QVERIFY(QFile::link(m_sim->devicePath(), com5));
}

void TestWindowsEndToEnd::click(const char *name)
{
    const auto *w = m_layout->findChild<QWidget *>(QLatin1String(name));
    QVERIFY2(w, name);
    // A check box takes a click on its box and caption only: aim at the box.
    const QPoint inside
        = qobject_cast<const QCheckBox *>(w) ? QPoint(7, w->height() / 2) : w->rect().center();
    const QPoint at = w->mapTo(m_layout.get(), inside);
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QStringLiteral("--window"), m_window,
                       QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
                       QStringLiteral("1")});
    QTest::qWait(300);
}

void TestWindowsEndToEnd::type(const char *name, const QString &text)
{
    click(name);
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+a")});
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("type"), text});
    QTest::qWait(200);
}

// What the user gets by selecting a box's text and copying it.
QString TestWindowsEndToEnd::read(const char *name)
{
    click(name);
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")});
    QTest::qWait(300);
    return run(QStringLiteral("xclip"),
               {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")});
}

// The text of the notice the window shows beside itself, copied as a user copies a message
// box's (Ctrl+C), and the box closed with Escape, which nothing in the window itself answers;
// empty while there is none.
QString TestWindowsEndToEnd::notice()
{
    // Only a box already on the screen, and a click only where the pointer is over it: a box
    // Wine has made but not yet placed or shown is found by name as well, and a click aimed
    // at it lands on the window behind, which the loss has just turned back to "Inicia a
    // Porta Serial".
    const QString box = window(
        {QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^PADCOM$")});
    if (box.isEmpty())
        return {};
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QStringLiteral("--window"), box,
                       QStringLiteral("20"), QStringLiteral("20")});
    const QString under = run(QStringLiteral("xdotool"),
                              {QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
    if (!under.contains(QStringLiteral("WINDOW=") + box + u'\n'))
        return {};
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1"),
                                                  QStringLiteral("key"), QStringLiteral("ctrl+c")});
    QTest::qWait(300);
    const QString text
        = run(QStringLiteral("xclip"),
              {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")});
    // A box copies its title, text and buttons between four rules; Wine may hand over the
    // clipboard before all of it arrived. Only a whole copy counts, and only then is the box
    // closed.
    if (text.count(QStringLiteral("---------------------------")) < 4)
        return {};
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    QTest::qWait(300);
    return text;
}

// Runs the loop at 100 ms for five and a half seconds; how its ticks reached the keyboard.
Phase TestWindowsEndToEnd::loop(const QList<Arrival> &arrivals, qsizetype from)
{
    click("Command7");
    QTest::qWait(5500);
    const auto stop = monotonicNow(); // the ticks around the stop are the click's, not the loop's
    click("Command7");
    QTest::qWait(300);
    // When each tick's first byte came: ticks are whole and back to back in the stream.
    QList<std::chrono::nanoseconds> starts;
    qsizetype at = 0;
    for (qsizetype i = from; i < arrivals.size(); ++i) {
        for (qsizetype b = 0; b < arrivals[i].bytes.size(); ++b, ++at) {
            if (at % kTick.size() == 0 && arrivals[i].at < stop)
                starts << arrivals[i].at;
        }
    }
    if (starts.size() < 45)
        qWarning("only %lld ticks", qint64(starts.size()));
    return phaseOf(starts, 100ms);
}

void TestWindowsEndToEnd::steps_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QByteArray>("bytes"); // at the keyboard, exactly; a loop's: whole ticks
    QTest::addColumn<QString>("box");      // a box the user then reads
    QTest::addColumn<QString>("shows");

    const auto row = [](const char *step, const QByteArray &bytes, const QString &box = {},
                        const QString &shows = {}) {
        QTest::newRow(step) << QString::fromLatin1(step) << bytes << box << shows;
    };
    row("open COM5", {});
    row("write", QByteArray("\xA5\x27") + kText, QStringLiteral("Text3"), QStringLiteral(" 6"));
    row("wrong length", QByteArray("\xA5\x28") + kText, QStringLiteral("Text6"),
        QStringLiteral("1"));
    row("clear", "\xA0\x01");
    row("line 1", "\xA0\x80");
    row("line 2", "\xA0\xC0");
    row("echo of keys", "\xA5\x01O\xA5\x01k", QStringLiteral("Text7"), QStringLiteral("2"));
    row("loop 100 ms", kTick);
    row("restart in a loop", kTick, QStringLiteral("Text5"), QStringLiteral("5"));
    row("reopen", "\xA0\x80");
    row("keyboard lost in a loop", kTick, QStringLiteral("Text5"), QStringLiteral("5"));
    row("reopen after the loss", "\xA0\x80");
}

void TestWindowsEndToEnd::steps()
{
    QFETCH(QString, step);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, box);
    QFETCH(QString, shows);
    const qsizetype from = m_arrivals.size();
    bool ticks = false;

    if (step == u"open COM5") {
        type("Text5", QStringLiteral("5"));
        click("CMDInicializar");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_runtime.path() + QStringLiteral("/modem")), 5000);
        QFile modem(m_runtime.path() + QStringLiteral("/modem"));
        QVERIFY(modem.open(QIODevice::ReadOnly));
        const QList<QByteArray> changes = modem.readAll().trimmed().split('\n');
        QCOMPARE(changes.last(), QByteArray("DTR=0 RTS=0"));
        const termios line = m_sim->line().slaveTermios();
        QCOMPARE(cfgetospeed(&line), speed_t(B9600));
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
        qInfo("the line at the keyboard: 9600 8N1; DTR and RTS as the program last set them: %s",
              changes.last().constData());
    } else if (step == u"write") {
        click("Command3");
    } else if (step == u"wrong length") {
        click("Check1");
        click("Command3");
        click("Check1");
    } else if (step == u"clear") {
        click("Command4");
    } else if (step == u"line 1") {
        click("Command5");
    } else if (step == u"line 2") {
        click("Command6");
    } else if (step == u"echo of keys") {
        click("eco");
        m_sim->sendKeys("Ok");
    } else if (step == u"loop 100 ms") {
        ticks = true;
        const Phase wine = loop(m_arrivals, from);
        QCOMPARE(m_sim->device().refusedCount(), 1); // the wrong length's, no other

        // The Linux build beside it, the same way, in the same run: what Wine costs the loop.
        PtySimulator keyboard;
        QVERIFY(keyboard.start());
        QList<Arrival> arrivals;
        recordArrivals(keyboard.line(), arrivals);
        QProcess linuxBuild;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        linuxBuild.setProcessEnvironment(env);
        linuxBuild.start(QStringLiteral(PADCOM_PATH), {});
        QVERIFY(linuxBuild.waitForStarted());
        const QString wineWindow = m_window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(m_window = window({QStringLiteral("--pid"), QString::number(linuxBuild.processId()),
                                 QStringLiteral("--name"), QStringLiteral("^Teclado Vorlan$")}))
                 .isEmpty(),
            10000);
        type("Text5", QString::number(keyboard.number()));
        click("CMDInicializar");
        const Phase linux = loop(arrivals, 0);
        linuxBuild.terminate();
        linuxBuild.waitForFinished();
        m_window = wineWindow;
        QCOMPARE(keyboard.device().refusedCount(), 0);
        qInfo("loop at 100 ms, phase p99: %.2f ms under Wine, %.2f ms on Linux (period %.3f / "
              "%.3f ms, ticks skipped %lld / %lld)",
              wine.p99, linux.p99, wine.period, linux.period, wine.skipped, linux.skipped);
    } else if (step == u"restart in a loop") {
        ticks = true;
        click("Command7");
        QTest::qWait(1250);
        click("Command8");
        QTest::qWait(400);
        QVERIFY(m_arrivals.size() > from);
    } else if (step == u"reopen" || step == u"reopen after the loss") {
        if (step == u"reopen after the loss")
            startKeyboard();
        click("CMDInicializar");
        click("Command5");
    } else if (step == u"keyboard lost in a loop") {
        ticks = true;
        click("Command7");
        QTest::qWait(1000);
        m_sim.reset();
        QString notice;
        QTRY_VERIFY_WITH_TIMEOUT(!(notice = this->notice()).isEmpty(), 10000);
        QVERIFY2(notice.contains(QStringLiteral("A porta serial 5 (")), qPrintable(notice));
        QVERIFY2(notice.contains(QStringLiteral("\"Inicia a Porta Serial\"")), qPrintable(notice));
        qInfo("the notice: %s", qPrintable(notice.simplified()));
    }

    QTest::qWait(500);
    const QByteArray got = since(from);
    qInfo("%lld bytes at the keyboard: %s%s", qint64(got.size()),
          got.left(12).toHex(' ').constData(), got.size() > 12 ? " ..." : "");
    if (ticks) {
        const FrameCheck check = checkFrames(m_arrivals.mid(from), {kText});
        QVERIFY2(check.error.isEmpty(), qPrintable(check.error));
        QVERIFY(check.textFrames > 0);
        QCOMPARE(got, bytes.repeated(got.size() / bytes.size()));
    } else {
        QCOMPARE(got, bytes);
    }
    // The window as the README shows it: open, with replies in its logs and counters.
    if (step == u"echo of keys" && qEnvironmentVariableIsSet("PADCOM_WINE_SCREENSHOT"))
        QProcess::execute(
            QStringLiteral("import"),
            {QStringLiteral("-window"), m_window, qEnvironmentVariable("PADCOM_WINE_SCREENSHOT")});
    if (!box.isEmpty())
        QCOMPARE(read(qPrintable(box)), shows);
}

QTEST_MAIN(TestWindowsEndToEnd)
#include "tst_windows_endtoend.moc"
