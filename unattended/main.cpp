// padtest: the window's checks without a person, for production benches and firmware CI.
// Run, wait, read one line, get an exit code: 0 pass, 1 fail, 2 a usage error, 3 the port
// could not be opened or was lost.

#include "cli/cli.h"
#include "keyboardtest.h"
#include "options.h"
#include "reports.h"
#include "serial/portmap.h"
#include "text/reasons.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
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

// Creates a report's file now, so that a run that could not tell its result does not test a
// keyboard first; empty until the end.
QString prepare(const QString &path)
{
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    return QStringLiteral("não foi possível gravar %1: %2")
        .arg(path, reasons::translated(file.errorString()));
}

// A report, whole or not at all; why not, when it could not be written.
QString writeReport(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit())
        return {};
    return QStringLiteral("não foi possível gravar %1: %2")
        .arg(path, reasons::translated(file.errorString()));
}

// Writes the JSON and JUnit reports. One that fails is a failure of the run, which the other,
// written again, tells too: the reports never disagree with each other or the exit code.
void writeReports(KeyboardTest &test, const TestOptions &options, double seconds)
{
    const auto render = [&](bool json) {
        return json ? reports::json(test) : reports::junit(test, seconds);
    };
    QList<bool> written;
    bool failed = false;
    for (const bool json : {true, false}) {
        const QString path = json ? options.json : options.junit;
        if (path.isEmpty()) {
            written << false;
            continue;
        }
        const QString error = writeReport(path, render(json));
        if (!error.isEmpty()) {
            test.reportFailed(error);
            failed = true;
        }
        written << error.isEmpty();
    }
    if (!failed)
        return;
    for (const bool json : {true, false}) {
        if (written[json ? 0 : 1])
            writeReport(json ? options.json : options.junit, render(json));
    }
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
    for (const QString &path : {options.json, options.junit}) {
        if (const QString error = prepare(path); !error.isEmpty())
            test.reportFailed(error);
    }
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
        writeReports(test, options, double(clock.elapsed()) / 1000.0);
        cli::print(reports::summary(test));
        QCoreApplication::exit(reports::exitCode(test));
    });
    // Ctrl+C ends at a frame's end, with the figures so far; a second one, at once.
    cli::onSignals(&app, [&test] { test.interrupt(); });
    test.start();
    progress.start();
    return QCoreApplication::exec();
}
