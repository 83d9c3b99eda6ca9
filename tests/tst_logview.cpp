#include "app/widgets/controlnames.h"
#include "app/widgets/framepacer.h"
#include "app/widgets/logview.h"
#include "app/widgets/qttexts.h"
#include "app/widgets/steadyscrollbar.h"
#include "testkit/exacttexts.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTest>

#include <memory>

namespace {

QString bytes(std::initializer_list<char16_t> codes)
{
    QString s;
    for (const char16_t c : codes)
        s += QChar(c);
    return s;
}

// Paints of a widget, and what each repainted.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *watched) { watched->installEventFilter(this); }
    QList<QRect> painted;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted << static_cast<QPaintEvent *>(event)->rect();
        return false;
    }
};

// Waits until the window system has done painting a new window (Wine takes its time).
void settle(const PaintCounter &counter)
{
    for (qsizetype before = -1; before != counter.painted.size();) {
        before = counter.painted.size();
        QTest::qWait(200);
    }
}

bool haveClipboard()
{
    QApplication::clipboard()->setText(QStringLiteral("probe"));
    return QApplication::clipboard()->text() == QStringLiteral("probe");
}

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsBackExactly_data();
    void readsBackExactly();
    void namesForBytesWithoutGlyph_data();
    void namesForBytesWithoutGlyph();
    void copyGivesTheBytes();
    void typing_data();
    void typing();
    void keyboardSelects_data();
    void keyboardSelects();
    void mouseSelects();
    void wrapsAsItGrows_data();
    void wrapsAsItGrows();
    void grownLineLooksAsIfSetAtOnce();
    void followsOnlyAtBottom();
    void repaintsChangedLinesOncePerRefresh();
    void scrollBarRepaintsOnlyWhatChanged_data();
    void scrollBarRepaintsOnlyWhatChanged();
    void menuSpeaksPortuguese();
    void screenReaderReadsTheLog();

private:
    // One of two views shown for the whole suite (a new window takes seconds under Wine),
    // as a new one would be.
    LogView *shown(QSize size, const QString &text = {}, int which = 0);

    std::unique_ptr<LogView> m_views[2];
};

void TestLogView::initTestCase()
{
    for (auto &view : m_views) {
        view = std::make_unique<LogView>();
        view->resize(200, 80);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }
}

LogView *TestLogView::shown(QSize size, const QString &text, int which)
{
    LogView *view = m_views[which].get();
    view->clearFocus();
    view->setAccessibleName(QString());
    view->setText(QString());
    view->resize(size);
    view->setText(text);
    view->flushView();
    return view;
}

void TestLogView::readsBackExactly_data()
{
    addExactTexts();
}

void TestLogView::readsBackExactly()
{
    QFETCH(QString, text);
    const auto view = shown({200, 100});
    view->setText(text);
    QCOMPARE(view->text(), text);
    view->setText(text + text); // appended
    view->append(text);
    QCOMPARE(view->text(), text + text + text);
    view->flushView();
    view->setText(text); // replaced
    QCOMPARE(view->text(), text);
}

void TestLogView::namesForBytesWithoutGlyph_data()
{
    QTest::addColumn<QChar>("byte");
    QTest::addColumn<QString>("name");
    QTest::newRow("ACK") << QChar(0x06) << QStringLiteral("ACK");
    QTest::newRow("NAK") << QChar(0x15) << QStringLiteral("NAK");
    QTest::newRow("NUL") << QChar(0x00) << QStringLiteral("NUL");
    QTest::newRow("CR") << QChar(0x0D) << QStringLiteral("CR");
    QTest::newRow("LF") << QChar(0x0A) << QStringLiteral("LF");
    QTest::newRow("DEL") << QChar(0x7F) << QStringLiteral("DEL");
    QTest::newRow("81, undefined in Windows-1252") << QChar(0x81) << QStringLiteral("81");
    QTest::newRow("9D, undefined in Windows-1252") << QChar(0x9D) << QStringLiteral("9D");
}

