// padsim: plays the display keyboard on a pseudo-terminal (or a real serial device), so
// that PADCOM can be tried and tested without the hardware.

#include "announcement.h"
#include "cli/cli.h"
#include "device.h"
#include "serial/linesettings.h"
#include "serial/portmap.h"
#include "serial/systemport.h"
#include "simoptions.h"
#include "simwindow.h"
#include "text/win1252.h"
#ifndef Q_OS_WIN
#include "simulator.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTextStream>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

// Where the keyboard plays: its device, how its keys reach the line, and what to call it.
struct Stage
{
    VirtualKeyboard *keyboard = nullptr;
    std::function<void(const QByteArray &)> sendKeys;
    QString portText;
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

SimOptions parseOrExit(const QCoreApplication &app)
{
    QCommandLineParser cli;
    cli::describe(cli, QStringLiteral("padsim"),
                  QStringLiteral("Teclado virtual: faz o papel do teclado com display numa "
                                 "pseudo-porta serial."));
    addSimOptions(cli);
    cli::parseOrExit(cli, app);
    const ParsedSimOptions parsed = readSimOptions(cli);
    if (!parsed.options) {
        cli::print(QStringLiteral("padsim: %1\n%2").arg(parsed.error, cli::helpText(cli)), true);
        std::exit(2);
    }
    return *parsed.options;
}

// On a real serial port, at the keyboard's line settings.
std::optional<Stage> playOnDevice(const QString &device, QSerialPort &serial,
                                  VirtualKeyboard &keyboard)
{
    serial.setPortName(ports::systemLocation(device));
    LineSettings().applyTo(serial);
    if (!serial.open(QIODevice::ReadWrite)) {
        err() << "padsim: " << device << ": " << serial.errorString() << Qt::endl;
        return std::nullopt;
    }
    QObject::connect(&serial, &QSerialPort::readyRead, &keyboard,
                     [&] { keyboard.receive(serial.readAll()); });
    keyboard.setBytesWaiting(
        [&serial] { return serial.bytesAvailable() > 0 || bytesWaitingIn(serial) > 0; });
    QObject::connect(&keyboard, &VirtualKeyboard::reply, &serial,
                     [&serial](const QByteArray &b) { serial.write(b); });
    return Stage{&keyboard, [&serial](const QByteArray &b) { serial.write(b); },
                 announcement::text(device)};
}

#ifndef Q_OS_WIN
// On a pseudo-terminal of its own, published as a port number.
std::optional<Stage> playOnPty(const SimOptions &o, PtySimulator &sim)
{
    sim.setStaleReplies(o.stale);
    if (!sim.start(o.number, o.paced)) {
        err() << "padsim: " << sim.errorString() << Qt::endl;
        return std::nullopt;
    }
    return Stage{&sim.keyboard(), [&sim](const QByteArray &b) { sim.sendKeys(b); },
                 announcement::text(QString::number(sim.number()))};
}

#endif

QString displayText(const VirtualKeyboard &keyboard)
{
    const LcdDevice &d = keyboard.device();
    const QString edge = u'+' + QString(LcdDevice::kColumns, u'-') + u'+';
    QString out = edge + u'\n';
    for (int row = 0; row < 2; ++row) {
        QString line = win1252::decode(d.line(row));
        for (QChar &c : line)
            c = win1252::controlPicture(c);
        out += u'|' + line + QStringLiteral("|\n");
    }
    const QString faults = keyboard.faults().summary();
    return out + edge
           + QStringLiteral("  aceitos %1  recusados %2%3\n")
                 .arg(d.acceptedCount())
                 .arg(d.refusedCount())
                 .arg(faults.isEmpty() ? QString() : QStringLiteral("  ") + faults);
}

// No window: the display printed at every change, lines of standard input sent as keys.
int runHeadless(const Stage &stage)
{
    QTextStream out(stdout);
#ifndef Q_OS_WIN
    out << QStringLiteral("Ctrl+C termina o teclado virtual; cada linha digitada aqui é enviada "
                          "como teclas.\n");
#endif
    const VirtualKeyboard &keyboard = *stage.keyboard;
    QObject::connect(stage.keyboard, &VirtualKeyboard::changed, stage.keyboard,
                     [&] { out << displayText(keyboard) << Qt::flush; });
    out << displayText(keyboard) << Qt::flush;
#ifndef Q_OS_WIN
    // A console cannot be watched this way on Windows: there the keys come from the window.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, stage.keyboard, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false); // end of input: keep playing the device
            return;
        }
        QByteArray keys = win1252::encode(QString::fromUtf8(buffer, n));
        keys.replace('\n', QByteArray());
        if (!keys.isEmpty())
            stage.sendKeys(keys);
    });
#endif
    return QCoreApplication::exec();
}

int runWindow(const Stage &stage)
{
    SimWindow window(*stage.keyboard, stage.portText);
    QObject::connect(&window, &SimWindow::keys, stage.keyboard, stage.sendKeys);
    window.show();
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    ports::useRuntimeDirectory();
    // Headless runs, and those that only ask for text, need no display server.
    bool headless = cli::asksForTextOnly(argc, argv) || !cli::displayAtHand(argc, argv);
    for (int i = 1; i < argc; ++i)
        headless = headless || qstrcmp(argv[i], "--headless") == 0;
    const std::unique_ptr<QCoreApplication> app(headless ? new QCoreApplication(argc, argv)
                                                         : new QApplication(argc, argv));
    const SimOptions options = parseOrExit(*app);
    if (!options.headless && !qobject_cast<QApplication *>(app.get())) {
        // Not a mistake on the command line but the machine's: as padcom, 1.
        err() << "padsim: não há display para a janela (DISPLAY não definido); use --headless"
              << Qt::endl;
        return 1;
    }

    VirtualKeyboard keyboard;
    QSerialPort serial;
#ifndef Q_OS_WIN
    std::unique_ptr<PtySimulator> sim;
#endif
    std::optional<Stage> stage;
    if (!options.device.isEmpty()) {
        stage = playOnDevice(options.device, serial, keyboard);
    } else {
#ifdef Q_OS_WIN
        err() << "padsim: no Windows o teclado virtual precisa de uma porta real: --device COMn "
                 "(um cabo null-modem ou um par de portas virtuais)"
              << Qt::endl;
#else
        sim = std::make_unique<PtySimulator>();
        stage = playOnPty(options, *sim);
#endif
    }
    if (!stage)
        return 1;
    stage->keyboard->setFaults(options);
    cli::quitOnSignals(app.get());
    QTextStream(stdout) << stage->portText << Qt::endl;
    return options.headless ? runHeadless(*stage) : runWindow(*stage);
}
