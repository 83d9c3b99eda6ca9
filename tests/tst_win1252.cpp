#include "serial/win1252.h"

#include <QStringDecoder>
#include <QTest>

class TestWin1252 : public QObject
{
    Q_OBJECT

private slots:
    void everyByteRoundTrips();
    void agreesWithIcu();
    void encode_data();
    void encode();
};

void TestWin1252::everyByteRoundTrips()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = win1252::decode(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(win1252::encode(text), all);
    QCOMPARE(win1252::length(text), 256);
}

void TestWin1252::agreesWithIcu()
{
    QStringDecoder icu("windows-1252");
    if (!icu.isValid())
        QSKIP("This Qt has no ICU converter for windows-1252");
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        const QString expected = icu.decode(QByteArrayView(&byte, 1));
        // ICU leaves the five undefined bytes out of the code page; Windows maps them to C1.
        if (QList<int>{0x81, 0x8D, 0x8F, 0x90, 0x9D}.contains(b))
            QCOMPARE(win1252::toUnicode(uchar(b)), QChar(char16_t(b)));
        else
            QCOMPARE(QString(win1252::toUnicode(uchar(b))), expected);
    }
}

void TestWin1252::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ascii") << QStringLiteral("Abc 12") << QByteArray("Abc 12");
    QTest::newRow("ordinal") << QStringLiteral("1º") << QByteArray("1\xBA");
    QTest::newRow("euro") << QStringLiteral("€") << QByteArray("\x80");
    QTest::newRow("accents") << QStringLiteral("Código não")
                             << QByteArray("C\xF3"
                                           "digo n\xE3o");
    QTest::newRow("crlf") << QStringLiteral("a\r\nb") << QByteArray("a\r\nb");
    QTest::newRow("nul") << QString(QChar(u'\0')) << QByteArray(1, '\0');
    QTest::newRow("nbsp kept") << QStringLiteral("a\u00A0b")
                               << QByteArray("a\xA0"
                                             "b");
    QTest::newRow("outside the code page") << QStringLiteral("łŁ") << QByteArray("??");
    QTest::newRow("surrogate pair is one character")
        << QStringLiteral("a\U0001F600b") << QByteArray("a?b");
    QTest::newRow("lone surrogate") << QString(QChar(char16_t(0xD800))) << QByteArray("?");
    QTest::newRow("curly quotes") << QStringLiteral("“x”") << QByteArray("\x93x\x94");
}

void TestWin1252::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(win1252::encode(text), bytes);
    QCOMPARE(win1252::length(text), bytes.size());
}

QTEST_GUILESS_MAIN(TestWin1252)
#include "tst_win1252.moc"
