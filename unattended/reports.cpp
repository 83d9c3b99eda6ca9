#include "reports.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

namespace reports {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("padtest", text);
}

QString latencyOr(const std::optional<std::chrono::microseconds> &l)
{
    return l ? millisecondsText(*l) : QStringLiteral("-");
}

QString verdictWord(const KeyboardTest &test)
{
    switch (test.verdict()) {
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

} // namespace

QString progressLine(const KeyboardTest &test)
{
    const SessionFigures &f = test.figures();
    return tr("quadros %1  aceitos %2  recusados %3  outros %4  latência p99 %5 ms  %6")
        .arg(f.framesSent())
        .arg(f.accepted())
        .arg(f.refused())
        .arg(f.otherBytes())
        .arg(latencyOr(f.latency().quantile(0.99)), test.remaining());
}

QString summary(const KeyboardTest &test)
{
    const SessionFigures &f = test.figures();
    const auto row = [](const QString &name, const QString &value) {
        return QStringLiteral("  %1 %2\n").arg(name, -34).arg(value);
    };
    QString out = verdictWord(test);
    if (!test.reason().isEmpty())
        out += QStringLiteral(": ") + test.reason();
    out += u'\n';
    out += row(tr("quadros enviados"), QString::number(f.framesSent()));
    out += row(tr("  de texto (com o tamanho errado)"),
               QStringLiteral("%1 (%2)").arg(test.textFrames()).arg(test.wrongFrames()));
    out += row(tr("aceitos (06)"), QString::number(f.accepted()));
    out += row(tr("recusados (15)"), QString::number(f.refused()));
    out += row(tr("outros bytes"), QString::number(f.otherBytes()));
    out += row(tr("tiques pulados"), QString::number(f.ticksSkipped()));
    out += row(tr("latência p50 / p95 / p99 / máx (ms)"),
               QStringLiteral("%1 / %2 / %3 / %4")
                   .arg(latencyOr(f.latency().quantile(0.50)),
                        latencyOr(f.latency().quantile(0.95)),
                        latencyOr(f.latency().quantile(0.99)), latencyOr(f.latency().max())));
    return out;
}

QByteArray json(const KeyboardTest &test)
{
    QJsonObject o = record::figuresJson(test.figures());
    o[QStringLiteral("verdict")]
        = test.verdict() == KeyboardTest::Verdict::Pass         ? QStringLiteral("pass")
          : test.verdict() == KeyboardTest::Verdict::PortFailed ? QStringLiteral("port")
                                                                : QStringLiteral("fail");
    o[QStringLiteral("reason")] = test.reason();
    o[QStringLiteral("exit_code")] = exitCode(test);
    o[QStringLiteral("text_frames")] = test.textFrames();
    o[QStringLiteral("wrong_frames")] = test.wrongFrames();
    QJsonArray checks;
    for (const KeyboardTest::Check &c : test.checks()) {
        checks.append(QJsonObject{{QStringLiteral("name"), c.name},
                                  {QStringLiteral("passed"), c.failure.isEmpty()},
                                  {QStringLiteral("failure"), c.failure}});
    }
    o[QStringLiteral("checks")] = checks;
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray junit(const KeyboardTest &test, double seconds)
{
    const QList<KeyboardTest::Check> checks = test.checks();
    qsizetype failures = 0;
    for (const auto &c : checks)
        failures += c.failure.isEmpty() ? 0 : 1;
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("padtest"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(checks.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 3));
    for (const auto &c : checks) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("padtest"));
        xml.writeAttribute(QStringLiteral("name"), c.name);
        if (!c.failure.isEmpty()) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), c.failure);
            xml.writeCharacters(summary(test));
            xml.writeEndElement();
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
