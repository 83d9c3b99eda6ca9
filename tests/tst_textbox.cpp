#include "app/widgets/controlnames.h"
#include "app/widgets/qttexts.h"
#include "app/widgets/textbox.h"
#include "testkit/exacttexts.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

// Drops reach the box through the same call as a paste.
class DropTarget : public TextBox
{
public:
    using TextBox::insertFromMimeData;
    using TextBox::TextBox;
};

class TestTextBox : public QObject
{
    Q_OBJECT

private slots:
    void menuSpeaksPortuguese();
    void readsBackExactly_data();
    void readsBackExactly();
    void enterInsertsCrLf();
    void typingStopsAtLimit();
    void enterNeedsRoomForTwo();
    void pasteCutToRoom();
    void undoRespectsLimit();
    void inputMethodRespectsLimit();
    void controlNamesFitTheirCells();
    void onlyWhatTheLineCarries();
};

void TestTextBox::readsBackExactly_data()
{
    addExactTexts();
}

void TestTextBox::readsBackExactly()
{
    QFETCH(QString, text);
    TextBox box;
    box.setText(text);
    QCOMPARE(box.text(), text);
    box.setText(text + text);
    QCOMPARE(box.text(), text + text);
}

void TestTextBox::enterInsertsCrLf()
{
    TextBox box;
    box.show();
    box.setFocus();
    QTest::keyClicks(&box, QStringLiteral("ab"));
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClicks(&box, QStringLiteral("cº"));
    QCOMPARE(box.text(), QStringLiteral("ab\r\ncº"));
    QCOMPARE(box.blockCount(), 2); // shown as a line break
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClick(&box, Qt::Key_Backspace); // the break goes as a whole
    QCOMPARE(box.text(), QStringLiteral("ab"));
}

void TestTextBox::typingStopsAtLimit()
{
    TextBox box;
    box.setMaxLength(5);
    box.show();
    QTest::keyClicks(&box, QStringLiteral("abcdefg"));
    QCOMPARE(box.text(), QStringLiteral("abcde"));
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClicks(&box, QStringLiteral("xy"));
    QCOMPARE(box.text(), QStringLiteral("abcdx"));
}

void TestTextBox::enterNeedsRoomForTwo()
{
    TextBox box;
    box.setMaxLength(5);
    box.show();
    QTest::keyClicks(&box, QStringLiteral("abcd"));
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(box.text(), QStringLiteral("abcd"));
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(box.text(), QStringLiteral("abc\r\n"));
}

void TestTextBox::pasteCutToRoom()
{
    TextBox box;
    box.setMaxLength(6);
    box.show();
    QTest::keyClicks(&box, QStringLiteral("ab"));
    QApplication::clipboard()->setText(QStringLiteral("c\nde\nfgh"));
    if (QApplication::clipboard()->text() != QStringLiteral("c\nde\nfgh"))
        QSKIP("No clipboard on this platform");
    box.paste();
    // "c", CR LF, "d": four more characters; the CR LF is never cut in half.
    QCOMPARE(box.text(), QStringLiteral("abc\r\nd"));

    DropTarget other;
    other.setMaxLength(4);
    QMimeData mime;
    mime.setText(QStringLiteral("abc\r\nd"));
    other.insertFromMimeData(&mime);
    QCOMPARE(other.text(), QStringLiteral("abc"));
}

void TestTextBox::undoRespectsLimit()
{
    TextBox box;
    box.setMaxLength(4);
    box.show();
    QTest::keyClicks(&box, QStringLiteral("abcd"));
    box.selectAll();
    QTest::keyClicks(&box, QStringLiteral("x"));
    QCOMPARE(box.text(), QStringLiteral("x"));
    box.undo();
    QVERIFY(box.text().size() <= 4);
    QCOMPARE(box.text(), box.document()->toRawText());
}

