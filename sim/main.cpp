// padsim: plays the display keyboard on a pseudo-terminal (or a real serial device), so
// that PADCOM can be tried and tested without the hardware.

#include "device.h"
#include "serial/portmap.h"
#include "serial/win1252.h"
#include "simwindow.h"
#ifndef Q_OS_WIN
#include "ptyhost.h"
#include "serial/portpublisher.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <memory>
#ifndef Q_OS_WIN
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifndef Q_OS_WIN
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// Ctrl+C, SIGTERM and a closed terminal end the event loop, so the link is removed.
void quitOnSignals(QObject *context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [] { QCoreApplication::quit(); });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    // A reader of the printed display that goes away must not end us before the link goes.
    ::signal(SIGPIPE, SIG_IGN);
}
#endif

QString displayText(const LcdDevice &d)
{
    const QString edge = u'+' + QString(LcdDevice::kColumns, u'-') + u'+';
    QString out = edge + u'\n';
    for (int row = 0; row < 2; ++row) {
        QString line = win1252::decode(d.line(row));
        for (QChar &c : line)
            c = win1252::controlPicture(c);
        out += u'|' + line + QStringLiteral("|\n");
    }
    return out + edge
           + QStringLiteral("  aceitos %1  recusados %2\n")
                 .arg(d.acceptedCount())
                 .arg(d.refusedCount());
}

} // namespace

int main(int argc, char *argv[])
{
    // Headless runs need no display server.
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--headless") == 0)
            headless = true;
    }
    std::unique_ptr<QCoreApplication> app(headless ? new QCoreApplication(argc, argv)
                                                   : new QApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("padsim"));

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "Teclado virtual: faz o papel do teclado com display numa pseudo-porta serial."));
    cli.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Publica como porta N (padrão: a primeira livre)."),
        QStringLiteral("N"));
    const QCommandLineOption deviceOption(
        QStringLiteral("device"),
        QStringLiteral("Usa esta porta serial real (cabo null-modem) em vez de uma pseudo-porta."),
        QStringLiteral("path"));
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral(
            "Sem janela: imprime o display a cada mudança; linhas da entrada viram teclas."));
    const QCommandLineOption fastOption(
        QStringLiteral("no-pacing"),
        QStringLiteral("Lê sem o limite de 960 bytes/s de uma linha a 9600 baud."));
    cli.addOptions({portOption, deviceOption, headlessOption, fastOption});
    cli.process(*app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    VirtualKeyboard keyboard;
    QSerialPort serial;
    QString portText;
#ifndef Q_OS_WIN
    PtyHost pty;
    PortPublisher publisher;
#endif

    std::function<void(const QByteArray &)> send;
    if (cli.isSet(deviceOption)) {
        serial.setPortName(ports::systemLocation(cli.value(deviceOption)));
        serial.setBaudRate(9600);
        serial.setDataBits(QSerialPort::Data8);
        serial.setParity(QSerialPort::NoParity);
        serial.setStopBits(QSerialPort::OneStop);
        if (!serial.open(QIODevice::ReadWrite)) {
            err << "padsim: " << cli.value(deviceOption) << ": " << serial.errorString()
                << Qt::endl;
            return 1;
        }
        QObject::connect(&serial, &QSerialPort::readyRead, &keyboard,
                         [&] { keyboard.receive(serial.readAll()); });
        send = [&serial](const QByteArray &b) {
            serial.write(b);
        };
        portText = QStringLiteral("Teclado virtual na porta %1").arg(cli.value(deviceOption));
    } else {
#ifdef Q_OS_WIN
        err << "padsim: no Windows o teclado virtual precisa de uma porta real: --device COMn "
               "(um cabo null-modem ou um par de portas virtuais)"
            << Qt::endl;
        return 1;
#else
        int number = 0;
        if (cli.isSet(portOption)) {
            bool ok = false;
            number = cli.value(portOption).toInt(&ok);
            if (!ok || number < 1) {
                err << "padsim: número de porta inválido: " << cli.value(portOption) << Qt::endl;
                return 1;
            }
        }
        if (!pty.open()) {
            err << "padsim: não foi possível criar a pseudo-porta: " << pty.errorString()
                << Qt::endl;
            return 1;
        }
        pty.setReadRate(cli.isSet(fastOption) ? 0.0 : PtyHost::kLineBytesPerSecond);
        if (!publisher.publish(pty.slavePath(), number)) {
            err << "padsim: " << publisher.errorString() << Qt::endl;
            return 1;
        }
        QObject::connect(&pty, &PtyHost::received, &keyboard,
                         [&keyboard](const QByteArray &b) { keyboard.receive(b); });
        send = [&pty](const QByteArray &b) {
            pty.send(b);
        };
        portText = QStringLiteral("Teclado virtual na porta %1").arg(publisher.number());
#endif
    }
    QObject::connect(&keyboard, &VirtualKeyboard::reply, &keyboard,
                     [&send](const QByteArray &b) { send(b); });
#ifndef Q_OS_WIN
    quitOnSignals(app.get());
#endif

    out << portText << Qt::endl;

    std::unique_ptr<SimWindow> window;
    std::unique_ptr<QSocketNotifier> input;
    if (headless) {
        QObject::connect(&keyboard, &VirtualKeyboard::changed, &keyboard,
                         [&] { out << displayText(keyboard.device()) << Qt::flush; });
        out << displayText(keyboard.device()) << Qt::flush;
#ifndef Q_OS_WIN
        // Keys from standard input (a console cannot be watched this way on Windows).
        input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(input.get(), &QSocketNotifier::activated, &keyboard, [&] {
            char buffer[256];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                input->setEnabled(false); // end of input: keep playing the device
                return;
            }
            QByteArray keys = win1252::encode(QString::fromUtf8(buffer, n));
            keys.replace('\n', QByteArray());
            if (!keys.isEmpty())
                send(keys);
        });
#endif
    } else {
        window = std::make_unique<SimWindow>(keyboard, portText);
        QObject::connect(window.get(), &SimWindow::keys, &keyboard,
                         [&send](const QByteArray &b) { send(b); });
        window->show();
    }
    return QCoreApplication::exec();
}