void TestLogView::namesForBytesWithoutGlyph()
{
    QFETCH(QChar, byte);
    QFETCH(QString, name);
    const auto view = shown({300, 60}, QStringLiteral("a") + byte + QStringLiteral("b"));
    // The byte's cell holds its name's picture, as wide as the name, and the letters around
    // it are drawn as themselves.
    const QRect cell = view->characterRect(1);
    const QFont names = controlnames::font(view->font());
    QVERIFY(cell.width() >= QFontMetrics(names).horizontalAdvance(name));
    const QImage screen = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage picture
        = controlnames::picture(name, cell.size(), names, view->palette(), 1.0).toImage();
    QCOMPARE(screen.copy(cell), picture.convertToFormat(QImage::Format_RGB32));
    const QImage letter = screen.copy(view->characterRect(2));
    QImage blank(letter.size(), letter.format());
    blank.fill(letter.pixel(0, 0));
    QVERIFY(letter != blank);
    QCOMPARE(view->text(), QStringLiteral("a") + byte + QStringLiteral("b"));
}

void TestLogView::copyGivesTheBytes()
{
    if (!haveClipboard())
        QSKIP("No clipboard on this platform");
    const QString received
        = QStringLiteral(" \x06\r\n") + QChar(u'\0') + QChar(0x81) + QStringLiteral("é 41");
    const auto view = shown({300, 80}, received);
    view->setFocus();
    // As the Windows build's end-to-end suite reads a log, and as a user copies it.
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), received);
    view->setSelection(1, 4);
    view->copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("\x06\r\n"));
    // Bytes appended while a selection is held leave it as it was.
    view->append(QStringLiteral(" 42"));
    QCOMPARE(view->selectedText(), QStringLiteral("\x06\r\n"));
}

void TestLogView::typing_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<QString>("after");
    const auto keys = [](const QString &typed, std::initializer_list<Qt::Key> then = {},
                         Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTestEventList list;
        list.addKeyClicks(typed);
        for (const Qt::Key key : then)
            list.addKeyClick(key, modifiers);
        return list;
    };
    QTest::newRow("typed at the end")
        << QStringLiteral(" 6") << 2 << keys(QStringLiteral("ab")) << QStringLiteral(" 6ab");
    QTest::newRow("Enter is CR LF")
        << QStringLiteral(" 6") << 2 << keys({}, {Qt::Key_Return}) << QStringLiteral(" 6\r\n");
    QTest::newRow("Backspace takes a named byte")
        << bytes({u' ', 0x06, 0x15}) << 3 << keys({}, {Qt::Key_Backspace}) << bytes({u' ', 0x06});
    QTest::newRow("Delete at the start")
        << QStringLiteral(" 41") << 0 << keys({}, {Qt::Key_Delete}) << QStringLiteral("41");
    QTestEventList replace = keys({}, {Qt::Key_Right, Qt::Key_Right}, Qt::ShiftModifier);
    replace.addKeyClicks(QStringLiteral("x"));
    QTest::newRow("selection replaced")
        << QStringLiteral("abcd") << 1 << replace << QStringLiteral("axd");
    QTest::newRow("a surrogate pair whole") << QStringLiteral("a\U0001F600") << 3
                                            << keys({}, {Qt::Key_Backspace}) << QStringLiteral("a");
    QTest::newRow("Ctrl+Backspace takes a word")
        << QStringLiteral(" 41 42") << 6 << keys({}, {Qt::Key_Backspace}, Qt::ControlModifier)
        << QStringLiteral(" 41 ");
}

void TestLogView::typing()
{
    QFETCH(QString, before);
    QFETCH(int, caret);
    QFETCH(QTestEventList, keys);
    QFETCH(QString, after);
    const auto view = shown({200, 80}, before);
    view->setFocus();
    view->setSelection(caret, caret);
    keys.simulate(view);
    QCOMPARE(view->text(), after);
}

