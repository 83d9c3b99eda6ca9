#include "reports.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

namespace reports {

namespace {

using Status = KeyboardTest::Check::Status;

QString tr(const char *text)
{
    return QCoreApplication::translate("padtest", text);
}

QString latencyOr(const std::optional<std::chrono::microseconds> &l)
{
    return l ? millisecondsText(*l) : QStringLiteral("-");
}

QString verdictWord(KeyboardTest::Verdict verdict)
{
    switch (verdict) {
    case KeyboardTest::Verdict::Pass:
        return tr("APROVADO");
    case KeyboardTest::Verdict::Fail:
        return tr("REPROVADO");
    case KeyboardTest::Verdict::PortFailed:
        return tr("PORTA");
    case KeyboardTest::Verdict::Running:
        break;
    }
    return tr("EM CURSO");
}

QString statusWord(Status status)
{
    switch (status) {
    case Status::Passed:
        return tr("ok");
    case Status::Failed:
        return tr("falhou");
    case Status::Skipped:
        return tr("não feita");
    case Status::Error:
        return tr("erro");
    }
    return {};
}

QString statusKey(Status status)
{
    switch (status) {
    case Status::Passed:
        return QStringLiteral("passed");
    case Status::Failed:
        return QStringLiteral("failed");
    case Status::Skipped:
        return QStringLiteral("skipped");
    case Status::Error:
        return QStringLiteral("error");
    }
    return {};
}

} // namespace

QString progressLine(const KeyboardTest &test)
{
    const Figures &f = test.figures();
    const TestOptions &o = test.options();
    QString frames = QString::number(test.textFrames());
    if (o.frames > 0)
        frames += tr(" de %1").arg(o.frames);
    QString line = tr("quadros de texto %1  aceitos %2  recusados %3  sem resposta %4  outros %5  "
                      "latência p99 %6 ms")
                       .arg(frames)
                       .arg(f.accepted())
                       .arg(f.refused())
                       .arg(f.unanswered())
                       .arg(f.otherBytes())
                       .arg(latencyOr(f.latency().quantile(0.99)));
    if (const auto left = test.secondsLeft())
        line += tr("  faltam %1 s").arg(*left);
    return line;
}

QString summary(const KeyboardTest &test)
{
    const Figures &f = test.figures();
    const auto row = [](const QString &name, const QString &value) {
        return QStringLiteral("  %1 %2\n").arg(name, -36).arg(value);
    };
    QString out = verdictWord(test.verdict());
    if (!test.reason().isEmpty())
        out += QStringLiteral(": ") + test.reason();
    out += u'\n';
    out += row(tr("quadros enviados"), QString::number(f.framesSent()));
    out += row(tr("  de texto (com o tamanho errado)"),
               QStringLiteral("%1 (%2)").arg(test.textFrames()).arg(test.wrongFrames()));
    out += row(tr("aceitos (06)"), QString::number(f.accepted()));
    out += row(tr("recusados (15)"), QString::number(f.refused()));
    out += row(tr("sem resposta"), QString::number(f.unanswered()));
    out += row(tr("respostas sem quadro"), QString::number(f.unexpected()));
    out += row(tr("outros bytes"), QString::number(f.otherBytes()));
    out += row(tr("tiques pulados"), QString::number(f.ticksSkipped()));
    out += row(tr("latência p50 / p95 / p99 / máx (ms)"),
               QStringLiteral("%1 / %2 / %3 / %4")
                   .arg(latencyOr(f.latency().quantile(0.50)),
                        latencyOr(f.latency().quantile(0.95)),
                        latencyOr(f.latency().quantile(0.99)), latencyOr(f.latency().max())));
    out += tr("  verificações\n");
    for (const KeyboardTest::Check &c : test.checks()) {
        out += QStringLiteral("    [%1] %2").arg(statusWord(c.status), c.name);
        if (c.status != Status::Passed && !c.message.isEmpty())
            out += QStringLiteral(": ") + c.message;
        out += u'\n';
    }
    return out;
}

QByteArray json(const KeyboardTest &test)
{
    QJsonObject o = record::figuresJson(test.figures());
    const KeyboardTest::Verdict verdict = test.verdict();
    o[QStringLiteral("verdict")] = verdict == KeyboardTest::Verdict::Pass ? QStringLiteral("pass")
                                   : verdict == KeyboardTest::Verdict::PortFailed
                                       ? QStringLiteral("port")
                                       : QStringLiteral("fail");
    o[QStringLiteral("reason")] = test.reason();
    o[QStringLiteral("exit_code")] = exitCode(test);
    o[QStringLiteral("text_frames")] = test.textFrames();
    o[QStringLiteral("wrong_frames")] = test.wrongFrames();
    QJsonArray checks;
    for (const KeyboardTest::Check &c : test.checks()) {
        checks.append(QJsonObject{{QStringLiteral("name"), c.name},
                                  {QStringLiteral("status"), statusKey(c.status)},
                                  {QStringLiteral("message"), c.message}});
    }
    o[QStringLiteral("checks")] = checks;
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray junit(const KeyboardTest &test, double seconds)
{
    const QList<KeyboardTest::Check> checks = test.checks();
    qsizetype failures = 0, errors = 0, skipped = 0;
    for (const auto &c : checks) {
        failures += c.status == Status::Failed ? 1 : 0;
        errors += c.status == Status::Error ? 1 : 0;
        skipped += c.status == Status::Skipped ? 1 : 0;
    }
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("padtest"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(checks.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 3));
    for (const auto &c : checks) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("padtest"));
        xml.writeAttribute(QStringLiteral("name"), c.name);
        switch (c.status) {
        case Status::Passed:
            break;
        case Status::Skipped:
            xml.writeStartElement(QStringLiteral("skipped"));
            xml.writeAttribute(QStringLiteral("message"), c.message);
            xml.writeEndElement();
            break;
        case Status::Failed:
        case Status::Error:
            xml.writeStartElement(c.status == Status::Error ? QStringLiteral("error")
                                                            : QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), c.message);
            xml.writeCharacters(summary(test));
            xml.writeEndElement();
            break;
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

int exitCode(const KeyboardTest &test)
{
    switch (test.verdict()) {
    case KeyboardTest::Verdict::Pass:
        return 0;
    case KeyboardTest::Verdict::PortFailed:
        return 3;
    default:
        return 1;
    }
}

} // namespace reports
