#include "simoptions.h"

#include "cli/cli.h"
#include "serial/linesettings.h"
#include "serial/portmap.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <span>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("padsim", text);
}

constexpr int kMaxCount = 65535;

const cli::NumberOption<SimOptions> kNumbers[] = {
    {"port", "N", "Publica como porta N (padrão: a primeira livre).", 1, ports::kMaxPortNumber,
     &SimOptions::number},
    {"reply-delay", "MS", "Responde cada quadro MS milissegundos depois de recebê-lo (padrão: 0).",
     0, kMaxCount, &SimOptions::replyDelayMs},
    {"refuse-every", "N", "Recusa (15) um quadro a cada N, seja ele qual for.", 1, kMaxCount,
     &SimOptions::refuseEvery},
    {"silent-after", "N",
     "Emudece depois de N quadros: os seguintes ficam sem resposta (o display ainda muda).", 0,
     kMaxCount, &SimOptions::silentAfter},
    {"drop-every", "N", "Perde a resposta de um quadro a cada N (o display ainda muda).", 1,
     kMaxCount, &SimOptions::dropEvery},
    {"noise-every", "N", "Um byte de ruído (FF) antes da resposta de um quadro a cada N.", 1,
     kMaxCount, &SimOptions::noiseEvery},
    // A pseudo-terminal's input queue holds a few thousand bytes; a real leftover is a few.
    {"stale", "N", "Deixa N respostas 06 velhas à espera de cada programa que abre a porta.", 1,
     1000, &SimOptions::stale},
};

struct Flag
{
    const char *name;
    const char *help;
    bool SimOptions::*field;
};

const Flag kFlags[] = {
    {"answer-twice", "Responde cada quadro duas vezes (06 06, 15 15).", &SimOptions::answerTwice},
    {"no-gap",
     "Sem limite entre bytes: um quadro incompleto nunca é recusado, o próximo o completa.",
     &SimOptions::noGap},
    {"accept-all", "Aceita (06) até o que devia recusar; o display não mostra o quadro errado.",
     &SimOptions::acceptAll},
};

const QString kDevice = QStringLiteral("device");
const QString kHeadless = QStringLiteral("headless");
const QString kNoPacing = QStringLiteral("no-pacing");

} // namespace

void addSimOptions(QCommandLineParser &parser)
{
    const std::span<const cli::NumberOption<SimOptions>> numbers(kNumbers);
    cli::addNumbers(parser, numbers.first(1), SimOptions(), "padsim");
    parser.addOption(
        {kDevice, tr("Usa esta porta serial real (cabo null-modem) em vez de uma pseudo-porta."),
         QStringLiteral("caminho")});
    parser.addOption(
        {kHeadless,
         tr("Sem janela: imprime o display a cada mudança; linhas da entrada viram teclas.")});
    const LineSettings line;
    parser.addOption({kNoPacing, tr("Lê sem o limite de %1 bytes/s de uma linha a %2 baud.")
                                     .arg(line.bytesPerSecond())
                                     .arg(line.baudRate)});
    cli::addNumbers(parser, numbers.subspan(1), SimOptions(), "padsim");
    for (const Flag &f : kFlags)
        parser.addOption({QString::fromLatin1(f.name), tr(f.help)});
}

ParsedSimOptions readSimOptions(const QCommandLineParser &parser)
{
    SimOptions o;
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        return {std::nullopt, tr("argumento inesperado: \"%1\" (a porta se escolhe com --port N)")
                                  .arg(extra.constFirst())};
    if (QString error; !cli::readNumbers<SimOptions>(parser, kNumbers, o, &error))
        return {std::nullopt, error};
    for (const Flag &f : kFlags)
        o.*f.field = parser.isSet(QString::fromLatin1(f.name));
    o.device = parser.value(kDevice);
    o.headless = parser.isSet(kHeadless);
    o.paced = !parser.isSet(kNoPacing);
    if (o.stale > 0 && !o.device.isEmpty())
        return {std::nullopt, tr("--stale só vale na pseudo-porta, não com --device")};
    return {o, {}};
}
