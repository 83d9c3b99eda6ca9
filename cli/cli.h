#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QString>
#include <QTranslator>

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <functional>
#include <optional>
#include <span>

class QCommandLineParser;
class QCoreApplication;
class QObject;

// What every PADCOM program says of itself on its command line.
namespace cli {

// Portuguese for the few texts Qt's own classes show, in the given contexts: no catalogue of
// Qt's translations ships with a static build.
class TextTable : public QTranslator
{
public:
    TextTable(QList<QByteArray> contexts, QHash<QByteArray, QString> texts)
        : m_contexts(std::move(contexts))
        , m_texts(std::move(texts))
    {
    }

    QString translate(const char *context, const char *source, const char *, int) const override
    {
        return m_contexts.contains(QByteArray(context)) ? m_texts.value(QByteArray(source))
                                                        : QString();
    }

private:
    QList<QByteArray> m_contexts;
    QHash<QByteArray, QString> m_texts;
};

// The version the project is built as; CMake's project() is the only place it is written.
QString version();

// --help and --version want text, not a window: such a run starts without a display server,
// so that it answers on a console, over ssh and in a package's checks alike.
bool asksForTextOnly(int argc, const char *const *argv);

// Whether a window could be shown: on Linux a display is named in the environment (or a
// platform chosen); without one the program still reads its command line and says what is
// wrong, instead of Qt aborting before it could.
bool displayAtHand(int argc, const char *const *argv);

// A window program on Windows starts without a console: one started from a console prints
// there, as a console user expects. Output already redirected to a file or pipe stays so.
void printToCallersConsole();

// Ctrl+C, SIGTERM and a closed terminal (on Windows the console's Ctrl+C, Ctrl+Break and its
// closing) end the event loop instead of the process, so that what a program leaves behind
// (a published port, a record's figures) is put in order.
void quitOnSignals(QObject *context);
// The same signals call `handler` instead, on the event loop, once per signal: a second one
// asks for an end at once. A third is left to the system.
void onSignals(QObject *context, std::function<void()> handler);

// Writes text as the console shows it: UTF-16 to a Windows console, UTF-8 elsewhere.
void print(const QString &text, bool toStandardError = false);

// Names the program and its version and adds --help and --version to the parser, whose
// texts are Portuguese. Call it once the application exists.
void describe(QCommandLineParser &parser, const QString &program, const QString &description);

// The parser's help, the program named as a user types it.
QString helpText(const QCommandLineParser &parser);

// Reads the application's arguments. --help and --version print their text and end the
// program with 0; a mistake prints one line and the usage, and ends it with 2.
void parseOrExit(QCommandLineParser &parser, const QCoreApplication &app);

// A mistake the parser cannot see (a word where the program takes none, a value out of
// range) ends the program as the parser's own do: one line, the usage, and 2.
[[noreturn]] void exitWithUsage(const QCommandLineParser &parser, const QString &error);

// A whole number an option takes: its name, its value's name, its help (Portuguese), its
// range, and the field of the program's options it goes to.
template<typename Options> struct NumberOption
{
    const char *name;
    const char *value;
    const char *help;
    int least;
    int most;
    int Options::*field;
};

// One option that takes a whole number, as every program reads it.
QCommandLineOption numberOption(const char *name, const char *value, const QString &help);
// The option's number, or why not ("--rate pede um número inteiro de 1 a 65535, não \"x\"").
std::optional<int> readNumber(const QCommandLineParser &parser, const char *name, int least,
                              int most, QString *error);

// Adds the table's options. A help text that does not end its sentence is told the default
// `defaults` has ("(padrão: 100).").
template<typename Options>
void addNumbers(QCommandLineParser &parser, std::span<const NumberOption<Options>> table,
                const Options &defaults, const char *context)
{
    for (const NumberOption<Options> &n : table) {
        QString help = QCoreApplication::translate(context, n.help);
        if (!help.endsWith(u'.'))
            help += QCoreApplication::translate("cli", " (padrão: %1).").arg(defaults.*n.field);
        parser.addOption(numberOption(n.name, n.value, help));
    }
}

// Reads every option of the table that is set into `into`; the first that is no number in
// its range is told in `error`.
template<typename Options>
bool readNumbers(const QCommandLineParser &parser, std::span<const NumberOption<Options>> table,
                 Options &into, QString *error)
{
    for (const NumberOption<Options> &n : table) {
        if (!parser.isSet(QString::fromLatin1(n.name)))
            continue;
        const auto v = readNumber(parser, n.name, n.least, n.most, error);
        if (!v)
            return false;
        into.*n.field = *v;
    }
    return true;
}

} // namespace cli
