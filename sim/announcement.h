#pragma once

#include <QRegularExpression>
#include <QString>

// The first line padsim prints once it plays the keyboard. Users read the port number in
// it, and so do the scripts and the tests that start padsim as a process.
namespace announcement {

inline QString text(const QString &port)
{
    return QStringLiteral("Teclado virtual na porta %1").arg(port);
}

// The port number announced in `output`; 0 before the announcement.
inline int number(const QString &output)
{
    static const QRegularExpression announced(text(QStringLiteral("(\\d+)")));
    return announced.match(output).captured(1).toInt();
}

} // namespace announcement
