#include "core/book/book_document.h"
#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/print/book_paginator.h"
#include "ui/print/print_job.h"
#include "ui/reader/reader_window.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// Editing in the reader's one text area: keys, the input method, the clipboard, dragging,
// undo, find; and printing's pages straight from the document.
class TestBookEditing : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<DialogsScope> m_dialogs;
    std::unique_ptr<TMainForm> m_form;

    TMainForm& openEditing(const QByteArray& bytes) {
        const QString path = m_dir.filePath(QStringLiteral("book.boo"));
        TestFiles::write(path, bytes);
        m_form->resize(640, 480);
        m_form->openBook(path);
        [[maybe_unused]] const bool shown = QTest::qWaitForWindowExposed(m_form.get());
        m_form->ToolButton7Click();
        m_form->View->setFocus();
        return *m_form;
    }
    QString text() const { return m_form->View->book()->wholeText(); }
    // Letters as the keyboard sends them, Russian ones too.
    void type(const QString& letters) {
        for (const QChar ch : letters) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(m_form->View, &press);
        }
    }

    // The keys of a script: "k:Name" a key, "t:text" typed text, "c:" a Ctrl chord.
    void press(const QString& step) {
        BookView* view = m_form->View;
        const QString arg = step.mid(2);
        if (step.startsWith(QLatin1String("t:"))) {
            type(arg);
            return;
        }
        static const QHash<QString, Qt::Key> keys{
            {QStringLiteral("Backspace"), Qt::Key_Backspace},
            {QStringLiteral("Delete"), Qt::Key_Delete},
            {QStringLiteral("Enter"), Qt::Key_Return},
            {QStringLiteral("Tab"), Qt::Key_Tab},
            {QStringLiteral("Insert"), Qt::Key_Insert},
            {QStringLiteral("Home"), Qt::Key_Home},
            {QStringLiteral("End"), Qt::Key_End},
            {QStringLiteral("Left"), Qt::Key_Left},
            {QStringLiteral("Right"), Qt::Key_Right},
            {QStringLiteral("Z"), Qt::Key_Z},
            {QStringLiteral("Y"), Qt::Key_Y},
            {QStringLiteral("X"), Qt::Key_X},
            {QStringLiteral("C"), Qt::Key_C},
            {QStringLiteral("V"), Qt::Key_V},
            {QStringLiteral("A"), Qt::Key_A},
        };
        Qt::KeyboardModifiers mods;
        QString name = arg;
        if (name.startsWith(QLatin1String("Ctrl+"))) {
            mods |= Qt::ControlModifier;
            name = name.mid(5);
        }
        if (name.startsWith(QLatin1String("Shift+"))) {
            mods |= Qt::ShiftModifier;
            name = name.mid(6);
        }
        QTest::keyClick(view, keys.value(name), mods);
    }