void TestLogView::keyboardSelects_data()
{
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<QString>("selected"); // of "ABC DEF GHI JKL MNO PQR", the caret at 0
    QTestEventList list;
    list.addKeyClick(Qt::Key_Right, Qt::ShiftModifier);
    list.addKeyClick(Qt::Key_Right, Qt::ShiftModifier);
    QTest::newRow("Shift+Right twice") << list << QStringLiteral("AB");
    list.clear();
    list.addKeyClick(Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::newRow("Shift+Ctrl+Right") << list << QStringLiteral("ABC ");
    list.clear();
    list.addKeyClick(Qt::Key_Down, Qt::ShiftModifier);
    QTest::newRow("Shift+Down: a screen line") << list << QStringLiteral("ABC DEF ");
    list.clear();
    list.addKeyClick(Qt::Key_End, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::newRow("Shift+Ctrl+End") << list << QStringLiteral("ABC DEF GHI JKL MNO PQR");
    list.clear();
    list.addKeyClick(Qt::Key_End);
    list.addKeyClick(Qt::Key_Left, Qt::ShiftModifier);
    QTest::newRow("End, then Shift+Left") << list << QStringLiteral(" ");
}

void TestLogView::keyboardSelects()
{
    QFETCH(QTestEventList, keys);
    QFETCH(QString, selected);
    // As wide as "ABC DEF " and a letter, whatever the font: the rows above suppose it a line.
    const auto view = shown({100, 80}, QStringLiteral("ABC DEF GHI JKL MNO PQR"));
    const int around = view->width() - view->viewport()->width();
    view->resize(around + QFontMetrics(view->font()).horizontalAdvance(QStringLiteral("ABC DEF G"))
                     + 10,
                 80);
    view->setFocus();
    QCOMPARE(view->lineStarts().value(1), 8);
    QCOMPARE(view->lineStarts().value(2), 16);
    view->setSelection(0, 0);
    keys.simulate(view);
    QCOMPARE(view->selectedText(), selected);
}

void TestLogView::mouseSelects()
{
    const auto view = shown({300, 80}, QStringLiteral("ABC DEF GHI"));
    QWidget *area = view->viewport();
    const auto leftOf = [&](int index) {
        return view->characterRect(index).topLeft() + QPoint(0, 3);
    };
    QTest::mousePress(area, Qt::LeftButton, {}, leftOf(4));
    QTest::mouseMove(area, leftOf(7));
    QTest::mouseRelease(area, Qt::LeftButton, {}, leftOf(7));
    QCOMPARE(view->selectedText(), QStringLiteral("DEF"));
    QTest::mouseClick(area, Qt::LeftButton, Qt::ShiftModifier, leftOf(11));
    QCOMPARE(view->selectedText(), QStringLiteral("DEF GHI"));
    QTest::mouseDClick(area, Qt::LeftButton, {}, leftOf(1));
    QCOMPARE(view->selectedText(), QStringLiteral("ABC"));
    QTest::mouseClick(area, Qt::LeftButton, {}, leftOf(1)); // a third time: the line
    QCOMPARE(view->selectedText(), QStringLiteral("ABC DEF GHI"));
    QTest::mouseClick(area, Qt::LeftButton, {}, QPoint(area->width() - 2, leftOf(0).y()));
    QCOMPARE(view->cursorPosition(), 11); // past the line's end
    QVERIFY(!view->hasSelection());
}

void TestLogView::wrapsAsItGrows_data()
{
    QTest::addColumn<QString>("block"); // received again and again
    QTest::newRow("HEX log") << QStringLiteral(" 6 15");
    QTest::newRow("ASCII log, named cells") << bytes({u' ', 0x06, 0x15, 0x81});
    QTest::newRow("a word longer than a line") << QStringLiteral(" ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

void TestLogView::wrapsAsItGrows()
{
    QFETCH(QString, block);
    const auto grown = shown({120, 80});
    QString text;
    for (int i = 0; i < 40; ++i) {
        text += block;
        grown->setText(text);
        if (i % 3 == 0)
            grown->flushView();
    }
    const auto whole = shown({120, 80}, text, 1);
    // Appending block by block wraps as wrapping the whole text at once does, and every
    // screen line fits the box.
    const QList<qsizetype> starts = grown->lineStarts();
    QCOMPARE(starts, whole->lineStarts());
    QVERIFY(starts.size() > 3);
    const int right = grown->viewport()->width();
    for (qsizetype line = 0; line < starts.size(); ++line) {
        const qsizetype last = (line + 1 < starts.size() ? starts[line + 1] : text.size()) - 1;
        if (text[last] != u' ') // a blank may hang past the end, as in a text box
            QVERIFY2(grown->characterRect(last).right() < right, qPrintable(QString::number(line)));
    }

    // Backspace at a screen line's start takes the character before it, and the lines are
    // wrapped anew.
    grown->setFocus();
    grown->setSelection(starts[2], starts[2]);
    QTest::keyClick(grown, Qt::Key_Backspace);
    QTest::keyClicks(grown, QStringLiteral("z"));
    const QString edited = QString(text).replace(starts[2] - 1, 1, u'z');
    QCOMPARE(grown->text(), edited);
    QCOMPARE(grown->cursorPosition(), starts[2]);
    whole->setText(edited);
    QCOMPARE(grown->lineStarts(), whole->lineStarts());
}

void TestLogView::grownLineLooksAsIfSetAtOnce()
{
    // A line that grows, block by block, keeps what it drew and looks as the same line drawn
    // at once.
    const QString text = bytes({0x06, u'a', 0x15, 0x00, 0x06, u'b', u'c', 0x06, u' ', u'4', u'1'});
    const auto grown = shown({300, 80});
    const auto whole = shown({300, 80}, {}, 1);
    for (const qsizetype length : {2, 3, 6, 7, 9, 11}) {
        grown->setText(text.left(length));
        grown->flushView();
        grown->grab();
    }
    whole->setText(text);
    whole->flushView();
    QCOMPARE(grown->grab().toImage(), whole->grab().toImage());
}

void TestLogView::followsOnlyAtBottom()
{
    const auto view = shown({120, 60});
    QString text = QStringLiteral(" 41").repeated(60);
    view->setText(text);
    view->flushView();
    QScrollBar *bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);

    // At the bottom: new bytes are followed.
    text += QStringLiteral(" 42").repeated(20);
    view->setText(text);
    view->flushView();
    QCOMPARE(bar->value(), bar->maximum());
    const QRect last = view->characterRect(text.size() - 1);
    QVERIFY(view->viewport()->rect().contains(last));

    // Scrolled up to read: the view stays where the user put it.
    bar->setValue(1);
    view->append(QStringLiteral(" 43").repeated(20));
    view->flushView();
    QCOMPARE(bar->value(), 1);
    QCOMPARE(view->characterRect(view->lineStarts()[1]).top(), 0);
}

void TestLogView::repaintsChangedLinesOncePerRefresh()
{
    const auto view = shown({150, 200}, QStringLiteral(" 41").repeated(20));
    PaintCounter counter(view->viewport());
    settle(counter);
    counter.painted.clear();

    // Blocks that come between two refreshes are painted in one, and only the lines they
    // changed: the lines above stay as they were drawn.
    for (int i = 0; i < 5; ++i)
        view->append(QStringLiteral(" 42"));
    QTest::qWait(int(2 * FramePacer::instance().longest().count()));
    QCOMPARE(counter.painted.size(), 1);
    const int firstChanged = view->characterRect(20 * 3).top() - view->lineHeight();
    QVERIFY2(counter.painted.first().top() >= firstChanged,
             qPrintable(QString::number(counter.painted.first().top())));

    // A stream of a block a millisecond: never more than a paint a refresh.
    counter.painted.clear();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 400) {
        view->append(QStringLiteral(" 43"));
        QTest::qWait(1);
    }
    QTest::qWait(int(2 * FramePacer::instance().longest().count()));
    QVERIFY2(counter.painted.size()
                 <= clock.elapsed() / FramePacer::instance().period().count() + 1,
             qPrintable(QString::number(counter.painted.size())));
}

void TestLogView::scrollBarRepaintsOnlyWhatChanged_data()
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

void TestLogView::scrollBarRepaintsOnlyWhatChanged()
{
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(bool, repainted);
    SteadyScrollBar bar(Qt::Vertical);
    bar.resize(16, 200);
    bar.setRange(0, 1000);
    bar.setPageStep(10);
    PaintCounter counter(&bar);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    settle(counter);
    counter.painted.clear();
    bar.setMaximum(maximum);
    bar.setValue(value);
    QTest::qWait(200);
    QCOMPARE(!counter.painted.isEmpty(), repainted);

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

void TestLogView::menuSpeaksPortuguese()
{
    // A text box's menu, in the window's language; what it offers depends on the selection.
    QtTexts texts;
    QCoreApplication::installTranslator(&texts);
    const auto view = shown({200, 80}, QStringLiteral(" 41 42"));
    const auto entries = [&view] {
        const std::unique_ptr<QMenu> menu(view->createStandardContextMenu());
        QStringList shown;
        for (const QAction *a : menu->actions()) {
            if (!a->isSeparator())
                shown << a->text().section(u'\t', 0, 0) + (a->isEnabled() ? u'+' : u'-');
        }
        return shown;
    };
    const QStringList none = entries();
    view->setSelection(1, 3);
    const QStringList some = entries();
    QCoreApplication::removeTranslator(&texts);
    QCOMPARE(none.filter(QStringLiteral("&Copiar-")).size(), 1);
    QCOMPARE(none.filter(QStringLiteral("Selecionar tudo+")).size(), 1);
    QCOMPARE(none.filter(QStringLiteral("&Desfazer-")).size(), 1); // no undo in a log
    QCOMPARE(some.filter(QStringLiteral("&Copiar+")).size(), 1);
    QCOMPARE(some.filter(QStringLiteral("Recor&tar+")).size(), 1);
    QCOMPARE(some.filter(QStringLiteral("Excluir+")).size(), 1);
}

void TestLogView::screenReaderReadsTheLog()
{
    const auto view = shown({200, 80}, bytes({u' ', 0x06, 0x0D, 0x0A, 0x00, 0x81, u'A'}));
    view->setAccessibleName(QStringLiteral("Código ASC"));
    view->setSelection(1, 3);
    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(view);
    QVERIFY(reader);
    QCOMPARE(reader->role(), QAccessible::EditableText);
    QCOMPARE(reader->text(QAccessible::Name), QStringLiteral("Código ASC"));
    // What is shown, a symbol a byte: control pictures, and a mark for a byte without a glyph.
    QCOMPARE(reader->text(QAccessible::Value), QStringLiteral(" \u2406\u240D\u240A\u2400\uFFFDA"));
    QAccessibleTextInterface *text = reader->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 7);
    QCOMPARE(text->cursorPosition(), 3);
    int from = 0, to = 0;
    text->selection(0, &from, &to);
    QCOMPARE(std::pair(from, to), std::pair(1, 3));
    QCOMPARE(text->offsetAtPoint(text->characterRect(6).topLeft() + QPoint(1, 1)), 6);
    reader->editableTextInterface()->insertText(7, QStringLiteral("\u2406"));
    QCOMPARE(view->text().right(1), QString(QChar(0x06))); // what the symbol stands for
}

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
