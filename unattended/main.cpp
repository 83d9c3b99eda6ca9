// padtest: the window's checks without a person, for production benches and firmware CI.
// Run, wait, read one line, get an exit code: 0 pass, 1 fail, 2 a usage error, 3 a port that
// could not be opened or was lost. Several ports are tested at once, and with --each one
// keyboard after another on each of them, until Ctrl+C.

#include "cli/cli.h"
#include "options.h"
#include "portstation.h"
#include "reports.h"
#include "serial/portmap.h"
#include "text/reasons.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("padtest", text);
}

bool onTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

// Creates a report's file now, so that a run that could not tell its result does not test a
// keyboard first; it is written whole at the end, and after each keyboard of a station.
QString prepare(const QString &path)
{
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    return tr("não foi possível gravar %1: %2").arg(path, reasons::translated(file.errorString()));
}

// A report, whole or not at all; why not, when it could not be written.
QString writeReport(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit())
        return {};
    return tr("não foi possível gravar %1: %2").arg(path, reasons::translated(file.errorString()));
}

// Lines that tell what each port is doing: on a terminal they are drawn again in place under
// what has been said; in a log they come now and then.
class Board
{
public:
    explicit Board(bool terminal)
        : m_terminal(terminal)
    {
    }
    void show(const QStringList &lines)
    {
        if (!m_terminal) {
            for (const QString &line : lines)
                cli::print(line + u'\n');
            return;
        }
        QString out = erase();
        for (const QString &line : lines)
            out += line + QStringLiteral("\x1b[K\n");
        m_lines = lines.size();
        cli::print(out);
    }
    // Said once, above the lines.
    void say(const QString &text)
    {
        cli::print(erase() + text);
        m_lines = 0;
    }
    void clear() { say(QString()); }

private:
    QString erase() const
    {
        return m_terminal && m_lines > 0 ? QStringLiteral("\x1b[%1A\r\x1b[J").arg(m_lines)
                                         : QString();
    }
    bool m_terminal;
    qsizetype m_lines = 0;
};

QString portLine(const PortStation &s, bool named, bool each)
{
    const QString name = named ? tr("porta %1: ").arg(s.port()) : QString();
    const int done = int(s.results().size());
    switch (s.phase()) {
    case PortStation::Phase::Waiting:
        return name + tr("esperando um teclado (%1 testados)").arg(done)
               + (s.portProblem().isEmpty() ? QString() : QStringLiteral("; ") + s.portProblem());
    case PortStation::Phase::Testing:
        if (const KeyboardTest *test = s.current())
            return name + (each ? tr("teclado %1: ").arg(done + 1) : QString())
                   + reports::progressLine(*test);
        return name + tr("começando");
    case PortStation::Phase::Removing:
        return name
               + tr("teclado %1 %2; retire o teclado")
                     .arg(QString::number(done), reports::verdictWord(s.results().constLast()));
    case PortStation::Phase::Done:
        break;
    }
    return name + tr("terminada");
}

} // namespace

int main(int argc, char *argv[])
{
    ports::useRuntimeDirectory();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    cli::describe(parser, QStringLiteral("padtest"),
                  QStringLiteral("Testa teclados com display sem ninguém à frente, um por porta, "
                                 "todas ao mesmo tempo: envia o texto como o loop da janela, "
                                 "confere cada resposta e termina com 0 (aprovados), "
                                 "1 (reprovado), 2 (uso errado) ou 3 (porta)."));
    addTestOptions(parser);
    cli::parseOrExit(parser, app);
    const ParsedOptions parsed = readTestOptions(parser);
    if (!parsed.options) {
        cli::print(QStringLiteral("padtest: %1\n%2").arg(parsed.error, cli::helpText(parser)),
                   true);
        return 2;
    }
    const TestOptions &options = *parsed.options;

    QStringList refused;
    for (const QString &path : {options.json, options.junit}) {
        if (const QString error = prepare(path); !error.isEmpty())
            refused << error;
    }
    std::vector<std::unique_ptr<PortStation>> stations;
    for (const QString &port : options.ports) {
        TestOptions own = options;
        own.port = port;
        own.record = portFile(options.record, port, options.ports.size());
        stations.push_back(std::make_unique<PortStation>(own));
        stations.back()->refuse(refused);
    }
    // Every keyboard, in the order they finished.
    QList<unit::Result> results;
    const bool alone = stations.size() == 1 && !options.each;

    // The reports say the same as the exit code: one that cannot be written fails the run,
    // and the others, written again, say so.
    QStringList reportErrors;
    const auto writeReports = [&] {
        const auto render = [&](bool json) {
            return json ? reports::json(results, options.station)
                        : reports::junit(results, options.station);
        };
        QList<bool> written;
        bool failed = false;
        for (const bool json : {true, false}) {
            const QString path = json ? options.json : options.junit;
            const QString error = path.isEmpty() ? QString() : writeReport(path, render(json));
            written << (!path.isEmpty() && error.isEmpty());
            if (error.isEmpty() || reportErrors.contains(error))
                continue;
            reportErrors << error;
            failed = true;
            for (unit::Result &r : results) {
                for (unit::Check &c : r.checks) {
                    if (c.name == tr("relatórios gravados")) {
                        c.status = unit::Check::Status::Failed;
                        c.message = reportErrors.join(QStringLiteral("; "));
                    }
                }
                r.verdict = unit::verdictOf(r.checks);
                r.reason = unit::reasonOf(r.checks);
            }
        }
        if (!failed)
            return;
        for (const bool json : {true, false}) {
            if (written[json ? 0 : 1])
                writeReport(json ? options.json : options.junit, render(json));
        }
    };

    const bool terminal = onTerminal();
    Board board(terminal);
    const auto boardLines = [&] {
        QStringList lines;
        for (const auto &s : stations)
            lines << portLine(*s, !alone, options.each);
        return lines;
    };
    QTimer progress;
    progress.setInterval(terminal ? 200 : 5000);
    QObject::connect(&progress, &QTimer::timeout, &app, [&] { board.show(boardLines()); });

    qsizetype running = qsizetype(stations.size());
    for (const auto &s : stations) {
        PortStation *station = s.get();
        QObject::connect(station, &PortStation::unitFinished, &app,
                         [&](const unit::Result &result) {
                             results << result;
                             writeReports();
                             // A station says each keyboard's verdict as it comes.
                             if (options.each) {
                                 board.say(reports::verdictLine(results.constLast()) + u'\n');
                                 if (terminal)
                                     board.show(boardLines());
                             }
                         });
        QObject::connect(station, &PortStation::finished, &app, [&] {
            if (--running > 0)
                return;
            progress.stop();
            board.clear();
            // A keyboard whose report failed after it finished fails in the summary too.
            cli::print(alone && !results.isEmpty()
                           ? reports::summary(results.constFirst())
                           : reports::stationSummary(results, options.station, !options.each));
            QCoreApplication::exit(unit::exitCode(results));
        });
    }
    // Ctrl+C ends every port at a frame's end, with the figures so far; a second one, at once.
    cli::onSignals(&app, [&stations] {
        for (const auto &s : stations)
            s->interrupt();
    });
    // A station's ports begin a fraction of the rate apart: on a PC with fewer cores than
    // ports, ticks due on one instant would wait for each other.
    for (std::size_t i = 0; i < stations.size(); ++i)
        stations[i]->start(std::chrono::milliseconds(
            options.each ? 0 : qint64(i) * options.rateMs / qint64(stations.size())));
    progress.start();
    return QCoreApplication::exec();
}
