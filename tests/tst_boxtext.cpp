#include "text/boxtext.h"

#include <QTest>

using boxtext::Layout;

// What the text boxes show for a text, and the text they read back.
class TestBoxText : public QObject
{
    Q_OBJECT

private slots:
    void render_data();
    void render();
    void everyCharacterReadsBack();
    void crlfLineBreaks_data();
    void crlfLineBreaks();
    void nameOf_data();
    void nameOf();
    void fittingUnits_data();
    void fittingUnits();
    void encodableOnly_data();
    void encodableOnly();
    void lineBreaks_data();
    void lineBreaks();
};

void TestBoxText::render_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QString>("shown");

    const QString ackCrLfNul81 = QStringLiteral(" \x06\r\n") + QChar(u'\0') + QChar(char16_t(0x81));
    QTest::newRow("log: one symbol per character")
        << ackCrLfNul81 << Layout::Log << QStringLiteral(" \u2406\u240D\u240A\u2400\uFFFD");
    QTest::newRow("lines: CR LF is a line break")
        << ackCrLfNul81 << Layout::Lines << QStringLiteral(" \u2406\u2029\u2400\u0081");
    QTest::newRow("lines: lone CR and LF stay symbols")
        << QStringLiteral("a\rb\nc") << Layout::Lines << QStringLiteral("a\u240Db\u240Ac");
    QTest::newRow("log: DEL") << QStringLiteral("\x7F") << Layout::Log << QStringLiteral("\u2421");
    QTest::newRow("log: every byte 80-9F without a glyph")
        << QStringLiteral("\u20AC\u0090") << Layout::Log << QStringLiteral("\u20AC\uFFFD");
    QTest::newRow("printable Latin-1 as itself")
        << QStringLiteral("Olá º ÿ") << Layout::Log << QStringLiteral("Olá º ÿ");
}

void TestBoxText::render()
{
    QFETCH(QString, text);
    QFETCH(Layout, layout);
    QFETCH(QString, shown);
    QCOMPARE(boxtext::render(text, layout), shown);
}

void TestBoxText::everyCharacterReadsBack()
{
    // Every code the line can carry, in both layouts, and a CR LF at each place.
    QString all;
    for (int c = 0; c < 256; ++c)
        all += QChar(char16_t(c));
    all += QStringLiteral("\r\n\u20AC\r\r\n\n");
    QCOMPARE(boxtext::unrender(boxtext::render(all, Layout::Lines)), all);
    const QString log = boxtext::render(all, Layout::Log);
    QCOMPARE(log.size(), all.size());
    // A log's undefined bytes all show as one symbol: what they stood for is not in the view.
    for (qsizetype i = 0; i < all.size(); ++i) {
        const char16_t c = all[i].unicode();
        if (c >= 0x80 && c < 0xA0)
            QCOMPARE(log[i], boxtext::kNoGlyph);
        else
            QCOMPARE(boxtext::unrender(log.mid(i, 1)), all.mid(i, 1));
    }
}

void TestBoxText::crlfLineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("display");

    QTest::newRow("LF") << QStringLiteral("c\nde\nfgh") << QStringLiteral("c\r\nde\r\nfgh");
    QTest::newRow("CR LF kept") << QStringLiteral("a\r\nb") << QStringLiteral("a\r\nb");
    QTest::newRow("lone CR") << QStringLiteral("a\rb") << QStringLiteral("a\r\nb");
    QTest::newRow("CR CR LF") << QStringLiteral("\r\r\n") << QStringLiteral("\r\n\r\n");
    QTest::newRow("LF CR is two breaks") << QStringLiteral("\n\r") << QStringLiteral("\r\n\r\n");
    QTest::newRow("Unicode separators")
        << QStringLiteral("a\u2029b\u2028c") << QStringLiteral("a\r\nb\r\nc");
    QTest::newRow("no break") << QStringLiteral("abc") << QStringLiteral("abc");
}

void TestBoxText::crlfLineBreaks()
{
    QFETCH(QString, text);
    QFETCH(QString, display);
    QCOMPARE(boxtext::crlfLineBreaks(text), display);
}

void TestBoxText::nameOf_data()
{
    QTest::addColumn<QChar>("symbol");
    QTest::addColumn<QChar>("actual");
    QTest::addColumn<QString>("name");

    QTest::newRow("ACK") << QChar(char16_t(0x2406)) << QChar() << QStringLiteral("ACK");
    QTest::newRow("NUL") << QChar(char16_t(0x2400)) << QChar() << QStringLiteral("NUL");
    QTest::newRow("DEL") << QChar(char16_t(0x2421)) << QChar() << QStringLiteral("DEL");
    QTest::newRow("81 in a log") << boxtext::kNoGlyph << QChar(char16_t(0x81))
                                 << QStringLiteral("81");
    QTest::newRow("9D in a log") << boxtext::kNoGlyph << QChar(char16_t(0x9D))
                                 << QStringLiteral("9D");
    QTest::newRow("a real U+FFFD") << boxtext::kNoGlyph << boxtext::kNoGlyph << QString();
    QTest::newRow("a letter") << QChar(u'A') << QChar(u'A') << QString();
    QTest::newRow("line break") << QChar(QChar::ParagraphSeparator) << QChar() << QString();
}

