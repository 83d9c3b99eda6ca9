// Send-loop timing, seen where it matters: at the far end of a pseudo-terminal, read on a
// thread of its own that stamps every arrival. One run is one sender at one rate:
//   padcom    the window's loop ("Loop de envio p/ o Display"), the far end silent
//   answered  the same, the far end answering every frame as the keyboard does, so that
//             the window also handles the replies and shows them in its logs
//   floor     a plain sender sleeping to an absolute grid (clock_nanosleep): the best this
//             machine's scheduling allows
//   coarse    the tick's two buttons pressed from the window's thread by a coarse Qt timer
//   python    what a technician would write instead: os.write the two frames, time.sleep
// Prints one JSON line with the arrival time of every tick, for scripts/bench.sh.
//   bench_loop <padcom|answered|floor|coarse|python> <rate ms> <ticks> <text length>

#include "app/frmpadcom.h"
#include "app/widgets/textbox.h"
#include "pty/portpublisher.h"
#include "pty/ptyend.h"
#include "sim/device.h"
#include "testkit/framecheck.h"
#include "testkit/linerecorder.h"
#include "testkit/runtimedir.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <thread>

namespace {

// The naive sender, as it would be written: raw mode, the two frames, sleep the rate.
const char *kPythonSender = R"(
import os, sys, time, tty
path, rate, ticks, length = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
text = (b"0123456789" * 8)[:length]
for _ in range(ticks):
    time.sleep(rate / 1000)
    os.write(fd, b"\xa0\x80")
    os.write(fd, bytes([0xa5, len(text)]) + text)
time.sleep(0.2)
)";

// Arrival times (ms) of the reads that start a tick: the line is idle when a tick comes
// due, so the cursor command leads a read of its own.
QList<double> tickArrivals(const LineRecorder &far)
{
    QList<double> at;
    for (const Arrival &a : far.arrivals()) {
        if (a.bytes.startsWith("\xA0\x80"))
            at << std::chrono::duration<double, std::milli>(a.at).count();
    }
    return at;
}

// The floor: the same bytes written at the same rate by a thread that sleeps to an
// absolute grid, so that its error is only the machine's own wake-up latency.
void floorSender(const QString &path, int rate, int ticks, int length)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return;
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    const QByteArray text = QByteArray("0123456789").repeated(8).left(length);
    const QByteArray tick = QByteArray("\xA0\x80") + char(0xA5) + char(text.size()) + text;
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 0; i < ticks; ++i) {
        next.tv_nsec += long(rate) * 1000000L;
        next.tv_sec += next.tv_nsec / 1000000000L;
        next.tv_nsec %= 1000000000L;
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        // The cursor command leads a read of its own, as the window's two frames do.
        [[maybe_unused]] const ssize_t a = ::write(fd, tick.constData(), 2);
        [[maybe_unused]] const ssize_t b
            = ::write(fd, tick.constData() + 2, size_t(tick.size() - 2));
    }
    ::usleep(200000);
    ::close(fd);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RuntimeDir runtime;
    const QStringList args = QApplication::arguments();
    if (args.size() < 5) {
        QTextStream(stderr)
            << "usage: bench_loop <padcom|answered|floor|coarse|python> <rate> <ticks> <length>\n";
        return 2;
    }
    const QString sender = args[1];
    const int rate = args[2].toInt();
    const int ticks = args[3].toInt();
    const int length = args[4].toInt();

    PtyEnd peer;
    peer.stopReading();
    PortPublisher port;
    port.publish(peer.slavePath(), 1);
    LcdDevice keyboard;
    LineRecorder::Replies replies;
    if (sender == u"answered")
        replies = [&keyboard](QByteArrayView bytes, std::chrono::nanoseconds at) {
            return keyboard.feed(bytes, at);
        };
    LineRecorder far(peer.masterFd(), 0, replies);

    frmPADCOM form;
    QTimer coarseTimer;
    QProcess python;
    std::thread floor;
    if (sender == u"floor") {
        floor = std::thread(floorSender, peer.slavePath(), rate, ticks + 1, length);
    } else if (sender == u"python") {
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"), QString::fromLatin1(kPythonSender), peer.slavePath(),
                      QString::number(rate), QString::number(ticks + 1), QString::number(length)});
        if (!python.waitForStarted())
            return 1;
    } else {
        form.findChild<QLineEdit *>(QStringLiteral("Text4"))->setText(QString::number(rate));
        form.findChild<TextBox *>(QStringLiteral("Text1"))
            ->setText(QStringLiteral("0123456789").repeated(8).left(length));
        form.CMDInicializar_Click();
        if (sender == u"coarse") {
            coarseTimer.setTimerType(Qt::CoarseTimer);
            QObject::connect(&coarseTimer, &QTimer::timeout, &form, [&form] {
                form.Command5_Click();
                form.Command3_Click();
            });
            coarseTimer.start(rate);
        } else {
            form.Command7_Click();
        }
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (tickArrivals(far).size() > ticks)
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    coarseTimer.stop();
    python.waitForFinished(3000);
    if (floor.joinable())
        floor.join();

    QStringList at;
    for (const double t : tickArrivals(far).mid(0, ticks + 1))
        at << QString::number(t, 'f', 4);
    QTextStream(stdout)
        << QStringLiteral("{\"sender\": \"%1\", \"rate\": %2, \"length\": %3, \"answered\": %4, "
                          "\"ticks\": [%5]}\n")
               .arg(sender)
               .arg(rate)
               .arg(length)
               .arg(keyboard.acceptedCount())
               .arg(at.join(QStringLiteral(", ")));
    return 0;
}
