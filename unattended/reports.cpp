#include "reports.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QXmlStreamWriter>

namespace reports {

namespace {

using Status = unit::Check::Status;
using unit::Verdict;

QString tr(const char *text)
{
    return QCoreApplication::translate("padtest", text);
}

QString latencyOr(const std::optional<std::chrono::microseconds> &l)
{
    return l ? millisecondsText(*l) : QStringLiteral("-");
}

// How a verdict and a check's status are said to a person and written for a script.
struct Name
{
    const char *word; // Portuguese
    const char *key;
};

Name nameOf(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return {QT_TRANSLATE_NOOP("padtest", "APROVADO"), "pass"};
    case Verdict::Fail:
        return {QT_TRANSLATE_NOOP("padtest", "REPROVADO"), "fail"};
    case Verdict::PortFailed:
        return {QT_TRANSLATE_NOOP("padtest", "PORTA"), "port"};
    case Verdict::Running:
        break;
    }
    return {QT_TRANSLATE_NOOP("padtest", "EM CURSO"), "fail"};
}

Name nameOf(Status status)
{
    switch (status) {
    case Status::Passed:
        return {QT_TRANSLATE_NOOP("padtest", "ok"), "passed"};
    case Status::Failed:
        return {QT_TRANSLATE_NOOP("padtest", "falhou"), "failed"};
    case Status::Skipped:
        return {QT_TRANSLATE_NOOP("padtest", "não feita"), "skipped"};
    case Status::Error:
        break;
    }
    return {QT_TRANSLATE_NOOP("padtest", "erro"), "error"};
}

template<typename T> QString wordOf(T value)
{
    return tr(nameOf(value).word);
}

template<typename T> QString keyOf(T value)
{
    return QString::fromLatin1(nameOf(value).key);
}

// Why a keyboard failed, as the failures are counted by: the check that failed first.
QString failedCheck(const unit::Result &r)
{
    for (const Status wanted : {Status::Error, Status::Failed}) {
        for (const unit::Check &c : r.checks) {
            if (c.status == wanted)
                return c.name;
        }
    }
    return {};
}

QString who(const unit::Result &r)
{
    return r.number > 0 ? tr("porta %1, teclado %2").arg(r.port).arg(r.number)
                        : tr("porta %1").arg(r.port);
}

struct Counts
{
    qsizetype failures = 0, errors = 0, skipped = 0;
};

Counts counted(const QList<unit::Check> &checks)
{
    Counts c;
    for (const unit::Check &check : checks) {
        c.failures += check.status == Status::Failed ? 1 : 0;
        c.errors += check.status == Status::Error ? 1 : 0;
        c.skipped += check.status == Status::Skipped ? 1 : 0;
    }
    return c;
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

QString summary(const unit::Result &r)
{
    const Figures &f = r.figures;
    const auto row = [](const QString &name, const QString &value) {
        return QStringLiteral("  %1 %2\n").arg(name, -36).arg(value);
    };
    QString out = wordOf(r.verdict);
    if (!r.reason.isEmpty())
        out += QStringLiteral(": ") + r.reason;
    out += u'\n';
    out += row(tr("quadros enviados"), QString::number(f.framesSent()));
    out += row(tr("  de texto (com o tamanho errado)"),
               QStringLiteral("%1 (%2)").arg(r.textFrames).arg(r.wrongFrames));
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
    for (const unit::Check &c : r.checks) {
        out += QStringLiteral("    [%1] %2").arg(wordOf(c.status), c.name);
        if (c.status != Status::Passed && !c.message.isEmpty())
            out += QStringLiteral(": ") + c.message;
        out += u'\n';
    }
    return out;
}

QString verdictWord(const unit::Result &r)
{
    return wordOf(r.verdict);
}

QString verdictLine(const unit::Result &r)
{
    QString line = QStringLiteral("%1: %2").arg(who(r), wordOf(r.verdict));
    if (!r.reason.isEmpty())
        line += QStringLiteral(": ") + r.reason;
    return line;
}

QString stationSummary(const QList<unit::Result> &results, const QString &station, bool lineEach)
{
    QString out;
    qsizetype passed = 0;
    QMap<QString, int> byReason;
    for (const unit::Result &r : results) {
        if (lineEach)
            out += verdictLine(r) + u'\n';
        if (r.verdict == Verdict::Pass)
            ++passed;
        else
            ++byReason[failedCheck(r)];
    }
    out += station.isEmpty() ? tr("total: ") : tr("bancada %1: ").arg(station);
    out += tr("%1 teclados testados, %2 aprovados, %3 reprovados\n")
               .arg(results.size())
               .arg(passed)
               .arg(results.size() - passed);
    for (auto it = byReason.cbegin(); it != byReason.cend(); ++it)
        out += tr("  reprovados em \"%1\": %2\n").arg(it.key()).arg(it.value());
    return out;
}

QByteArray json(const QList<unit::Result> &results, const QString &station)
{
    Figures total;
    qsizetype passed = 0;
    QJsonObject byReason;
    QJsonArray units;
    for (const unit::Result &r : results) {
        total += r.figures;
        if (r.verdict == Verdict::Pass) {
            ++passed;
        } else {
            const QString why = failedCheck(r);
            byReason[why] = byReason[why].toInt() + 1;
        }
        QJsonObject u = record::figuresJson(r.figures);
        u[QStringLiteral("port")] = r.port;
        u[QStringLiteral("device")] = r.device;
        if (r.number > 0)
            u[QStringLiteral("unit")] = r.number;
        u[QStringLiteral("started")] = r.started.toString(Qt::ISODateWithMs);
        u[QStringLiteral("seconds")] = r.seconds;
        u[QStringLiteral("verdict")] = keyOf(r.verdict);
        u[QStringLiteral("reason")] = r.reason;
        u[QStringLiteral("exit_code")] = unit::exitCode(r.verdict);
        u[QStringLiteral("text_frames")] = r.textFrames;
        u[QStringLiteral("wrong_frames")] = r.wrongFrames;
        QJsonArray checks;
        for (const unit::Check &c : r.checks) {
            checks.append(QJsonObject{{QStringLiteral("name"), c.name},
                                      {QStringLiteral("status"), keyOf(c.status)},
                                      {QStringLiteral("message"), c.message}});
        }
        u[QStringLiteral("checks")] = checks;
        units.append(u);
    }
    // The whole run first, as one keyboard's report had it; each keyboard under "units".
    QJsonObject o = record::figuresJson(total);
    const int code = unit::exitCode(results);
    o[QStringLiteral("verdict")] = code == 0   ? QStringLiteral("pass")
                                   : code == 3 ? QStringLiteral("port")
                                               : QStringLiteral("fail");
    o[QStringLiteral("exit_code")] = code;
    o[QStringLiteral("reason")] = [&] {
        for (const unit::Result &r : results) {
            if (!r.reason.isEmpty())
                return r.reason;
        }
        return QString();
    }();
    if (!station.isEmpty())
        o[QStringLiteral("station")] = station;
    o[QStringLiteral("units_tested")] = results.size();
    o[QStringLiteral("units_passed")] = passed;
    o[QStringLiteral("units_failed")] = results.size() - passed;
    o[QStringLiteral("failed_by_reason")] = byReason;
    o[QStringLiteral("units")] = units;
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray junit(const QList<unit::Result> &results, const QString &station)
{
    Counts all;
    qsizetype tests = 0;
    double seconds = 0;
    for (const unit::Result &r : results) {
        const Counts c = counted(r.checks);
        all.failures += c.failures;
        all.errors += c.errors;
        all.skipped += c.skipped;
        tests += r.checks.size();
        seconds += r.seconds;
    }
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"),
                       station.isEmpty() ? QStringLiteral("padtest") : station);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(all.failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(all.errors));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(all.skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 3));
    for (const unit::Result &r : results) {
        const Counts c = counted(r.checks);
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), who(r));
        xml.writeAttribute(QStringLiteral("tests"), QString::number(r.checks.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(c.failures));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(c.errors));
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(c.skipped));
        xml.writeAttribute(QStringLiteral("time"), QString::number(r.seconds, 'f', 3));
        xml.writeAttribute(QStringLiteral("timestamp"), r.started.toString(Qt::ISODate));
        xml.writeStartElement(QStringLiteral("properties"));
        const auto property = [&](const QString &name, const QString &value) {
            xml.writeStartElement(QStringLiteral("property"));
            xml.writeAttribute(QStringLiteral("name"), name);
            xml.writeAttribute(QStringLiteral("value"), value);
            xml.writeEndElement();
        };
        property(QStringLiteral("port"), r.port);
        property(QStringLiteral("device"), r.device);
        if (!station.isEmpty())
            property(QStringLiteral("station"), station);
        if (r.number > 0)
            property(QStringLiteral("unit"), QString::number(r.number));
        property(QStringLiteral("started"), r.started.toString(Qt::ISODateWithMs));
        xml.writeEndElement();
        const QString classname = QStringLiteral("padtest.porta%1").arg(r.port);
        for (const unit::Check &check : r.checks) {
            xml.writeStartElement(QStringLiteral("testcase"));
            xml.writeAttribute(QStringLiteral("classname"), classname);
            xml.writeAttribute(QStringLiteral("name"), check.name);
            switch (check.status) {
            case Status::Passed:
                break;
            case Status::Skipped:
                xml.writeStartElement(QStringLiteral("skipped"));
                xml.writeAttribute(QStringLiteral("message"), check.message);
                xml.writeEndElement();
                break;
            case Status::Failed:
            case Status::Error:
                xml.writeStartElement(check.status == Status::Error ? QStringLiteral("error")
                                                                    : QStringLiteral("failure"));
                xml.writeAttribute(QStringLiteral("message"), check.message);
                xml.writeCharacters(summary(r));
                xml.writeEndElement();
                break;
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

} // namespace reports