private Q_SLOTS:
    void init() {
        m_dialogs = std::make_unique<DialogsScope>();
        m_form = std::make_unique<TMainForm>();
    }
    void cleanup() { m_form.reset(); }

    // Each editing key as a plain-text editor does it; the caret panel and the text after.
    void keysEdit_data() {
        QTest::addColumn<QByteArray>("book");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("caret");
        QTest::newRow("typing Russian")
            << QByteArray("ab") << QStringList{"k:End", "t:жук"} << QStringLiteral("abжук") << 5;
        QTest::newRow("Enter is CR LF")
            << QByteArray("abcd") << QStringList{"k:Right", "k:Right", "k:Enter"}
            << QStringLiteral("ab\r\ncd") << 4;
        QTest::newRow("Backspace across a line start")
            << QByteArray("ab\r\ncd") << QStringList{"k:Ctrl+End", "k:Home", "k:Backspace"}
            << QStringLiteral("abcd") << 2;
        QTest::newRow("Delete at a line end joins")
            << QByteArray("ab\r\ncd") << QStringList{"k:End", "k:Delete"} << QStringLiteral("abcd")
            << 2;
        QTest::newRow("Ctrl+Backspace takes a word")
            << QByteArray("one two three") << QStringList{"k:End", "k:Ctrl+Backspace"}
            << QStringLiteral("one two ") << 8;
        QTest::newRow("Ctrl+Delete takes a word")
            << QByteArray("one two three") << QStringList{"k:Ctrl+Delete"}
            << QStringLiteral("two three") << 0;
        QTest::newRow("Tab is a tab")
            << QByteArray("x") << QStringList{"k:Tab"} << QStringLiteral("\tx") << 1;
        QTest::newRow("Insert overwrites")
            << QByteArray("abcd") << QStringList{"k:Insert", "t:XY", "k:Insert", "t:z"}
            << QStringLiteral("XYzcd") << 3;
        QTest::newRow("typing over a selection")
            << QByteArray("abcd") << QStringList{"k:Shift+Right", "k:Shift+Right", "t:Я"}
            << QStringLiteral("Яcd") << 1;
        QTest::newRow("a run of typing is one undo step")
            << QByteArray("ab") << QStringList{"k:End", "t:cde", "k:Ctrl+Z"} << QStringLiteral("ab")
            << 2;
        QTest::newRow("redo with Ctrl+Y and Ctrl+Shift+Z")
            << QByteArray("ab")
            << QStringList{"t:1", "k:Ctrl+Z", "k:Ctrl+Y", "k:Ctrl+Z", "k:Ctrl+Shift+Z"}
            << QStringLiteral("1ab") << 1;
        QTest::newRow("cut and paste")
            << QByteArray("abcd") << QStringList{"k:Shift+Right", "k:Ctrl+X", "k:End", "k:Ctrl+V"}
            << QStringLiteral("bcda") << 4;
    }
    void keysEdit() {
        QFETCH(QByteArray, book);
        QFETCH(QStringList, steps);
        QFETCH(QString, result);
        QFETCH(int, caret);
        TMainForm& form = openEditing(book);
        for (const QString& step : steps)
            press(step);
        QCOMPARE(text(), result);
        QCOMPARE(form.View->caret(), qsizetype(caret));
        const int line = int(result.left(caret).count(QLatin1Char('\n')));
        const int column = int(caret - (result.lastIndexOf(QLatin1Char('\n'), caret - 1) + 1));
        QCOMPARE(form.StatusBar->panelText(0),
                 QString::asprintf("Строка: %3d   Символ: %3d", line + 1, column + 1));
        QCOMPARE(form.View->book()->isModified(),
                 text() != QString::fromLatin1(book) || form.View->canUndo());
    }

    // Viewing takes no edit; the same keys edit once editing, and the tool bar's undo
    // takes the step back.
    void viewingTakesNoEditAndUndoButtonUndoes() {
        TMainForm& form = openEditing("text");
        form.ToolButton7Click();
        QVERIFY(form.viewing());
        QTest::keyClicks(form.View, QStringLiteral("x"));
        QTest::keyClick(form.View, Qt::Key_Delete);
        QCOMPARE(text(), QStringLiteral("text"));
        form.ToolButton7Click();
        type(QStringLiteral("но"));
        QVERIFY(form.UndoButton->isEnabled());
        form.UndoButtonClick();
        QCOMPARE(text(), QStringLiteral("text"));
        QVERIFY(!form.View->book()->isModified());
    }

    // While editing, assistive technology sees an editable text and edits through it.
    void accessibleEditableText() {
        TMainForm& form = openEditing("abc\r\ndef");
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(form.View);
        QVERIFY(a->state().editable && !a->state().readOnly);
        QAccessibleEditableTextInterface* edit = a->editableTextInterface();
        QVERIFY(edit);
        edit->replaceText(1, 2, QStringLiteral("Б"));
        edit->insertText(5, QStringLiteral("x"));
        edit->deleteText(0, 1);
        QCOMPARE(text(), QStringLiteral("Бc\r\nxdef"));
        QCOMPARE(a->textInterface()->characterCount(), 8);
        form.ToolButton7Click();
        QVERIFY(a->state().readOnly && !a->state().editable);
        QVERIFY(!a->editableTextInterface());
    }

    // Dead keys and composed letters come through the input method.
    void inputMethodCommitsLetters() {
        TMainForm& form = openEditing("ab");
        QVERIFY(form.View->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(static_cast<QWidget*>(form.View)->inputMethodQuery(Qt::ImEnabled).toBool());
        QInputMethodEvent preedit(QStringLiteral("´"), {});
        QApplication::sendEvent(form.View, &preedit);
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("é"));
        QApplication::sendEvent(form.View, &commit);
        QCOMPARE(text(), QStringLiteral("éab"));
        form.ToolButton7Click();
        QVERIFY(!static_cast<QWidget*>(form.View)->inputMethodQuery(Qt::ImEnabled).toBool());
    }

    // Copy and paste keep no-break spaces; a paste of several paragraphs is one step.
    void pasteKeepsNoBreakSpacesAndIsOneStep() {
        TMainForm& form = openEditing("end");
        QGuiApplication::clipboard()->setText(QStringLiteral("1\u00A0000\nвторая\r\nтретья\r"));
        form.N3Click();
        QCOMPARE(text(), QStringLiteral("1\u00A0000\r\nвторая\r\nтретья\r\nend"));
        QCOMPARE(form.View->book()->paragraphCount(), 4);
        form.View->select(0, 5);
        form.N2Click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1\u00A0000"));
        form.UndoButtonClick();
        QCOMPARE(text(), QStringLiteral("end"));
    }

    // Dragging the selection moves it; with Ctrl held, copies it. Either is one step.
    void draggingMovesOrCopies() {
        for (const bool copy : {false, true}) {
            TMainForm& form = openEditing("alpha beta gamma");
            BookView* view = form.View;
            view->select(0, 5);
            QAccessibleTextInterface* t =
                QAccessible::queryAccessibleInterface(view)->textInterface();
            const auto at = [&](int offset) {
                const QRect r = t->characterRect(offset);
                return view->viewport()->mapFromGlobal(QPoint(r.left() + 1, r.center().y()));
            };
            const QPoint from = at(2);
            const QPoint to = at(16) + QPoint(20, 0); // past the last letter
            QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, QPointF(to),
                             view->viewport()->mapToGlobal(QPointF(to)), Qt::NoButton,
                             Qt::LeftButton, {});
            QApplication::sendEvent(view->viewport(), &move);
            QTest::mouseRelease(view->viewport(), Qt::LeftButton,
                                copy ? Qt::ControlModifier : Qt::KeyboardModifiers(), to);
            QCOMPARE(text(), copy ? QStringLiteral("alpha beta gammaalpha")
                                  : QStringLiteral(" beta gammaalpha"));
            QCOMPARE(view->selectedText(), QStringLiteral("alpha"));
            form.UndoButtonClick();
            QCOMPARE(text(), QStringLiteral("alpha beta gamma"));
            init();
        }
    }

    // Find in editing mode reads the edited text; the place found is the view's own.
    void findWhileEditing() {
        TMainForm& form = openEditing("first line\r\nsecond line");
        QTest::keyClick(form.View, Qt::Key_End, Qt::ControlModifier);
        type(QStringLiteral(" искомое"));
        form.View->setSelectionStart(0);
        form.FindDialog1->setFindText(QStringLiteral("ИСКОМОЕ"));
        form.FindDialog1Find();
        QCOMPARE(form.View->selectionStart(), qsizetype(24));
        QCOMPARE(form.View->selectedText(), QStringLiteral("искомое"));
        QVERIFY(!form.viewing());
        form.FindDialog1Find(); // nothing further: the selection stays
        QCOMPARE(form.View->selectionStart(), qsizetype(24));
    }

    // Switching modes moves nothing: the top line, the caret, the line number.
    void switchingModesMovesNothing() {
        QByteArray bytes;
        for (int i = 0; i < 2000; ++i)
            bytes += "paragraph " + QByteArray::number(i) + " with some words to wrap around\r\n";
        TMainForm& form = openEditing(bytes);
        form.ToolButton7Click();
        form.View->scrollOffsetToTop(bytes.indexOf("paragraph 900"));
        form.View->select(bytes.indexOf("paragraph 905"), bytes.indexOf("paragraph 905") + 9);
        const int top = form.firstVisibleOffset();
        const QString panel = form.StatusBar->panelText(0);
        for (int i = 0; i < 2; ++i) {
            form.ToolButton7Click();
            QCOMPARE(form.firstVisibleOffset(), top);
            QCOMPARE(form.StatusBar->panelText(0), panel);
            QCOMPARE(form.View->selectedText(), QStringLiteral("paragraph"));
        }
    }

    // Pages from the document: every line once, in order; a range and copies choose and
    // repeat pages as asked, collated or not, reversed or not.
    void printedPagesFollowTheOptions_data() {
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("collate");
        QTest::addColumn<bool>("reversed");
        QTest::addColumn<QString>("range");
        QTest::newRow("all") << 1 << false << false << QString();
        QTest::newRow("a range") << 1 << false << false << QStringLiteral("2-3,5");
        QTest::newRow("copies collated") << 2 << true << false << QStringLiteral("1-2");
        QTest::newRow("copies uncollated") << 2 << false << false << QStringLiteral("1-2");
        QTest::newRow("reversed") << 1 << false << true << QStringLiteral("1-3");
        QTest::newRow("reversed copies collated") << 2 << true << true << QStringLiteral("2-3");
    }
    void printedPagesFollowTheOptions() {
        QFETCH(int, copies);
        QFETCH(bool, collate);
        QFETCH(bool, reversed);
        QFETCH(QString, range);
        // A generated book: paragraphs of random lengths, one very long, some empty.
        QRandomGenerator random(5);
        QString text;
        for (int p = 0; p < 300; ++p) {
            const int words = p == 150 ? 6000 : int(random.bounded(30));
            for (int w = 0; w < words; ++w)
                text += QStringLiteral("слово%1 ").arg(random.bounded(1000));
            text += QStringLiteral("\r\n");
        }
        const BookDocument book = BookDocument::fromText(text);
        QImage device(600, 800, QImage::Format_RGB32);
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(14);
        BookPaginator paginator(book, font, &device, QSizeF(600, 800));
        // The pages in order: each line fits, every character once.
        std::vector<int> lineCounts;
        QString laid;
        BookPaginator::Position at;
        while (!paginator.atEnd(at)) {
            const auto lines = paginator.compose(at);
            QVERIFY(!lines.empty());
            qreal bottom = 0;
            for (const auto& line : lines) {
                const QTextLine l = line.layout->lineAt(line.line);
                bottom = line.y + l.height();
                laid += line.layout->text().mid(l.textStart(), l.textLength());
                if (line.line + 1 == line.layout->lineCount())
                    laid += QLatin1Char('|'); // a segment's end
            }
            QVERIFY(bottom <= 800 || lines.size() == 1);
            lineCounts.push_back(int(lines.size()));
        }
        const int pages = int(lineCounts.size());
        QVERIFY(pages > 10);
        QString expected = text;
        expected.remove(QStringLiteral("\r\n"));
        QCOMPARE(laid.remove(QLatin1Char('|')), expected);

        struct Recorder : PrintJob::Output {
            std::vector<int> numbers;
            void draw(int number, const std::vector<BookPaginator::Line>&) override {
                numbers.push_back(number);
            }
            bool goOn(int) override { return true; }
        } recorder;
        PrintJob::Options options;
        options.copies = copies;
        options.collate = collate;
        options.reversed = reversed;
        if (!range.isEmpty())
            options.ranges = QPageRanges::fromString(range);
        BookPaginator again(book, font, &device, QSizeF(600, 800));
        QVERIFY(PrintJob::run(again, recorder, options));
        // The reference: the chosen pages, reversed if asked, copies as asked.
        std::vector<int> chosen;
        for (int n = 1; n <= pages; ++n)
            if (range.isEmpty() || options.ranges.contains(n))
                chosen.push_back(n);
        if (reversed)
            std::reverse(chosen.begin(), chosen.end());
        std::vector<int> want;
        if (collate)
            for (int c = 0; c < copies; ++c)
                want.insert(want.end(), chosen.begin(), chosen.end());
        else
            for (const int n : chosen)
                want.insert(want.end(), size_t(copies), n);
        QCOMPARE(recorder.numbers, want);
    }

    // A stop asked for before a page ends the job there.
    void aStoppedJobEndsAtThePage() {
        const BookDocument book = BookDocument::fromText(
            QString(20000, QChar(u'ж')).replace(100, 1, QStringLiteral("\r\n")));
        QImage device(300, 200, QImage::Format_RGB32);
        BookPaginator paginator(book, QFont(), &device, QSizeF(300, 200));
        struct Stopper : PrintJob::Output {
            int drawn = 0;
            void draw(int, const std::vector<BookPaginator::Line>&) override { ++drawn; }
            bool goOn(int printed) override { return printed < 3; }
        } stopper;
        QVERIFY(!PrintJob::run(paginator, stopper, {}));
        QCOMPARE(stopper.drawn, 3);
    }
};

QTEST_MAIN(TestBookEditing)
#include "test_book_editing.moc"
