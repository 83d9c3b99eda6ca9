#include "app/widgets/countbox.h"
#include "app/widgets/framepacer.h"

#include <QTest>

class TestCountBox : public QObject
{
    Q_OBJECT

private slots:
    void countNowShownAtRefresh_data();
    void countNowShownAtRefresh();
};

void TestCountBox::countNowShownAtRefresh_data()
{
    // Between a count and its refresh, something else happens to the box.
    QTest::addColumn<QString>("between"); // "", "key" or "set"
    QTest::addColumn<QString>("shown");
    QTest::newRow("nothing: the count shows at the refresh") << QString() << QStringLiteral("13");
    QTest::newRow("a key: the user edits the count")
        << QStringLiteral("key") << QStringLiteral("130");
    QTest::newRow("a text set: it stays") << QStringLiteral("set") << QStringLiteral("x");
}

void TestCountBox::countNowShownAtRefresh()
{
    QFETCH(QString, between);
    QFETCH(QString, shown);
    CountBox box(QStringLiteral("0"));
    box.show();
    box.setCount(QStringLiteral("12"));
    box.setCount(QStringLiteral("13"));
    QCOMPARE(box.count(), QStringLiteral("13")); // for the next block, at once
    QCOMPARE(box.text(), QStringLiteral("0"));   // on screen at the refresh
    if (between == u"key") {
        box.setFocus();
        QTest::keyClick(&box, Qt::Key_End);
        QTest::keyClicks(&box, QStringLiteral("0"));
    } else if (between == u"set") {
        box.setText(QStringLiteral("x"));
    }
    QTest::qWait(int(2 * FramePacer::instance().longest().count()));
    QCOMPARE(box.text(), shown);
    QCOMPARE(box.count(), shown);
}

QTEST_MAIN(TestCountBox)
#include "tst_countbox.moc"