void TestBoxText::nameOf()
{
    QFETCH(QChar, symbol);
    QFETCH(QChar, actual);
    QFETCH(QString, name);
    QCOMPARE(boxtext::nameOf(symbol, actual), name);
    QCOMPARE(boxtext::isNamed(symbol), symbol == boxtext::kNoGlyph || !name.isEmpty());
}

void TestBoxText::fittingUnits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("room");
    QTest::addColumn<int>("units");

    QTest::newRow("all fits") << QStringLiteral("abc") << 3 << 3;
    QTest::newRow("cut") << QStringLiteral("abcdef") << 4 << 4;
    QTest::newRow("no room") << QStringLiteral("abc") << 0 << 0;
    // "c", CR LF, "d" from a paste of "c\r\nde\r\nfgh" into four characters of room.
    QTest::newRow("CR LF counts two") << QStringLiteral("c\r\nde\r\nfgh") << 4 << 4;
    QTest::newRow("CR LF never halved") << QStringLiteral("c\r\nd") << 2 << 1;
    QTest::newRow("surrogate pair is one character") << QStringLiteral("a\U0001F600b") << 2 << 3;
    QTest::newRow("surrogate pair never halved") << QStringLiteral("\U0001F600") << 1 << 2;
    // A lone high surrogate is a character of its own, as the line counts it ('?').
    QTest::newRow("lone high surrogate counts one")
        << QString(QChar(char16_t(0xD800))) + QStringLiteral("ab") << 2 << 2;
    QTest::newRow("lone CR counts one") << QStringLiteral("\rx") << 1 << 1;
}

void TestBoxText::fittingUnits()
{
    QFETCH(QString, text);
    QFETCH(int, room);
    QFETCH(int, units);
    QCOMPARE(boxtext::fittingUnits(text, room), qsizetype(units));
}

void TestBoxText::encodableOnly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");

    QTest::newRow("Latin-1 and the euro") << QStringLiteral("Olá €") << QStringLiteral("Olá €");
    QTest::newRow("Polish letters left out") << QStringLiteral("łódź") << QStringLiteral("ód");
    QTest::newRow("emoji left out whole") << QStringLiteral("a\U0001F600b") << QStringLiteral("ab");
    QTest::newRow("question mark kept") << QStringLiteral("?") << QStringLiteral("?");
    // A lone high surrogate is no character the line carries; what follows it still is.
    QTest::newRow("lone high surrogate before a letter")
        << (QString(QChar(char16_t(0xD83D))) + u'a') << QStringLiteral("a");
}

void TestBoxText::encodableOnly()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QCOMPARE(boxtext::encodableOnly(typed), kept);
}

void TestBoxText::lineBreaks_data()
{
    // Every symbol is 1 wide, a W 3 (a named cell); '|' marks where a line begins.
    QTest::addColumn<QString>("wrapped");
    QTest::addColumn<qreal>("width");
    QTest::newRow("fits exactly") << QStringLiteral("abc") << 3.0;
    QTest::newRow("a word that does not fit moves down whole")
        << QStringLiteral("ab cd |ef") << 5.0;
    QTest::newRow("blanks hang at the end, never start a line")
        << QStringLiteral("ab   |cd") << 2.0;
    QTest::newRow("a word longer than a line is cut") << QStringLiteral("abcd|efgh|i") << 4.0;
    QTest::newRow("moved down, then cut") << QStringLiteral("a |bcd|ef") << 3.0;
    QTest::newRow("wide cells") << QStringLiteral("aW |aW |W") << 4.0;
    QTest::newRow("a hex log") << QStringLiteral(" 6 6 15 |41 6 6 6 |6") << 8.0;
    QTest::newRow("no room: a symbol a line, never an empty one") << QStringLiteral("a|b|c") << 0.0;
}

void TestBoxText::lineBreaks()
{
    QFETCH(QString, wrapped);
    QFETCH(qreal, width);
    QList<qsizetype> expected;
    for (qsizetype i = wrapped.indexOf(u'|'); i >= 0; i = wrapped.indexOf(u'|', i + 1))
        expected.append(i - expected.size());
    const QString symbols = QString(wrapped).remove(u'|');
    QCOMPARE(boxtext::lineBreaks(symbols, width, [](QChar c) { return c == u'W' ? 3.0 : 1.0; }),
             expected);
}

QTEST_GUILESS_MAIN(TestBoxText)
#include "tst_boxtext.moc"
