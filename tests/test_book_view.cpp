#include "core/book/book_text.h"
#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/reader/reader_window.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

// The reading view in the real reader window: what it shows, read as a screen reader
// reads it, and how it answers the mouse, the keyboard and the switch to editing.
class TestBookView : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<DialogsScope> m_dialogs;
    std::unique_ptr<TMainForm> m_form;

    QString book(const QByteArray& bytes, const QString& name = QStringLiteral("book.boo")) {
        const QString path = m_dir.filePath(name);
        TestFiles::write(path, bytes);
        return path;
    }
    TMainForm& open(const QByteArray& bytes) {
        m_form->resize(640, 480);
        m_form->openBook(book(bytes));
        [[maybe_unused]] const bool shown = QTest::qWaitForWindowExposed(m_form.get());
        m_form->View->setFocus();
        return *m_form;
    }
    QAccessibleTextInterface* text() {
        return QAccessible::queryAccessibleInterface(m_form->View)->textInterface();
    }
    QString shown() { return text()->text(0, text()->characterCount()); }
    std::pair<int, int> selection() {
        int start = text()->cursorPosition();
        int end = start;
        if (text()->selectionCount() > 0)
            text()->selection(0, &start, &end);
        return {start, end};
    }
    // A point inside the character, in the view's viewport.
    QPoint pointOf(int offset, qreal across = 0.25) {
        const QRect r = text()->characterRect(offset);
        const QPoint global(r.left() + int(r.width() * across), r.center().y());
        return m_form->View->viewport()->mapFromGlobal(global);
    }
    struct Line {
        int start;
        int end;
        QString text;
    };
    QList<Line> displayLines() {
        QList<Line> lines;
        for (int at = 0; at < text()->characterCount() || lines.isEmpty();) {
            Line line;
            line.text = text()->textAtOffset(at, QAccessible::LineBoundary, &line.start, &line.end);
            lines << line;
            if (line.end <= at)
                break;
            at = line.end;
        }
        return lines;
    }

