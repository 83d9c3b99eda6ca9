#pragma once

#include <QTest>

// The texts a box that shows Windows-1252 text must give back as they were set: every code,
// line ends it must not normalise, and characters a text layout treats as separators.
inline void addExactTexts()
{
    QTest::addColumn<QString>("text");
    QString all;
    for (int c = 0; c < 256; ++c)
        all += QChar(char16_t(c));
    QTest::newRow("every code 0-255") << all;
    QTest::newRow("lone CR and LF") << QStringLiteral("a\rb\nc\r\n");
    QTest::newRow("NUL first") << QString(QChar(u'\0')) + QStringLiteral("after");
    QTest::newRow("no-break space") << QStringLiteral("a\u00A0b");
    QTest::newRow("paragraph separator") << QStringLiteral("x\u2029y");
    QTest::newRow("control picture typed") << QStringLiteral("\u2406");
}
