// padtest: the window's checks without a person, for production benches and firmware CI.
// Run, wait, read one line, get an exit code: 0 pass, 1 fail, 2 a usage error, 3 the port
// could not be opened or was lost.

#include "cli/cli.h"
#include "keyboardtest.h"
#include "options.h"
#include "reports.h"
#include "serial/portmap.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool onTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

// A report file; says so, once, when it cannot be written.
bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(contents) == contents.size() && file.flush())
        return true;
    cli::print(
        QStringLiteral("padtest: não foi possível gravar %1: %2\n").arg(path, file.errorString()),
        true);
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    ports::useRuntimeDirectory();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    cli::describe(parser, QStringLiteral("padtest"),
                  QStringLiteral("Testa um teclado com display sem ninguém à frente: envia o "
                                 "texto como o loop da janela, confere cada resposta e termina "
                                 "com 0 (aprovado), 1 (reprovado), 2 (uso errado) ou 3 (porta)."));
    addTestOptions(parser);
    cli::parseOrExit(parser, app);
    const ParsedOptions parsed = readTestOptions(parser);
    if (!parsed.options) {
        cli::print(QStringLiteral("padtest: %1\n%2").arg(parsed.error, cli::helpText(parser)),
                   true);
        return 2;
    }
    const TestOptions &options = *parsed.options;

    KeyboardTest test(options);
    const bool terminal = onTerminal();
    QElapsedTimer clock;
    clock.start();
    // On a terminal the progress line is drawn again in place; in a log, a line now and then.
    QTimer progress;
    progress.setInterval(terminal ? 200 : 5000);
    QObject::connect(&progress, &QTimer::timeout, &test, [&] {
        cli::print(terminal ? u'\r' + reports::progressLine(test) + QStringLiteral("\x1b[K")
                            : reports::progressLine(test) + u'\n');
    });
    QObject::connect(&test, &KeyboardTest::finished, &app, [&] {
        progress.stop();
        if (terminal)
            cli::print(QStringLiteral("\r\x1b[K"));
        cli::print(reports::summary(test));
        bool written = true;
        if (!options.json.isEmpty())
            written = writeFile(options.json, reports::json(test)) && written;
        if (!options.junit.isEmpty())
            written = writeFile(options.junit, reports::junit(test, clock.elapsed() / 1000.0))
                      && written;
        const int code = reports::exitCode(test);
        QCoreApplication::exit(code == 0 && !written ? 1 : code);
    });
    // Ctrl+C ends at a frame's end, with the figures so far.
    cli::onSignals(&app, [&test] { test.interrupt(); });
    if (!test.start()) {
        cli::print(reports::summary(test));
        if (!options.json.isEmpty())
            writeFile(options.json, reports::json(test));
        if (!options.junit.isEmpty())
            writeFile(options.junit, reports::junit(test, 0));
        return reports::exitCode(test);
    }
    progress.start();
    return QCoreApplication::exec();
}
