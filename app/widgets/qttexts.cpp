#include "qttexts.h"

#include <QHash>

QString QtTexts::translate(const char *context, const char *source, const char *, int) const
{
    if (qstrcmp(context, "QWidgetTextControl") != 0 && qstrcmp(context, "QLineEdit") != 0)
        return {};
    static const QHash<QByteArray, QString> texts = {
        {"&Undo", QStringLiteral("&Desfazer")},
        {"&Redo", QStringLiteral("&Refazer")},
        {"Cu&t", QStringLiteral("Recor&tar")},
        {"&Copy", QStringLiteral("&Copiar")},
        {"Copy &Link Location", QStringLiteral("Copiar &endereço do link")},
        {"&Paste", QStringLiteral("C&olar")},
        {"Delete", QStringLiteral("Excluir")},
        {"Select All", QStringLiteral("Selecionar tudo")},
    };
    return texts.value(QByteArray(source));
}