private Q_SLOTS:
    void init() {
        m_dialogs = std::make_unique<DialogsScope>();
        m_form = std::make_unique<TMainForm>();
    }
    void cleanup() {
        m_form.reset();
        m_dialogs.reset();
    }

    // The view and the editor count offsets alike: finding a word in viewing mode and
    // switching to editing selects the same characters in the editor.
    void offsetsAgreeWithTheEditor_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n\r\nthree target end");
        QTest::newRow("lone LF") << QByteArray("one\ntwo\n\nthree target end");
        QTest::newRow("lone CR") << QByteArray("one\rtwo\r\rthree target end");
        QTest::newRow("mixed") << QByteArray("a\r\r\nb\n\rc\r\nd target");
        QTest::newRow("tabs") << QByteArray("\tone\t\ttwo\r\n\tthree\ttarget");
        QTest::newRow("NUL") << QByteArray("a\0b\r\nc target", 14);
        QByteArray paragraph;
        for (int i = 0; paragraph.size() < 20000; ++i)
            paragraph += "word" + QByteArray::number(i) + ' ';
        QTest::newRow("long paragraphs")
            << QByteArray("first\n" + paragraph + "\n" + paragraph + " target\r\nlast");
    }
    void offsetsAgreeWithTheEditor() {
        QFETCH(QByteArray, bytes);
        TMainForm& form = open(bytes);
        RichTextEditor editor;
        editor.setGuessEncoding(false);
        editor.LoadFile(m_dir.filePath(QStringLiteral("book.boo")));
        QCOMPARE(shown(), editor.WholeText());
        form.FindDialog1->setFindText(QStringLiteral("target"));
        form.FindDialog1Find();
        const auto [start, end] = selection();
        QCOMPARE(start, int(editor.WholeText().indexOf(QStringLiteral("target"))));
        QCOMPARE(end, start + 6);
        form.ToolButton7Click();
        QVERIFY(!form.viewing());
        QCOMPARE(form.Editor->selectionStart(), start);
        QCOMPARE(form.Editor->selectedText(), QStringLiteral("target"));
        form.ToolButton7Click();
        QCOMPARE(selection(), std::make_pair(start, end));
    }

    // Switching modes keeps the first visible line, the caret and the selection, and
    // the edited text, unsaved edits and all.
    void modeSwitchesKeepThePlaceAndTheSelection() {
        QByteArray bytes;
        for (int i = 0; i < 3000; ++i)
            bytes += "line " + QByteArray::number(i) + "\r\n";
        TMainForm& form = open(bytes);
        const int line1000 = int(bytes.indexOf("line 1000\r\n"));
        form.View->scrollOffsetToTop(line1000);
        text()->setSelection(0, line1000 + 25, line1000 + 40);
        form.ToolButton7Click();
        QVERIFY(form.Editor->isVisible() && form.Editor == form.View);
        QCOMPARE(form.Editor->firstVisibleOffset(), line1000);
        QCOMPARE(form.Editor->selectionStart(), line1000 + 25);
        QCOMPARE(form.Editor->selectionLength(), 15);

        form.Editor->setSelectionStart(0);
        form.Editor->insertText(QStringLiteral("правка "));
        form.Editor->setSelectionStart(line1000 + 7);
        form.Editor->setSelectionLength(4);
        form.Editor->scrollOffsetToTop(line1000 + 7);
        form.ToolButton7Click();
        QVERIFY(form.View->isVisible());
        QVERIFY(shown().startsWith(QStringLiteral("правка line 0\r\n")));
        QCOMPARE(form.firstVisibleOffset(), line1000 + 7);
        QCOMPARE(selection(), std::make_pair(line1000 + 7, line1000 + 11));
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка: 1001   Символ:   1"));

        // The edit is still unsaved, and still in the book.
        form.ToolButton7Click();
        QVERIFY(form.Editor->book()->isModified());
        QVERIFY(form.Editor->book()->wholeText().startsWith(QStringLiteral("правка line 0")));
        QCOMPARE(TestFiles::read(m_dir.filePath(QStringLiteral("book.boo"))), bytes);
    }

    // A paragraph of 40,000 characters wraps like a short one: each of its lines is as
    // full as a line of a short paragraph can be, with no break before the edge.
    void aLongParagraphWrapsOnlyAtTheEdge() {
        QByteArray words;
        for (int i = 0; words.size() < 40000; ++i)
            words += "слово" + QByteArray::number(i * 7919 % 10000) + ' ';
        const QByteArray paragraph = TestFiles::cp1251(QString::fromUtf8(words));
        TMainForm& form = open("short paragraph\r\n" + paragraph + "\r\nend");
        QFont font = form.View->font();
        font.setKerning(false);
        const QFontMetricsF metrics(font);
        // Once the lines are counted (a piece shown before may have ended short).
        QTRY_VERIFY(form.View->linesCounted());
        const qreal width = form.View->viewport()->width() - 8;
        const qreal longestWord = metrics.horizontalAdvance(QStringLiteral("слово0000 "));
        const QList<Line> lines = displayLines();
        QString joined;
        int inParagraph = 0;
        for (const Line& line : lines) {
            joined += line.text;
            const QString ink = line.text.trimmed();
            QVERIFY2(metrics.horizontalAdvance(ink) <= width + 1, qPrintable(ink));
            if (line.text.endsWith(QStringLiteral("\r\n")) || line.end == text()->characterCount())
                continue;
            ++inParagraph;
            QVERIFY2(metrics.horizontalAdvance(line.text) > width - longestWord,
                     qPrintable(QStringLiteral("a short line at %1: %2").arg(line.start).arg(ink)));
        }
        QCOMPARE(joined, shown());
        const qreal total = metrics.horizontalAdvance(QString::fromUtf8(words));
        QVERIFY(inParagraph >= int(total / width) - 1);
        QVERIFY(inParagraph <= int(total / (width - longestWord)) + 1);
    }

    void emptyAndOneCharacterBooks_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one character") << TestFiles::cp1251(QStringLiteral("я"));
        QTest::newRow("one line break") << QByteArray("\r\n");
    }
    void emptyAndOneCharacterBooks() {
        QFETCH(QByteArray, bytes);
        TMainForm& form = open(bytes);
        const QString expected = Cp1251Text(bytes);
        QCOMPARE(shown(), expected);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка:   1   Символ:   1"));
        for (const auto key : {Qt::Key_Right, Qt::Key_End, Qt::Key_PageDown, Qt::Key_Down,
                               Qt::Key_Up, Qt::Key_PageUp, Qt::Key_Left, Qt::Key_Home})
            QTest::keyClick(form.View, key, Qt::ShiftModifier);
        QTest::keyClick(form.View, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(selection().first, int(expected.size()));
        QTest::keyClick(form.View, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selection(), std::make_pair(0, int(expected.size())));
        QApplication::clipboard()->clear();
        QTest::keyClick(form.View, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), expected);
        QTest::mouseClick(form.View->viewport(), Qt::LeftButton, {}, QPoint(300, 300));
        QTest::mouseDClick(form.View->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        form.View->verticalScrollBar()->setValue(1);
        form.View->viewport()->repaint();
        QCOMPARE(form.firstVisibleOffset(), 0);
    }

    // The view holds what it read: a file changed or removed meanwhile changes nothing
    // on screen, and editing starts from the text shown.
    void aBookChangedOrRemovedWhileShown() {
        QByteArray bytes;
        for (int i = 0; i < 500; ++i)
            bytes += TestFiles::cp1251(QStringLiteral("строка %1\r\n").arg(i));
        TMainForm& form = open(bytes);
        const QString before = shown();
        const QString path = m_dir.filePath(QStringLiteral("book.boo"));
        TestFiles::write(path, "x");
        QTest::keyClick(form.View, Qt::Key_End, Qt::ControlModifier);
        form.View->viewport()->repaint();
        QCOMPARE(shown(), before);
        QFile::remove(path);
        QTest::keyClick(form.View, Qt::Key_PageUp);
        form.View->viewport()->repaint();
        form.FindDialog1->setFindText(QStringLiteral("строка 7"));
        form.FindDialog1->findChild<QAbstractButton*>(QStringLiteral("up"))->setChecked(true);
        form.FindDialog1Find();
        QCOMPARE(selection().first, int(before.lastIndexOf(QStringLiteral("строка 7"))));
        form.ToolButton7Click();
        QCOMPARE(form.Editor->book()->wholeText(), before);
    }

    void mouseAndKeyboard() {
        TMainForm& form = open(TestFiles::cp1251(
            QStringLiteral("Первая строка книги.\r\nВторая строка, подлиннее первой.\r\nТретья.")));
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const QString all = shown();
        const int second = int(all.indexOf(QStringLiteral("Вторая")));
        QTest::mouseClick(form.View->viewport(), Qt::LeftButton, {}, pointOf(second + 3));
        QCOMPARE(selection(), std::make_pair(second + 3, second + 3));
        // A drag selects from where it started to where it ends.
        QTest::mousePress(form.View->viewport(), Qt::LeftButton, {}, pointOf(second));
        QTest::mouseMove(form.View->viewport(), pointOf(second + 13));
        QTest::mouseRelease(form.View->viewport(), Qt::LeftButton, {}, pointOf(second + 13));
        QCOMPARE(text()->text(selection().first, selection().second),
                 QStringLiteral("Вторая строка"));
        // A double-click selects the word.
        QTest::mouseDClick(form.View->viewport(), Qt::LeftButton, {}, pointOf(second + 9));
        QCOMPARE(text()->text(selection().first, selection().second), QStringLiteral("строка"));
        QApplication::clipboard()->clear();
        QTest::keyClick(form.View, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("строка"));
        // Right after a line's end comes the next line's start, the line break skipped.
        QTest::keyClick(form.View, Qt::Key_End);
        QTest::keyClick(form.View, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(text()->text(selection().first, selection().second), QStringLiteral("\r\n"));
        QTest::keyClick(form.View, Qt::Key_Left, Qt::ControlModifier);
        QCOMPARE(selection().first, int(all.indexOf(QStringLiteral("первой."))));
        QTest::keyClick(form.View, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(selection().first, int(all.indexOf(QStringLiteral("Третья"))));
        // Nothing typed changes the text, and there is no context menu.
        QTest::keyClicks(form.View, QStringLiteral("abc"));
        QTest::keyClick(form.View, Qt::Key_Backspace);
        QTest::keyClick(form.View, Qt::Key_Return);
        QCOMPARE(shown(), all);
        QTest::mouseClick(form.View->viewport(), Qt::RightButton, {}, pointOf(2));
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
    }

    void pagesAndTheScrollBar() {
        QByteArray bytes;
        for (int i = 0; i < 5000; ++i)
            bytes += "line " + QByteArray::number(i) + "\r\n";
        TMainForm& form = open(bytes);
        const int rows = form.View->visibleLineCount();
        QTest::keyClick(form.View, Qt::Key_PageDown);
        const int top = form.firstVisibleOffset();
        QCOMPARE(top, int(bytes.indexOf("line " + QByteArray::number(rows - 1) + "\r\n")));
        QVERIFY(text()->cursorPosition() >= top);
        QTest::keyClick(form.View, Qt::Key_PageUp);
        QCOMPARE(form.firstVisibleOffset(), 0);
        // The scroll bar runs over the whole book: its middle is the book's middle.
        QScrollBar* bar = form.View->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        const int middle = form.firstVisibleOffset();
        QVERIFY(qAbs(middle - bar->maximum() / 2) < 12);
        QVERIFY(bar->maximum() > bytes.size() * 9 / 10);
        QTest::keyClick(form.View, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка: 5001   Символ:   1"));
        QVERIFY(!text()->characterRect(int(bytes.size()) - 3).isEmpty()); // on screen
    }

    // The line above the top one is never drawn: after paging down, and in a paragraph
    // scrolled part way, the margin above the first line is bare.
    void nothingShowsAboveTheTopLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("short paragraphs") << QByteArray("\xf0\xf3 \xf0\xf3 \xf0\xf3\r\n");
        QTest::newRow("one long paragraph") << QByteArray("\xf0\xf3 \xf0\xf3 \xf0\xf3 ");
    }
    void nothingShowsAboveTheTopLine() {
        QFETCH(QByteArray, line);
        TMainForm& form = open(line.repeated(20000));
        QTest::keyClick(form.View, Qt::Key_PageDown);
        QVERIFY(form.firstVisibleOffset() > 0);
        const QImage image = form.View->viewport()->grab().toImage();
        const QColor background = form.View->backgroundColour();
        int inked = 0;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < image.width(); ++x)
                inked += image.pixelColor(x, y) != background;
        QCOMPARE(inked, 0);
    }

    // While the view has no focus its selection is not drawn.
    void theSelectionIsHiddenWithoutFocus() {
        TMainForm& form = open("selected words here");
        QVERIFY(QTest::qWaitForWindowActive(&form));
        text()->setSelection(0, 0, 14);
        const QColor highlight = form.View->palette().color(QPalette::Active, QPalette::Highlight);
        const auto highlighted = [&] {
            const QImage image = form.View->viewport()->grab().toImage();
            int count = 0;
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 200; ++x)
                    count += image.pixelColor(x, y) == highlight;
            return count;
        };
        QVERIFY(form.View->hasFocus());
        QVERIFY(highlighted() > 100);
        auto* other = new QLineEdit(&form);
        other->show();
        other->setFocus();
        QVERIFY(!form.View->hasFocus());
        QCOMPARE(highlighted(), 0);
        form.View->setFocus();
        QVERIFY(highlighted() > 100);
    }

    // A screen reader reads the words, the lines and the paragraphs around the caret,
    // finds each character on screen, and follows the caret and the selection.
    void accessibleTextAndExtents() {
        TMainForm& form =
            open(TestFiles::cp1251(QStringLiteral("Первое слово.\r\nВторой абзац здесь.")));
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(form.View);
        QVERIFY(view->state().readOnly && view->state().multiLine && !view->state().editable);
        QCOMPARE(view->role(), QAccessible::EditableText);
        int start = 0;
        int end = 0;
        QCOMPARE(text()->textAtOffset(9, QAccessible::WordBoundary, &start, &end),
                 QStringLiteral("слово"));
        QCOMPARE(std::make_pair(start, end), std::make_pair(7, 12));
        QCOMPARE(text()->textAtOffset(2, QAccessible::ParagraphBoundary, &start, &end),
                 QStringLiteral("Первое слово.\r\n"));
        QCOMPARE(text()->textAfterOffset(2, QAccessible::ParagraphBoundary, &start, &end),
                 QStringLiteral("Второй абзац здесь."));
        QCOMPARE(text()->textBeforeOffset(20, QAccessible::LineBoundary, &start, &end),
                 QStringLiteral("Первое слово.\r\n"));
        QCOMPARE(text()->textAtOffset(13, QAccessible::CharBoundary, &start, &end),
                 QStringLiteral("\r\n"));
        for (int offset : {0, 5, 16, 30}) {
            const QRect rect = text()->characterRect(offset);
            QVERIFY(!rect.isEmpty());
            QCOMPARE(text()->offsetAtPoint(rect.center() - QPoint(rect.width() / 4, 0)), offset);
        }
        QCOMPARE(text()->offsetAtPoint(form.View->viewport()->mapToGlobal(QPoint(10, 400))), -1);

        // The caret, moved by the keyboard, as the screen reader asks for it.
        text()->setCursorPosition(2);
        QTest::keyClick(form.View, Qt::Key_Down);
        QCOMPARE(text()->cursorPosition(), 17);
        QTest::keyClick(form.View, Qt::Key_Right, Qt::ShiftModifier);
        text()->selection(0, &start, &end);
        QCOMPARE(std::make_pair(start, end), std::make_pair(17, 18));
        text()->removeSelection(0);
        QCOMPARE(text()->selectionCount(), 0);
    }

    // A place found by the search opens selected, in the middle of the view.
    void openingAtASearchHitCentresIt() {
        QByteArray bytes;
        for (int i = 0; i < 3000; ++i)
            bytes += "line " + QByteArray::number(i) + "\r\n";
        m_form->resize(640, 480);
        const int at = int(bytes.indexOf("line 2000\r\n"));
        m_form->openBookAt(book(bytes), at, 9);
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QCOMPARE(selection(), std::make_pair(at, at + 9));
        const QRect rect = text()->characterRect(at);
        const QRect view(m_form->View->viewport()->mapToGlobal(QPoint(0, 0)),
                         m_form->View->viewport()->size());
        QVERIFY(qAbs(rect.center().y() - view.center().y()) < rect.height() * 2);
        QCOMPARE(m_form->StatusBar->panelText(0), QStringLiteral("Строка: 2001   Символ:   1"));
    }

private:
    static QString Cp1251Text(const QByteArray& bytes) {
        return BookText::fromBytes(bytes).wholeText();
    }
};

QTEST_MAIN(TestBookView)
#include "test_book_view.moc"
