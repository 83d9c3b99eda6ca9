#include "cli.h"

#include "text/number.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace cli {

QCommandLineOption numberOption(const char *name, const char *value, const QString &help)
{
    return {QString::fromLatin1(name), help, QString::fromLatin1(value)};
}

std::optional<int> readNumber(const QCommandLineParser &parser, const char *name, int least,
                              int most, QString *error)
{
    const QString option = QString::fromLatin1(name);
    const auto v = numbers::parse(parser.value(option), most);
    if (v && *v >= least)
        return v;
    *error
        = QCoreApplication::translate("cli", "--%1 pede um número inteiro de %2 a %3, não \"%4\"")
              .arg(option, QString::number(least), QString::number(most), parser.value(option));
    return std::nullopt;
}

QString version()
{
    return QStringLiteral(PADCOM_VERSION);
}

bool asksForTextOnly(int argc, const char *const *argv)
{
    // As QCommandLineParser spells its help and version options.
    static constexpr const char *kTextOptions[] = {"-h", "--help", "-?", "-v", "--version"};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        for (const char *option : kTextOptions) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

bool displayAtHand(int argc, const char *const *argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0)
            return true;
    }
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
           || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return true;
#endif
}

namespace {
// The handler's calls: a first signal asks for an orderly end, a second for an end now; a
// third is left to the system, which ends the process whatever it is doing.
constexpr int kHandledSignals = 2;
std::atomic<int> g_signals{0};

#ifdef Q_OS_WIN
QPointer<QObject> g_context;
std::function<void()> g_handler;
HANDLE g_ended = nullptr;

void post()
{
    QMetaObject::invokeMethod(
        g_context.data(), [] { g_handler(); }, Qt::QueuedConnection);
}

BOOL WINAPI onConsoleEvent(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (++g_signals > kHandledSignals)
            return FALSE;
        post();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this returns, or a few seconds on: ask for
        // the end now and give the program that long to put things in order.
        while (g_signals < kHandledSignals) {
            ++g_signals;
            post();
        }
        ::WaitForSingleObject(g_ended, 4500);
        return TRUE;
    default:
        return FALSE;
    }
}
#else
int g_signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    if (++g_signals >= kHandledSignals)
        ::signal(signal, SIG_DFL);
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}
#endif
} // namespace

void quitOnSignals(QObject *context)
{
    onSignals(context, [] { QCoreApplication::quit(); });
}

void onSignals(QObject *context, std::function<void()> handler)
{
#ifdef Q_OS_WIN
    g_context = context;
    g_handler = std::move(handler);
    g_ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atexit([] { ::SetEvent(g_ended); });
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [handler = std::move(handler)] {
                         // One call per signal, however many came before the loop got round to
                         // them.
                         char drained[16];
                         const auto n = ::read(g_signalPipe[0], drained, sizeof drained);
                         for (ssize_t i = 0; i < n; ++i)
                             handler();
                     });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    // A reader of what we print that goes away must not end us before we put things away.
    ::signal(SIGPIPE, SIG_IGN);
#endif
}

void printToCallersConsole()
{
#ifdef Q_OS_WIN
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN)
        return;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        FILE *ignored = nullptr;
        freopen_s(&ignored, "CONOUT$", "w", stdout);
        freopen_s(&ignored, "CONOUT$", "w", stderr);
    }
#endif
}

void print(const QString &text, bool toStandardError)
{
#ifdef Q_OS_WIN
    const HANDLE handle = GetStdHandle(toStandardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        WriteConsoleW(handle, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()),
                      &written, nullptr);
        return;
    }
#endif
    FILE *stream = toStandardError ? stderr : stdout;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

namespace {
const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");
} // namespace

void describe(QCommandLineParser &parser, const QString &program, const QString &description)
{
    // The command line answers in the user's language, as the windows do.
    static TextTable texts(
        {QByteArrayLiteral("QCommandLineParser")},
        {
            {"Usage: %1", QStringLiteral("Uso: %1")},
            {"Options:", QStringLiteral("Opções:")},
            {"Arguments:", QStringLiteral("Argumentos:")},
            {"[options]", QStringLiteral("[opções]")},
            {"Unknown option '%1'.", QStringLiteral("Opção desconhecida: '%1'.")},
            {"Unknown options: %1.", QStringLiteral("Opções desconhecidas: %1.")},
            {"Missing value after '%1'.", QStringLiteral("Falta um valor depois de '%1'.")},
            {"Unexpected value after '%1'.", QStringLiteral("Valor inesperado depois de '%1'.")},
        });
    QCoreApplication::installTranslator(&texts);
    QCoreApplication::setApplicationName(program);
    QCoreApplication::setApplicationVersion(version());
    parser.setApplicationDescription(description);
    // Answered here rather than by Qt, which shows them in a message box on Windows
    // whenever it sees no console, as under Wine or from a script.
    parser.addOption(QCommandLineOption(
        {
#ifdef Q_OS_WIN
            QStringLiteral("?"),
#endif
            QStringLiteral("h"), kHelp},
        QStringLiteral("Mostra esta ajuda.")));
    parser.addOption(
        QCommandLineOption({QStringLiteral("v"), kVersion}, QStringLiteral("Mostra a versão.")));
}

QString helpText(const QCommandLineParser &parser)
{
    // Qt names the program as it was called, path and all; a user types its name.
    const QString called = QCoreApplication::arguments().value(0);
    QString text = parser.helpText();
    const qsizetype at = text.indexOf(called);
    if (!called.isEmpty() && at >= 0 && at < text.indexOf(u'\n'))
        text.replace(at, called.size(), QFileInfo(called).completeBaseName());
    return text;
}

void parseOrExit(QCommandLineParser &parser, const QCoreApplication &app)
{
    const bool parsed = parser.parse(app.arguments());
    if (parsed && parser.isSet(kVersion)) {
        print(QCoreApplication::applicationName() + u' ' + version() + u'\n');
        std::exit(0);
    }
    if (parsed && parser.isSet(kHelp)) {
        print(helpText(parser));
        std::exit(0);
    }
    if (!parsed)
        exitWithUsage(parser, parser.errorText());
}

void exitWithUsage(const QCommandLineParser &parser, const QString &error)
{
    // Said where --help would be: a window program started from a console tells it there.
    printToCallersConsole();
    const QString program = QFileInfo(QCoreApplication::arguments().value(0)).completeBaseName();
    print(program + QStringLiteral(": ") + error + u'\n' + helpText(parser), true);
    std::exit(2);
}

} // namespace cli
