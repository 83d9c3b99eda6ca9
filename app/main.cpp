#include "frmpadcom.h"
#include "widgets/qttexts.h"

#include "cli/cli.h"
#include "serial/portmap.h"

#include <QApplication>
#include <QCommandLineParser>

#include <memory>

int main(int argc, char *argv[])
{
    ports::useRuntimeDirectory();
    const bool textOnly = cli::asksForTextOnly(argc, argv);
    if (textOnly)
        cli::printToCallersConsole();
    const bool windowed = !textOnly && cli::displayAtHand(argc, argv);
    const std::unique_ptr<QCoreApplication> app(windowed ? new QApplication(argc, argv)
                                                         : new QCoreApplication(argc, argv));
    QCommandLineParser parser;
    cli::describe(parser, frmPADCOM::kAppTitle,
                  QStringLiteral("Testa teclados com display de duas linhas pela porta serial: "
                                 "escreve no display, repete o envio e mostra cada byte que o "
                                 "teclado responde."));
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Grava a sessão neste arquivo desde o início (JSON Lines se terminar em "
                       ".jsonl)."),
        QStringLiteral("arquivo"));
    parser.addOption(record);
    cli::parseOrExit(parser, *app);
    // The window takes no file or port on its command line: a word there is a mistake, not
    // something to ignore while the window opens as if it had been understood.
    if (const QStringList stray = parser.positionalArguments(); !stray.isEmpty())
        cli::exitWithUsage(parser,
                           QStringLiteral("Argumento inesperado: '%1'.").arg(stray.constFirst()));
    if (textOnly) { // "-h" taken as some option's value: still no window without a display
        cli::print(cli::helpText(parser));
        return 0;
    }
    if (!windowed) {
        cli::print(QStringLiteral("padcom: não há display para a janela (DISPLAY não definido)\n"),
                   true);
        return 1;
    }
    cli::quitOnSignals(app.get());
    QtTexts qtTexts;
    QCoreApplication::installTranslator(&qtTexts);
    frmPADCOM window;
    window.show();
    if (parser.isSet(record))
        window.startRecording(parser.value(record));
    return QCoreApplication::exec();
}
