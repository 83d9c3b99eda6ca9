#include "protocol/frames.h"
#include "text/win1252.h"

#include <QTest>

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void textFrame_data();
    void textFrame();
    void lengthByteLimit_data();
    void lengthByteLimit();
    void commandFrames();
};

void TestFrames::textFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wrong");
    QTest::addColumn<QByteArray>("frame");

    const QString sample = QStringLiteral(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN ");
    const QByteArray sampleBytes(" TEXTE DO DISPLAY TECLADO RM 62 VORLAN ");
    const QByteArray eighty = QByteArray("0123456789").repeated(8);

    QTest::newRow("sample") << sample << false << QByteArray("\xA5\x27") + sampleBytes;
    QTest::newRow("sample, wrong length") << sample << true << QByteArray("\xA5\x28") + sampleBytes;
    QTest::newRow("empty") << QString() << false << QByteArray("\xA5\x00", 2);
    QTest::newRow("empty, wrong length") << QString() << true << QByteArray("\xA5\x01");
    QTest::newRow("eighty") << QString::fromLatin1(eighty) << false
                            << QByteArray("\xA5\x50") + eighty;
    QTest::newRow("eighty, wrong length")
        << QString::fromLatin1(eighty) << true << QByteArray("\xA5\x51") + eighty;
    QTest::newRow("ordinal is one byte") << QStringLiteral("1º") << false
                                         << QByteArray("\xA5\x02"
                                                       "1\xBA");
    QTest::newRow("line break is CR LF") << QStringLiteral("a\r\nb") << false
                                         << QByteArray("\xA5\x04"
                                                       "a\r\nb");
    QTest::newRow("blanks kept") << QStringLiteral("  ") << false << QByteArray("\xA5\x02  ");
    QTest::newRow("missing character") << QStringLiteral("ł") << false << QByteArray("\xA5\x01?");
}

void TestFrames::textFrame()
{
    QFETCH(QString, text);
    QFETCH(bool, wrong);
    QFETCH(QByteArray, frame);
    QCOMPARE(frames::text(win1252::encode(text), wrong), frame);
}

void TestFrames::lengthByteLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("wrong");
    QTest::addColumn<int>("lengthByte"); // -1: no frame

    QTest::newRow("255") << 255 << false << 255;
    QTest::newRow("256") << 256 << false << -1;
    QTest::newRow("254, wrong length") << 254 << true << 255;
    QTest::newRow("255, wrong length") << 255 << true << -1;
}

void TestFrames::lengthByteLimit()
{
    QFETCH(int, length);
    QFETCH(bool, wrong);
    QFETCH(int, lengthByte);
    const QByteArray frame = frames::text(QByteArray(length, 'x'), wrong);
    if (lengthByte < 0) {
        QVERIFY(frame.isEmpty());
        QVERIFY(length > frames::maxTextLength(wrong));
        return;
    }
    QCOMPARE(frame.size(), 2 + length);
    QCOMPARE(uchar(frame.at(1)), uchar(lengthByte));
}

void TestFrames::commandFrames()
{
    QCOMPARE(frames::command(frames::Command::Clear), QByteArray("\xA0\x01"));
    QCOMPARE(frames::command(frames::Command::Line1), QByteArray("\xA0\x80"));
    QCOMPARE(frames::command(frames::Command::Line2), QByteArray("\xA0\xC0"));
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
