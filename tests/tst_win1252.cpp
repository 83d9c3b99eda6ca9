#include "text/win1252.h"

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
    void mnemonic_data();
    void mnemonic();
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
    QTest::newRow("cyrillic") << QStringLiteral("Жa") << QByteArray("?a");
    QTest::newRow("combining accent") << QStringLiteral("e\u0301") << QByteArray("e?");
    QTest::newRow("question mark itself") << QStringLiteral("?") << QByteArray("?");
}

void TestWin1252::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(win1252::encode(text), bytes);
    QCOMPARE(win1252::length(text), bytes.size());
    // What the text box keeps of a text is exactly what the line carries.
    const QString carried = win1252::fitToCodePage(text);
    QCOMPARE(win1252::decode(bytes), carried);
    QCOMPARE(win1252::encode(carried), bytes);
}

void TestWin1252::mnemonic_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("name");
    QTest::newRow("NUL") << 0x00 << QStringLiteral("NUL");
    QTest::newRow("ACK") << 0x06 << QStringLiteral("ACK");
    QTest::newRow("LF") << 0x0A << QStringLiteral("LF");
    QTest::newRow("CR") << 0x0D << QStringLiteral("CR");
    QTest::newRow("NAK") << 0x15 << QStringLiteral("NAK");
    QTest::newRow("ESC") << 0x1B << QStringLiteral("ESC");
    QTest::newRow("US") << 0x1F << QStringLiteral("US");
    QTest::newRow("DEL") << 0x7F << QStringLiteral("DEL");
    QTest::newRow("undefined 81") << 0x81 << QStringLiteral("81");
    QTest::newRow("undefined 9D") << 0x9D << QStringLiteral("9D");
}

void TestWin1252::mnemonic()
{
    QFETCH(int, byte);
    QFETCH(QString, name);
    QCOMPARE(win1252::mnemonic(uchar(byte)), name);
}

QTEST_GUILESS_MAIN(TestWin1252)
#include "tst_win1252.moc"
