#include "qttexts.h"

QtTexts::QtTexts()
    : cli::TextTable({QByteArrayLiteral("QWidgetTextControl"), QByteArrayLiteral("QLineEdit")},
                     {
                         {"&Undo", QStringLiteral("&Desfazer")},
                         {"&Redo", QStringLiteral("&Refazer")},
                         {"Cu&t", QStringLiteral("Recor&tar")},
                         {"&Copy", QStringLiteral("&Copiar")},
                         {"Copy &Link Location", QStringLiteral("Copiar &endereço do link")},
                         {"&Paste", QStringLiteral("C&olar")},
                         {"Delete", QStringLiteral("Excluir")},
                         {"Select All", QStringLiteral("Selecionar tudo")},
                     })
{
}
