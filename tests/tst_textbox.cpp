#include "app/widgets/controlnames.h"
#include "app/widgets/qttexts.h"
#include "app/widgets/steadyscrollbar.h"
#include "app/widgets/textbox.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
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
    void logShowsControlCharacters();
    void logAppendKeepsText();
    void enterInsertsCrLf();
    void typingStopsAtLimit();
    void enterNeedsRoomForTwo();
    void pasteCutToRoom();
    void undoRespectsLimit();
    void inputMethodRespectsLimit();
    void userEditOfLogKeepsControls();
    void controlNamesFitTheirCells();
    void grownLineLooksAsIfSetAtOnce();
    void logFollowsOnlyAtBottom();
    void scrollBarRepaintsOnlyWhatChanged_data();
    void scrollBarRepaintsOnlyWhatChanged();
    void logWrapsAsItGrows_data();
    void logWrapsAsItGrows();
    void onlyWhatTheLineCarries();
};

void TestTextBox::readsBackExactly_data()
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
}

void TestTextBox::readsBackExactly()
{
    QFETCH(QString, text);
    for (const auto mode : {TextBox::Mode::Lines, TextBox::Mode::Log}) {
        TextBox box(mode);
        box.setText(text);
        QCOMPARE(box.text(), text);
        box.setText(text + text); // the appending path
        QCOMPARE(box.text(), text + text);
    }
}

void TestTextBox::logShowsControlCharacters()
{
    TextBox box(TextBox::Mode::Log);
    box.setText(QStringLiteral(" \x06\r\n") + QChar(u'\0') + QChar(char16_t(0x81)));
    box.flushView();
    const QString shown = box.document()->toRawText();
    QCOMPARE(shown.size(), 6); // one visible symbol per character, nothing dropped
    QCOMPARE(shown, QStringLiteral(" \u2406\u240D\u240A\u2400\uFFFD"));
}

void TestTextBox::logAppendKeepsText()
{
    TextBox box(TextBox::Mode::Log);
    box.setText(QStringLiteral(" 6"));
    box.setText(QStringLiteral(" 6 15"));
    QCOMPARE(box.text(), QStringLiteral(" 6 15"));                      // at once
    QTRY_COMPARE(box.document()->toRawText(), QStringLiteral(" 6 15")); // by the next frame
    box.setText(QStringLiteral(" 41"));
    QCOMPARE(box.document()->toRawText(), QStringLiteral(" 41"));
    QCOMPARE(box.text(), QStringLiteral(" 41"));
}

void TestTextBox::enterInsertsCrLf()
{
    TextBox box(TextBox::Mode::Lines);
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
    TextBox box(TextBox::Mode::Lines);
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
    TextBox box(TextBox::Mode::Lines);
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
    TextBox box(TextBox::Mode::Lines);
    box.setMaxLength(6);
    box.show();
    QTest::keyClicks(&box, QStringLiteral("ab"));
    QApplication::clipboard()->setText(QStringLiteral("c\nde\nfgh"));
    if (QApplication::clipboard()->text() != QStringLiteral("c\nde\nfgh"))
        QSKIP("No clipboard on this platform");
    box.paste();
    // "c", CR LF, "d": four more characters; the CR LF is never cut in half.
    QCOMPARE(box.text(), QStringLiteral("abc\r\nd"));

    DropTarget other(TextBox::Mode::Lines);
    other.setMaxLength(4);
    QMimeData mime;
    mime.setText(QStringLiteral("abc\r\nd"));
    other.insertFromMimeData(&mime);
    QCOMPARE(other.text(), QStringLiteral("abc"));
}

void TestTextBox::undoRespectsLimit()
{
    TextBox box(TextBox::Mode::Lines);
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
    TextBox box(TextBox::Mode::Lines);
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

void TestTextBox::userEditOfLogKeepsControls()
{
    TextBox box(TextBox::Mode::Log);
    box.show();
    box.setText(QStringLiteral(" \x06"));
    box.setText(QStringLiteral(" \x06")
                + QChar(u'\0')); // typing comes before the screen catches up
    box.moveCursor(QTextCursor::End);
    QTest::keyClicks(&box, QStringLiteral("z"));
    QCOMPARE(box.text(), QStringLiteral(" \x06") + QChar(u'\0') + QStringLiteral("z"));
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(box.text().right(2), QStringLiteral("\r\n"));
    box.moveCursor(QTextCursor::Start);
    QTest::keyClick(&box, Qt::Key_Delete);
    QCOMPARE(box.text(), QStringLiteral("\x06") + QChar(u'\0') + QStringLiteral("z\r\n"));
}

void TestTextBox::controlNamesFitTheirCells()
{
    // Each control character's cell is widened to its drawn name ("ACK"), so names never
    // overlap each other or the text around them.
    TextBox box(TextBox::Mode::Log);
    box.resize(400, 100);
    box.show();
    box.setText(QStringLiteral("a\x06\x15") + QChar(u'\0') + QStringLiteral("b"));
    box.flushView();
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

void TestTextBox::grownLineLooksAsIfSetAtOnce()
{
    // The names a line had are kept as it grows, where they were.
    const QChar bytes[]
        = {QChar(0x06), u'a', QChar(0x15), QChar(0), QChar(0x06), u'b', QChar(0x06)};
    const QString text(bytes, std::size(bytes));
    TextBox grown(TextBox::Mode::Log);
    TextBox whole(TextBox::Mode::Log);
    for (TextBox *box : {&grown, &whole}) {
        box->setFocusPolicy(Qt::NoFocus);
        box->resize(300, 80);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box));
    }
    for (qsizetype length : {2, 3, 6, 7}) {
        grown.setText(text.left(length));
        grown.flushView();
        grown.grab();
    }
    whole.setText(text);
    whole.flushView();
    QCOMPARE(grown.grab().toImage(), whole.grab().toImage());
}

