// Receive-monitor cost and responsiveness.
//  1. Time to handle one 1024-byte block in the window: the handler as built (each box
//     assigned once per block) against the same boxes assigned once per byte, in one run.
//  2. A flood from the far end of a pseudo-terminal for some seconds: the longest stall of
//     the event loop, memory before and after, and whether every byte arrived in order.
//   bench_monitor [flood seconds, default 10]

#include "app/frmpadcom.h"
#include "app/widgets/countbox.h"
#include "app/widgets/logview.h"
#include "monitor/receive.h"
#include "protocol/protocol.h"
#include "pty/portpublisher.h"
#include "pty/ptyend.h"
#include "serial/mscomm.h"
#include "stats.h"
#include "testkit/runtimedir.h"
#include "text/win1252.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

QByteArray block(int seed)
{
    QByteArray b(MSComm::kInBufferSize, Qt::Uninitialized);
    for (int i = 0; i < b.size(); ++i)
        b[i] = char((i * 31 + seed) & 0xFF);
    return b;
}

// The boxes assigned once per byte, as the classic handler did; for comparison only.
void perByte(LogView &ascii, LogView &hex, QLineEdit &nack, QLineEdit &erro, const QByteArray &rx)
{
    if (monitor::logsMustEmpty(hex.text().size())) {
        hex.setText(QString());
        ascii.setText(QString());
    }
    ascii.setText(ascii.text() + u' ' + win1252::decode(rx));
    for (const char c : rx) {
        const auto byte = uchar(c);
        if (byte == protocol::kNack)
            nack.setText(monitor::addToCount(nack.text(), 1));
        else if (byte != protocol::kAck)
            erro.setText(monitor::addToCount(erro.text(), 1));
        hex.setText(hex.text() + u' ' + monitor::hexCode(byte));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RuntimeDir runtime;
    const int floodSeconds = countArgument(argc, argv, 10);
    QTextStream out(stdout);

    PtyEnd peer;
    PortPublisher port;
    port.publish(peer.slavePath(), 1);
    frmPADCOM form;
    form.show();
    form.CMDInicializar_Click();
    auto *comm = form.findChild<MSComm *>(QStringLiteral("MSComm1"));
    auto *session = const_cast<Session *>(&form.session());
    auto *ascii = form.findChild<LogView *>(QStringLiteral("Text2"));
    auto *hex = form.findChild<LogView *>(QStringLiteral("Text3"));
    auto *nack = form.findChild<CountBox *>(QStringLiteral("Text6"));
    auto *erro = form.findChild<CountBox *>(QStringLiteral("Text7"));
    if (!comm || !comm->PortOpen()) {
        out << "could not open the pseudo-terminal\n";
        return 1;
    }

    // Time the window's own handler: take over the event, call the handler, note the time.
    QObject::disconnect(session, &Session::OnComm, &form, &frmPADCOM::MSComm1_OnComm);
    QList<double> handlerMicros;
    bool timing = true; // the flood below keeps no per-block record: memory must stay flat
    qsizetype handled = 0;
    QObject::connect(session, &Session::OnComm, &form, [&](const Session::Event &e) {
        QElapsedTimer t;
        t.start();
        form.MSComm1_OnComm(e);
        if (timing && e.bytes.size() == MSComm::kInBufferSize)
            handlerMicros << t.nsecsElapsed() / 1000.0;
        handled += e.bytes.size();
    });

    // 1. One 1024-byte block at a time.
    constexpr int kBlocks = 200;
    for (int i = 0; i < kBlocks; ++i) {
        peer.send(block(i));
        QThread::usleep(300); // let the whole block reach the terminal
        QElapsedTimer wait;
        wait.start();
        while (handled < qsizetype(i + 1) * MSComm::kInBufferSize && wait.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const Stats batched = Stats::of(handlerMicros);

    QList<double> naiveMicros;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        perByte(*ascii, *hex, *nack, *erro, block(i));
        naiveMicros << t.nsecsElapsed() / 1000.0;
    }
    const Stats naive = Stats::of(naiveMicros);
    out << "1024-byte block, handled in the window (microseconds)\n";
    out << QStringLiteral("  once per block: median %1  p99 %2   (%3 blocks)\n")
               .arg(batched.p50, 0, 'f', 1)
               .arg(batched.p99, 0, 'f', 1)
               .arg(handlerMicros.size());
    out << QStringLiteral("  once per byte:  median %1  p99 %2\n")
               .arg(naive.p50, 0, 'f', 1)
               .arg(naive.p99, 0, 'f', 1);
    out << QStringLiteral("  ratio: once per byte costs %1x once per block\n")
               .arg(naive.p50 / std::max(batched.p50, 1e-3), 0, 'f', 1);

    // 2. Flood: the far end writes as fast as the terminal takes it.
    timing = false;
    form.Command1_Click();
    erro->setText(QStringLiteral("0"));
    nack->setText(QStringLiteral("0"));
    handled = 0;
    QByteArray pattern;
    for (int i = 0; i < 4096; ++i)
        pattern.append(char(0x20 + i % 0x5F)); // printable: no ack or refusal among them
    const double memoryBefore = residentMiB();
    qint64 sent = 0;
    double longestStall = 0;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer heartbeat; // a click's worth of work every 5 ms: how late does it run?
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, sinceTick.nsecsElapsed() / 1e6 - 5.0);
        sinceTick.restart();
    });
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.start(5);
    // The far end is another party: it floods from a thread of its own, so that the kernel's
    // pseudo-terminal locking never counts against the window's event loop.
    std::atomic<qint64> sentBytes{0};
    std::thread feeder([&] {
        pollfd pfd{peer.masterFd(), POLLOUT, 0};
        qsizetype offset = 0;
        while (clock.elapsed() < qint64(floodSeconds) * 1000) {
            if (::poll(&pfd, 1, 50) <= 0)
                continue;
            const ssize_t n
                = ::write(pfd.fd, pattern.constData() + offset, size_t(pattern.size() - offset));
            if (n > 0) {
                sentBytes += n;
                offset = (offset + n) % pattern.size();
            }
        }
    });
    while (clock.elapsed() < qint64(floodSeconds) * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    feeder.join();
    // The wait for the far end's last write (its poll gives up every 50 ms) is the benchmark's,
    // not the window's: the heartbeat counts from here on.
    sinceTick.restart();
    sent = sentBytes;
    QElapsedTimer drain;
    drain.start();
    while (handled < sent && drain.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    heartbeat.stop();
    const double memoryAfter = residentMiB();
    const bool countsMatch = erro->count() == QString::number(sent);
    // Order: the ASCII log ends with the stream's last bytes, as sent. The feeder's last
    // write may have been partial, so the stream ends anywhere in the pattern.
    const QByteArray shown = win1252::encode(ascii->text().right(64));
    QByteArray tail;
    for (qint64 at = sent - shown.size(); at < sent; ++at)
        tail.append(pattern.at(at % pattern.size()));
    const bool ordered = !shown.isEmpty() && shown == tail;

    out << QStringLiteral("Flood for %1 s from the far end of a pseudo-terminal\n")
               .arg(floodSeconds);
    out << QStringLiteral("  bytes: %1 sent, %2 handled (%3 MB/s); \"Erro\" counts %4: %5\n")
               .arg(sent)
               .arg(handled)
               .arg(handled / 1e6 / (clock.elapsed() / 1000.0), 0, 'f', 2)
               .arg(erro->count())
               .arg(countsMatch && ordered ? QStringLiteral("none lost, in order")
                                           : QStringLiteral("MISMATCH"));
    out << QStringLiteral("  longest event-loop stall: %1 ms\n").arg(longestStall, 0, 'f', 1);
    out << QStringLiteral("  resident memory: %1 MiB before, %2 MiB after (%3 MiB)\n")
               .arg(memoryBefore, 0, 'f', 1)
               .arg(memoryAfter, 0, 'f', 1)
               .arg(memoryAfter - memoryBefore, 0, 'f', 1);
    return countsMatch && ordered ? 0 : 1;
}
