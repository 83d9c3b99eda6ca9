#include "options.h"

#include "cli/cli.h"

#include "protocol/sendloop.h"
#include "serial/portmap.h"
#include "text/number.h"
#include "text/win1252.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("padtest", text);
}

const cli::NumberOption<TestOptions> kNumbers[] = {
    {"frames", "K", "Envia K quadros de texto", 1, 1'000'000'000, &TestOptions::frames},
    {"seconds", "S", "Envia durante S segundos, em vez de K quadros.", 1, 1'000'000,
     &TestOptions::seconds},
    {"rate", "MS", "Um quadro a cada MS milissegundos, de 1 a 65535", 1, sendloop::kMaxRate,
     &TestOptions::rateMs},
    {"wrong-every", "N",
     "Envia um quadro a cada N com o tamanho errado, que o teclado deve recusar.", 1, 1'000'000'000,
     &TestOptions::wrongEvery},
    {"max-latency", "MS",
     "Espera cada resposta no máximo MS milissegundos depois do quadro; um quadro sem resposta "
     "nesse tempo reprova",
     1, 1'000'000, &TestOptions::maxLatencyMs},
};

} // namespace

void addTestOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(
        QStringLiteral("portas"),
        tr("Os números das portas, como na janela (no Windows, 5 é COM5): cada uma testa o seu "
           "teclado ao mesmo tempo que as outras."),
        QStringLiteral("porta..."));
    parser.addOption(
        {QStringLiteral("port"), tr("Uma porta a mais, como as de cima."), QStringLiteral("N")});
    parser.addOption(
        {QStringLiteral("each"),
         tr("Um teclado depois do outro em cada porta, até Ctrl+C: espera um teclado responder, "
            "testa, diz o veredito e espera que seja retirado.")});
    parser.addOption({QStringLiteral("station"), tr("O nome da bancada, para os relatórios."),
                      QStringLiteral("nome")});
    parser.addOption({QStringLiteral("text"),
                      tr("O texto do display (padrão: o texto inicial da janela)."),
                      QStringLiteral("texto")});
    // Whatever is not told has a value of its own, and the help says which.
    cli::addNumbers<TestOptions>(parser, kNumbers, TestOptions(), "padtest");
    parser.addOption({QStringLiteral("json"),
                      tr("Grava os números e o veredito de cada teclado e o total em JSON."),
                      QStringLiteral("arquivo")});
    parser.addOption({QStringLiteral("junit"),
                      tr("Grava um relatório JUnit: uma suíte por teclado, um caso por "
                         "verificação."),
                      QStringLiteral("arquivo")});
    parser.addOption(
        {QStringLiteral("record"),
         tr("Grava a sessão, no formato da janela (JSON Lines se terminar em .jsonl); com várias "
            "portas, um arquivo por porta, com o número dela no nome."),
         QStringLiteral("arquivo")});
}

ParsedOptions readTestOptions(const QCommandLineParser &parser)
{
    TestOptions o;
    const QStringList typed = parser.positionalArguments() + parser.values(QStringLiteral("port"));
    if (typed.isEmpty())
        return {std::nullopt, tr("falta o número da porta")};
    for (const QString &port : typed) {
        const auto number = numbers::parse(port, ports::kMaxPortNumber);
        if (!number || *number < 1)
            return {std::nullopt, tr("\"%1\" não é um número de porta, de 1 a %2")
                                      .arg(port, QString::number(ports::kMaxPortNumber))};
        const QString plain = QString::number(*number);
        if (o.ports.contains(plain))
            return {std::nullopt, tr("a porta %1 foi dada duas vezes").arg(plain)};
        o.ports << plain;
    }
    o.port = o.ports.constFirst();
    o.each = parser.isSet(QStringLiteral("each"));
    o.station = parser.value(QStringLiteral("station"));
    o.text = parser.isSet(QStringLiteral("text")) ? parser.value(QStringLiteral("text"))
                                                  : sendloop::kInitialText;
    if (QString error; !cli::readNumbers<TestOptions>(parser, kNumbers, o, &error))
        return {std::nullopt, error};
    if (parser.isSet(QStringLiteral("frames")) && parser.isSet(QStringLiteral("seconds")))
        return {std::nullopt, tr("--frames ou --seconds, não os dois")};
    if (o.seconds > 0)
        o.frames = 0;
    if (win1252::fitToCodePage(o.text) != o.text)
        return {std::nullopt, tr("o texto tem caracteres que a linha não leva")};
    if (win1252::length(o.text) > 80)
        return {std::nullopt, tr("o texto tem mais de 80 caracteres")};
    o.json = parser.value(QStringLiteral("json"));
    o.junit = parser.value(QStringLiteral("junit"));
    o.record = parser.value(QStringLiteral("record"));
    return {o, {}};
}

QString portFile(const QString &path, const QString &port, qsizetype ports)
{
    if (path.isEmpty() || ports <= 1)
        return path;
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    const qsizetype dot = path.lastIndexOf(u'.');
    const qsizetype at = dot > slash + 1 ? dot : path.size();
    return path.left(at) + u'-' + port + path.mid(at);
}