void TestTextBox::logFollowsOnlyAtBottom()
{
    TextBox box(TextBox::Mode::Log);
    box.resize(120, 60);
    box.show();
    QString text;
    for (int i = 0; i < 60; ++i)
        text += QStringLiteral(" 41");
    box.setText(text);
    box.flushView();
    QScrollBar *bar = box.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);

    // At the bottom: new bytes are followed.
    bar->setValue(bar->maximum());
    text += QStringLiteral(" 42").repeated(20);
    box.setText(text);
    box.flushView();
    QCOMPARE(bar->value(), bar->maximum());

    // Scrolled up to read: the view stays where the user put it.
    bar->setValue(0);
    text += QStringLiteral(" 43").repeated(20);
    box.setText(text);
    box.flushView();
    QCOMPARE(bar->value(), 0);
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

void TestTextBox::scrollBarRepaintsOnlyWhatChanged_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("repainted");
    // From a range of 0..1000 at 0, a page of 10: the handle is at its shortest.
    QTest::newRow("one more line, same handle") << 1001 << 0 << false;
    QTest::newRow("handle moves") << 1000 << 500 << true;
    QTest::newRow("a few lines, handle grows") << 5 << 0 << true;
    QTest::newRow("at the far end") << 1000 << 1000 << true;
}

void TestTextBox::scrollBarRepaintsOnlyWhatChanged()
{
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(bool, repainted);
    SteadyScrollBar bar(Qt::Vertical);
    bar.resize(16, 200);
    bar.setRange(0, 1000);
    bar.setPageStep(10);
    PaintCounter counter;
    bar.installEventFilter(&counter);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    // Whatever the window system still sends a new window (Wine takes its time) comes first.
    for (int before = -1; before != counter.paints;) {
        before = counter.paints;
        QTest::qWait(200);
    }
    counter.paints = 0;
    bar.setMaximum(maximum);
    bar.setValue(value);
    QTest::qWait(200);
    QCOMPARE(counter.paints > 0, repainted);

    // Painted in bands, it looks as the plain bar does.
    SteadyScrollBar steady(Qt::Vertical);
    QScrollBar plain(Qt::Vertical);
    for (QScrollBar *each : {static_cast<QScrollBar *>(&steady), &plain}) {
        each->resize(16, 200);
        each->setRange(0, maximum);
        each->setPageStep(10);
        each->setValue(value);
    }
    QCOMPARE(steady.grab().toImage(), plain.grab().toImage());
}

static bool eachParagraphOneLine(const TextBox &box)
{
    for (QTextBlock b = box.document()->firstBlock(); b.isValid(); b = b.next()) {
        box.document()->documentLayout()->blockBoundingRect(b); // laid out when first asked
        if (b.layout()->lineCount() != 1)
            return false;
    }
    return true;
}

void TestTextBox::logWrapsAsItGrows_data()
{
    QTest::addColumn<QString>("block"); // received again and again
    QTest::newRow("HEX log") << QStringLiteral(" 6 15");
    QTest::newRow("ASCII log, named cells") << QStringLiteral(" \x06\x15") + QChar(char16_t(0x81));
    QTest::newRow("a word longer than a line") << QStringLiteral(" ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

void TestTextBox::logWrapsAsItGrows()
{
    QFETCH(QString, block);
    TextBox grown(TextBox::Mode::Log);
    TextBox whole(TextBox::Mode::Log);
    QString text;
    for (TextBox *box : {&grown, &whole}) {
        box->resize(120, 80);
        box->show();
    }
    for (int i = 0; i < 40; ++i) {
        text += block;
        grown.setText(text);
        grown.flushView();
    }
    whole.setText(QStringLiteral("x")); // not a beginning of the text: wrapped anew
    whole.setText(text);
    QCOMPARE(grown.text(), text);
    // Appending block by block wraps as wrapping the whole text at once does, and every
    // paragraph is one line on screen.
    QCOMPARE(grown.document()->toRawText(), whole.document()->toRawText());
    QVERIFY(grown.document()->blockCount() > 3);
    QVERIFY(eachParagraphOneLine(grown));

    // A copy takes the characters themselves, without the screen's line ends.
    grown.selectAll();
    grown.copy();
    if (QApplication::clipboard()->text() == QString())
        QSKIP("No clipboard on this platform");
    QCOMPARE(QApplication::clipboard()->text(), text);
    QTextCursor c(grown.document());
    c.setPosition(grown.document()->findBlockByNumber(2).position());
    grown.setTextCursor(c);
    // Backspace at a screen line's start takes the character before it, as in a paragraph.
    QTest::keyClick(&grown, Qt::Key_Backspace);
    QTest::keyClicks(&grown, QStringLiteral("z"));
    const qsizetype at = grown.text().indexOf(u'z');
    QCOMPARE(grown.text(), QString(text).replace(at, 1, u'z'));
    QCoreApplication::processEvents(); // wrapped again once the key is done
    QVERIFY(eachParagraphOneLine(grown));
    QCOMPARE(grown.textCursor().position() - grown.textCursor().block().blockNumber(), at + 1);
}

void TestTextBox::onlyWhatTheLineCarries()
{
    TextBox box(TextBox::Mode::Lines);
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
    DropTarget pasted(TextBox::Mode::Lines);
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
    TextBox box(TextBox::Mode::Log);
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