void TestTextBox::inputMethodRespectsLimit()
{
    TextBox box;
    box.setMaxLength(3);
    box.show();
    QTest::keyClicks(&box, QStringLiteral("ab"));
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("cd"));
    QApplication::sendEvent(&box, &commit);
    QCOMPARE(box.text(), QStringLiteral("ab"));
    QTRY_COMPARE(box.document()->toRawText(), QStringLiteral("ab"));
    QTest::keyClicks(&box, QStringLiteral("c"));
    QCOMPARE(box.text(), QStringLiteral("abc"));
}

void TestTextBox::controlNamesFitTheirCells()
{
    // Each control character's cell is widened to its drawn name ("ACK"), so names never
    // overlap each other or the text around them.
    TextBox box;
    box.resize(400, 100);
    box.show();
    box.setText(QStringLiteral("a\x06\x15") + QChar(u'\0') + QStringLiteral("b"));
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const auto cell = [&box](int i) {
        const QTextLine line = box.document()->firstBlock().layout()->lineAt(0);
        return line.isValid() ? line.cursorToX(i + 1) - line.cursorToX(i) : 0.0; // laid out yet?
    };
    const QStringList expected{QStringLiteral("ACK"), QStringLiteral("NAK"), QStringLiteral("NUL")};
    const auto namesFit = [&] {
        for (int i = 1; i <= 3; ++i) {
            const qreal name
                = QFontMetricsF(controlnames::font(box.font())).horizontalAdvance(expected[i - 1]);
            if (cell(i) < name)
                return false;
        }
        return true;
    };
    QVERIFY(namesFit());
    // The text itself is untouched by how it is shown.
    QCOMPARE(box.text(), QStringLiteral("a\x06\x15") + QChar(u'\0') + QStringLiteral("b"));

    // A new font widens the cells anew; a key typed after a name is as wide as itself, not
    // as the name's cell.
    QFont larger = box.font();
    larger.setPixelSize(QFontInfo(box.font()).pixelSize() * 2);
    box.setFont(larger);
    QTRY_VERIFY(namesFit());
    QTextCursor afterAck = box.textCursor();
    afterAck.setPosition(2);
    box.setTextCursor(afterAck);
    QTest::keyClicks(&box, QStringLiteral("i"));
    QTRY_COMPARE(cell(2), QFontMetricsF(box.font()).horizontalAdvance(u'i'));
}

void TestTextBox::onlyWhatTheLineCarries()
{
    TextBox box;
    box.setMaxLength(80);
    box.setCodePageOnly(true);
    box.show();
    for (const QString &typed : {QStringLiteral("a"), QStringLiteral("Ж"), QStringLiteral("€")}) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
        QApplication::sendEvent(&box, &key);
    }
    QCOMPARE(box.text(), QStringLiteral("a€")); // refused, as the 81st character is

    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("中b"));
    QApplication::sendEvent(&box, &commit);
    QCOMPARE(box.text(), QStringLiteral("a€b"));

    // Pasted: shown as the line will carry it.
    DropTarget pasted;
    pasted.setCodePageOnly(true);
    QMimeData mime;
    mime.setText(QStringLiteral("Привет e\u0301 \U0001F600 º"));
    pasted.insertFromMimeData(&mime);
    QCOMPARE(pasted.text(), QStringLiteral("?????? e? ? º"));
    QCOMPARE(pasted.document()->toRawText(), pasted.text());
}

void TestTextBox::menuSpeaksPortuguese()
{
    // Qt's own menu for a text box, in the window's language.
    QtTexts texts;
    QCoreApplication::installTranslator(&texts);
    TextBox box;
    const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
    QStringList shown;
    for (const QAction *a : menu->actions())
        shown << a->text().section(u'\t', 0, 0);
    QCoreApplication::removeTranslator(&texts);
    QCOMPARE(shown.filter(QStringLiteral("&Copiar")).size(), 1);
    QCOMPARE(shown.filter(QStringLiteral("Selecionar tudo")).size(), 1);
}

QTEST_MAIN(TestTextBox)
#include "tst_textbox.moc"
