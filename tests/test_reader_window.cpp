#include "core/base/safe_file.h"
#include "core/book/book_lines.h"
#include "core/library/bulk_import.h"
#include "core/library/library.h"
#include "core/library/reading_state.h"
#include "support/reader_library.h"
#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/bookview/book_view_accessible.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/reader/layout_dialog.h"
#include "ui/reader/reader_navigation.h"
#include "ui/reader/reader_window.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

class TestReaderWindow : public ReaderLibraryTest {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<DialogsScope> m_dialogs;

    QString book(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        TestFiles::write(path, bytes);
        return path;
    }
    TMainForm& open(const QByteArray& text) {
        m_form->openBook(book(QStringLiteral("book.boo"), text));
        [[maybe_unused]] const bool shown = QTest::qWaitForWindowExposed(m_form.get());
        return *m_form;
    }
    void find(const QString& text) {
        QTest::mouseClick(m_form->ToolButton2, Qt::LeftButton);
        QVERIFY(m_form->FindDialog1->isVisible());
        m_form->FindDialog1->setFindText(text);
        QTest::mouseClick(m_form->FindDialog1->findChild<QWidget*>(QStringLiteral("findNext")),
                          Qt::LeftButton);
        QVERIFY(!m_form->FindDialog1->isVisible());
    }
    RecordingDialogs& dialogs() { return **m_dialogs; }

    // Where the reader shows the book: the first visible offset, the caret, panel 0.
    struct Place {
        int top;
        int caret;
        QString panel;
        bool operator==(const Place&) const = default;
    };
    Place place() {
        return {m_form->firstVisibleOffset(), selectionStart(), m_form->StatusBar->panelText(0)};
    }

    // The viewing mode's text, caret and selection, read as a screen reader reads them.
    QAccessibleTextInterface* readable() {
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(m_form->View);
        return view ? view->textInterface() : nullptr;
    }
    QString shown() {
        QAccessibleTextInterface* text = readable();
        return text->text(0, text->characterCount());
    }
    int selectionStart() {
        QAccessibleTextInterface* text = readable();
        int start = text->cursorPosition();
        int end = start;
        if (text->selectionCount() > 0)
            text->selection(0, &start, &end);
        return start;
    }
    int selectionLength() {
        QAccessibleTextInterface* text = readable();
        int start = 0;
        int end = 0;
        if (text->selectionCount() > 0)
            text->selection(0, &start, &end);
        return end - start;
    }
    // The display line of an offset, found by reading the lines one by one from the top.
    int displayLineOf(int offset) {
        QAccessibleTextInterface* text = readable();
        int line = 0;
        for (int at = 0;; ++line) {
            int start = 0;
            int end = 0;
            text->textAtOffset(at, QAccessible::LineBoundary, &start, &end);
            if (offset < end || end >= text->characterCount())
                return line;
            at = end;
        }
    }
    int displayLineStart(int offset) {
        int start = 0;
        int end = 0;
        readable()->textAtOffset(offset, QAccessible::LineBoundary, &start, &end);
        return start;
    }

private Q_SLOTS:
    void init() {
        m_dialogs = std::make_unique<DialogsScope>();
        m_form = std::make_unique<TMainForm>();
        newLibrary();
    }
    void cleanup() {
        m_form.reset();
        m_state.reset();
        m_dialogs.reset();
    }

    void startsHiddenInViewing() {
        TMainForm& form = *m_form;
        QVERIFY(!form.isVisible());
        QCOMPARE(form.windowTitle(), QStringLiteral("Rich Edit Control Demo"));
        QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(form.Editor->isReadOnly());
        QVERIFY(form.Editor == form.View); // one text area for both modes
        QCOMPARE(form.Editor->font().family(), QStringLiteral("Arial"));
        QCOMPARE(form.Editor->font().pixelSize(), 15);
        QCOMPARE(form.modeImage(), 9);
        QVERIFY(!form.saveButtonShown());
        QCOMPARE(form.contextMenu(), nullptr);
        QCOMPARE(form.Editor->contextMenuPolicy(), Qt::NoContextMenu);
        QCOMPARE(form.View->contextMenuPolicy(), Qt::NoContextMenu);
        QCOMPARE(form.View->font().family(), QStringLiteral("Arial"));
        QCOMPARE(form.View->font().pixelSize(), 15);
        QVERIFY(readable());
        QVERIFY(QAccessible::queryAccessibleInterface(form.View)->state().readOnly);
        QVERIFY(form.UndoButton->isEnabled() && form.CutButton->isEnabled() &&
                form.CopyButton->isEnabled());
        QCOMPARE(form.ToolBar1->height(), 29);
        QCOMPARE(form.StatusBar->height(), 19);
        QCOMPARE(form.StatusBar->panel(0)->width(), 150);
        const QStringList hints{form.ToolButton6->toolTip(), form.ToolButton2->toolTip(),
                                form.ToolButton5->toolTip(), form.ToolButton4->toolTip(),
                                form.ToolButton8->toolTip(), form.ToolButton7->toolTip(),
                                form.ToolButton1->toolTip(), form.ToolButton3->toolTip()};
        QCOMPARE(hints, (QStringList{"Назад (Esc)", "Поиск (Ctrl+F)", "Цвет окна (Ctrl+K)",
                                     "Шрифт текста (Ctrl+Shift+F)", "Оформление (Ctrl+L)",
                                     "Редактирование/просмотр (Ctrl+E)",
                                     "Сохранить изменения (Ctrl+S)", "Печать книги (Ctrl+P)"}));
        QStringList captions;
        for (QAction* a : form.PopupMenu1->actions())
            if (!a->isSeparator())
                captions << a->text();
        QCOMPARE(captions, (QStringList{"Отмена", "Вырезать", "Копировать", "Вставить",
                                        "Выделить все", "Вернуться в список книг"}));
        QVERIFY(form.PopupMenu2->actions().isEmpty());
    }

    void openingShowsTheBookMaximised() {
        TMainForm& form = open(TestFiles::cp1251(QStringLiteral("Первая\r\nВторая")));
        QVERIFY(form.isVisible());
        QCOMPARE(shown(), QStringLiteral("Первая\r\nВторая"));
        QVERIFY(form.View->isVisible() && form.Editor == form.View);
        QCOMPARE(form.StatusBar->panelText(1), m_dir.filePath(QStringLiteral("book.boo")));
        form.activateWindow();
        QTRY_VERIFY(form.windowState() & Qt::WindowMaximized);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка:   1   Символ:   1"));
    }

    void caretPositionFollowsDisplayLines() {
        QByteArray text;
        for (int i = 0; i < 1300; ++i)
            text += "line " + QByteArray::number(i) + "\r\n";
        TMainForm& form = open(text);
        const int offset = int(shown().indexOf(QStringLiteral("line 1233"))) + 4;
        readable()->setCursorPosition(offset);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка: 1234   Символ:   5"));
        QVERIFY(!form.CutButton->isEnabled());
        readable()->setSelection(0, offset, offset + 3);
        QVERIFY(form.CutButton->isEnabled() && form.CopyButton->isEnabled());
        // A selection made from right to left reports its left end.
        form.View->select(offset + 3, offset);
        QCOMPARE(selectionStart(), offset);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка: 1234   Символ:   5"));
    }

    void caretPanelOfAFarPlaceInALongLineIsCountedWithoutAFreeze() {
        // One line of 1,200,000 characters: finding its last word does not lay out the
        // whole line at once; the panel shows the place once its lines are counted (on a
        // worker thread), and until then «...», never a wrong number.
        QByteArray line;
        for (int i = 0; line.size() < 1200000; ++i)
            line += "word" + QByteArray::number(i) + ' ';
        line += "last";
        TMainForm& form = open(line);
        form.FindDialog1->setFindText(QStringLiteral("last"));
        form.FindDialog1Find();
        const int last = int(line.size()) - 4;
        QCOMPARE(selectionStart(), last);
        const QString first = form.StatusBar->panelText(0);
        const auto expected = [&] {
            return QString::asprintf("Строка: %3d   Символ: %3d", displayLineOf(last) + 1,
                                     last - displayLineStart(last) + 1);
        };
        QVERIFY(displayLineOf(last) > 100);
        QVERIFY2(first == QStringLiteral("Строка: ...   Символ: ...") || first == expected(),
                 qPrintable(first));
        // (A late resize of the window counts the lines again at the new width.)
        QTRY_VERIFY_WITH_TIMEOUT(!form.StatusBar->panelText(0).contains(QLatin1String("...")),
                                 60000);
        QCOMPARE(form.StatusBar->panelText(0), expected());
        // Near places stay immediate.
        readable()->setCursorPosition(5);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка:   1   Символ:   6"));
    }

    void setFindChoice(const QString& name, bool on) {
        auto* box = m_form->FindDialog1->findChild<QAbstractButton*>(name);
        QVERIFY(box);
        box->setChecked(on);
    }
    QList<int> walk(const QString& wanted, int steps) {
        QList<int> starts;
        for (int i = 0; i < steps; ++i) {
            find(wanted);
            starts << selectionStart();
        }
        return starts;
    }

    void findWalksThroughEveryOccurrenceDownAndUp() {
        // "one" at 0, 8, 13 (after a CR LF) and 17.
        TMainForm& form = open("one two one\r\nOne one");
        QCOMPARE(walk(QStringLiteral("one"), 4), (QList<int>{0, 8, 13, 17}));
        QCOMPARE(selectionLength(), 3);
        QVERIFY(form.View->hasFocus());
        // Past the last one: a beep, the selection stays.
        QCOMPARE(walk(QStringLiteral("one"), 1), QList<int>{17});
        QCOMPARE(dialogs().beeps, 1);
        QCOMPARE(selectionLength(), 3);
        setFindChoice(QStringLiteral("up"), true);
        QCOMPARE(walk(QStringLiteral("one"), 4), (QList<int>{13, 8, 0, 0}));
        QCOMPARE(dialogs().beeps, 2);
    }

    void findHonoursMatchCaseAndWholeWord() {
        TMainForm& form = open("One one bone ones one");
        setFindChoice(QStringLiteral("matchCase"), true);
        QCOMPARE(walk(QStringLiteral("one"), 4), (QList<int>{4, 9, 13, 18}));
        readable()->setCursorPosition(0);
        setFindChoice(QStringLiteral("matchCase"), false);
        setFindChoice(QStringLiteral("wholeWord"), true);
        QCOMPARE(walk(QStringLiteral("ONE"), 3), (QList<int>{0, 4, 18}));
        QCOMPARE(form.FindDialog1->findText(), QStringLiteral("ONE"));
    }

    void viewingModeMovesAndSelectsWithTheKeyboard() {
        TMainForm& form = open("ab\r\ncd\r\nef");
        QVERIFY(form.Editor->isReadOnly());
        form.View->setFocus();
        QTest::keyClick(form.View, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(selectionStart(), 10);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка:   3   Символ:   3"));
        QTest::keyClick(form.View, Qt::Key_Up);
        QCOMPARE(selectionStart(), 6);
        QTest::keyClick(form.View, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(selectionStart(), 5);
        QCOMPARE(selectionLength(), 1);
        QVERIFY(form.CopyButton->isEnabled());
        QTest::keyClick(form.View, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(selectionStart(), 0);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка:   1   Символ:   1"));
        QCOMPARE(shown(), QStringLiteral("ab\r\ncd\r\nef")); // nothing typed
        QTest::keyClicks(form.View, QStringLiteral("x"));
        QTest::keyClick(form.View, Qt::Key_Delete);
        QTest::keyClick(form.View, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(shown(), QStringLiteral("ab\r\ncd\r\nef"));
    }

    void findDialogComesBackWhereItWasClosed() {
        open("text");
        QTest::mouseClick(m_form->ToolButton2, Qt::LeftButton);
        m_form->FindDialog1->move(33, 44);
        m_form->FindDialog1->hide();
        QTest::mouseClick(m_form->ToolButton2, Qt::LeftButton);
        QCOMPARE(m_form->FindDialog1->pos(), QPoint(33, 44));
        // Left open when the reader closes, it goes with the reader and comes back in
        // the same place.
        QTest::keyClick(m_form->View, Qt::Key_Escape);
        QVERIFY(!m_form->isVisible());
        QVERIFY(!m_form->FindDialog1->isVisible());
        open("text");
        QTest::mouseClick(m_form->ToolButton2, Qt::LeftButton);
        QCOMPARE(m_form->FindDialog1->pos(), QPoint(33, 44));
    }

    void findOfMissingTextChangesNothing() {
        open("some text here");
        readable()->setCursorPosition(5);
        find(QStringLiteral("absent"));
        QCOMPARE(selectionStart(), 5);
        QCOMPARE(selectionLength(), 0);
        QVERIFY(dialogs().shown.isEmpty());
        QCOMPARE(dialogs().beeps, 1);
        QCOMPARE(m_form->FindDialog1->textField()->maxLength(), 255);
    }

    void modeCycleSurvivesClosingAndTheNextBook() {
        TMainForm& form = open("first");
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        QVERIFY(!form.Editor->isReadOnly());
        QCOMPARE(form.modeImage(), 12);
        QVERIFY(form.saveButtonShown());
        QCOMPARE(form.contextMenu(), form.PopupMenu1);
        QTest::mouseClick(form.ToolButton6, Qt::LeftButton);
        QVERIFY(!form.isVisible());
        form.openBook(book(QStringLiteral("second.boo"), "second"));
        QVERIFY(!form.Editor->isReadOnly());
        QVERIFY(form.saveButtonShown());
        QCOMPARE(form.Editor->book()->wholeText(), QStringLiteral("second"));
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        QVERIFY(form.Editor->isReadOnly());
        QCOMPARE(form.modeImage(), 9);
        QCOMPARE(form.contextMenu(), form.PopupMenu2);
        form.N2->trigger();
        QVERIFY(!form.isVisible());
    }

    void tabStaysInTheText() {
        TMainForm& form = open("text");
        form.View->setFocus();
        QTest::keyClick(form.View, Qt::Key_Tab);
        QVERIFY(form.View->hasFocus());
        QCOMPARE(shown(), QStringLiteral("text")); // viewing: nothing typed
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        form.Editor->setSelectionStart(0);
        QTest::keyClick(form.Editor, Qt::Key_Tab);
        QVERIFY(form.Editor->hasFocus());
        QCOMPARE(form.Editor->book()->wholeText(), QStringLiteral("\ttext"));
    }

    void savingRewritesThePathInThePanel() {
        TMainForm& form = open("line one\nline two");
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        form.Editor->setSelectionStart(form.Editor->textLength());
        form.Editor->insertText(QStringLiteral("\nновая"));
        QVERIFY(form.Editor->book()->isModified());
        QVERIFY(form.UndoButton->isEnabled());
        QTest::mouseClick(form.ToolButton1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(m_dir.filePath(QStringLiteral("book.boo"))),
                 "line one\r\nline two\r\n" + TestFiles::cp1251(QStringLiteral("новая")));
        QVERIFY(!form.Editor->book()->isModified());
    }

    void savingABookThatIsALinkNeverWritesItsTarget() {
        // The book's file links to a file outside the library: saving replaces the link
        // with the saved book and leaves the outside file byte for byte.
        QTemporaryDir outside;
        const QString target = outside.filePath(QStringLiteral("private.txt"));
        TestFiles::write(target, "outside bytes");
        const QString link = m_dir.filePath(QStringLiteral("linked.boo"));
        QVERIFY(QFile::link(target, link));
        m_form->openBook(link);
        QCOMPARE(shown(), QStringLiteral("outside bytes"));
        QTest::mouseClick(m_form->ToolButton7, Qt::LeftButton);
        m_form->Editor->setSelectionStart(m_form->Editor->textLength());
        m_form->Editor->insertText(QStringLiteral(" and more"));
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QVERIFY(dialogs().texts("error").isEmpty());
        QCOMPARE(TestFiles::read(target), QByteArray("outside bytes"));
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(TestFiles::read(link), QByteArray("outside bytes and more"));
    }

    void failedSaveKeepsTheFileAndTheModifiedFlag() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("b.boo"));
        TestFiles::write(path, "old");
        m_form->openBook(path);
        QTest::mouseClick(m_form->ToolButton7, Qt::LeftButton);
        m_form->Editor->insertText(QStringLiteral("changed "));
        TestFiles::setReadOnly(dir.path(), true);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        TestFiles::setReadOnly(dir.path(), false);
        QCOMPARE(dialogs().texts("error"),
                 QStringList{QStringLiteral("Cannot create file %1.").arg(path)});
        QCOMPARE(TestFiles::read(path), QByteArray("old"));
        QVERIFY(m_form->Editor->book()->isModified());
    }

    // Every tool button has its key, named in its hint, and a name for screen readers.
    void everyToolButtonHasAKey_data() {
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QString>("effect");
        QTest::newRow("find") << QKeySequence(Qt::CTRL | Qt::Key_F) << "find dialog";
        QTest::newRow("find next") << QKeySequence(Qt::Key_F3) << "next";
        QTest::newRow("find previous") << QKeySequence(Qt::SHIFT | Qt::Key_F3) << "previous";
        QTest::newRow("mode") << QKeySequence(Qt::CTRL | Qt::Key_E) << "editing";
        QTest::newRow("save") << QKeySequence(Qt::CTRL | Qt::Key_S) << "saved";
        QTest::newRow("print") << QKeySequence(Qt::CTRL | Qt::Key_P) << "print dialog";
        QTest::newRow("layout") << QKeySequence(Qt::CTRL | Qt::Key_L) << "layout dialog";
        QTest::newRow("colour") << QKeySequence(Qt::CTRL | Qt::Key_K) << "colour dialog";
        QTest::newRow("font") << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F) << "font dialog";
        QTest::newRow("bigger") << QKeySequence(Qt::CTRL | Qt::Key_Plus) << "bigger";
        QTest::newRow("bigger =") << QKeySequence(Qt::CTRL | Qt::Key_Equal) << "bigger";
        QTest::newRow("smaller") << QKeySequence(Qt::CTRL | Qt::Key_Minus) << "smaller";
        QTest::newRow("tool bar") << QKeySequence(Qt::CTRL | Qt::Key_Tab) << "tool bar";
    }
    void everyToolButtonHasAKey() {
        QFETCH(QKeySequence, key);
        QFETCH(QString, effect);
        TMainForm& form = open("one two one two one");
        const QString path = form.StatusBar->panelText(1);
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.FindDialog1->setFindText(QStringLiteral("two"));
        form.View->select(8, 8); // between the two «two»
        const QFont textFont = form.View->font();
        if (effect == QLatin1String("saved")) { // saving is an editing mode's step
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(Qt::CTRL | Qt::Key_E));
            QVERIFY(!form.viewing());
            form.Editor->setSelectionStart(form.Editor->textLength());
            form.Editor->insertText(QStringLiteral(" three"));
        }
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        QTest::keySequence(focus, key);
        if (effect == QLatin1String("find dialog"))
            QVERIFY(form.FindDialog1->isVisible());
        else if (effect == QLatin1String("next"))
            QCOMPARE(selectionStart(), 12);
        else if (effect == QLatin1String("previous"))
            QCOMPARE(selectionStart(), 4);
        else if (effect == QLatin1String("editing")) {
            QVERIFY(!form.viewing());
            QTest::keySequence(QApplication::focusWidget(), key); // from the editor: back
            QVERIFY(form.viewing());
        } else if (effect == QLatin1String("saved"))
            QCOMPARE(TestFiles::read(path), QByteArray("one two one two one three"));
        else if (effect == QLatin1String("print dialog"))
            QCOMPARE(dialogs().printersOffered, 1);
        else if (effect == QLatin1String("layout dialog"))
            QVERIFY(form.LayoutDialog1->isVisible());
        else if (effect == QLatin1String("colour dialog"))
            QVERIFY(dialogs().colourOffered.isValid());
        else if (effect == QLatin1String("font dialog"))
            QCOMPARE(dialogs().fontOffered.font, form.fontDialogChoice().font);
        else if (effect == QLatin1String("bigger") || effect == QLatin1String("smaller")) {
            const bool bigger = effect == QLatin1String("bigger");
            QCOMPARE(form.zoomSteps(), bigger ? 1 : -1);
            QCOMPARE(QFontInfo(form.View->font()).pixelSize() > QFontInfo(textFont).pixelSize(),
                     bigger);
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(Qt::CTRL | Qt::Key_0));
            QCOMPARE(form.zoomSteps(), 0);
            QCOMPARE(QFontInfo(form.View->font()).pixelSize(), QFontInfo(textFont).pixelSize());
        } else if (effect == QLatin1String("tool bar")) {
            // Arrows walk the buttons, Space presses one, Tab goes back to the text.
            QCOMPARE(QApplication::focusWidget(), form.ToolButton6);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left); // round to the last
            QCOMPARE(QApplication::focusWidget(), form.navigation()->bookmarkButton());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
            QCOMPARE(QApplication::focusWidget(), form.ToolButton2);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            QVERIFY(form.FindDialog1->isVisible());
            form.FindDialog1->hide();
            form.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&form));
            form.ToolButton2->setFocus();
            QTest::keyClick(form.ToolButton2, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), form.View);
        } else
            QFAIL("no such effect");

        // The hints name the keys, and the buttons have names of their own.
        for (QToolButton* button : form.ToolBar1->findChildren<QToolButton*>(
                 QRegularExpression(QStringLiteral("^ToolButton")))) {
            QVERIFY2(button->toolTip().endsWith(QLatin1Char(')')), qPrintable(button->toolTip()));
            QVERIFY(!button->accessibleName().isEmpty());
            QVERIFY(button->toolTip().startsWith(button->accessibleName() + QStringLiteral(" (")));
        }
        QCOMPARE(form.ToolButton2->toolTip(), QStringLiteral("Поиск (Ctrl+F)"));
    }

    // Nothing found: a note over the text says so and goes by itself; the panels and the
    // selection stay.
    void nothingFoundIsNotedOverTheText() {
        TMainForm& form = open("one two");
        form.View->select(0, 3);
        const QString panel0 = form.StatusBar->panelText(0);
        const QString panel2 = form.StatusBar->panelText(2);
        find(QStringLiteral("три"));
        QVERIFY(form.NotFoundNote->isVisible());
        QCOMPARE(form.NotFoundNote->text(), QStringLiteral("Не найдено: три"));
        QVERIFY(form.View->geometry().contains(form.NotFoundNote->geometry()));
        QCOMPARE(form.StatusBar->panelText(0), panel0);
        QCOMPARE(form.StatusBar->panelText(2), panel2);
        QCOMPARE(selectionLength(), 3);
        QVERIFY(dialogs().shown.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!form.NotFoundNote->isVisible(), 10000);
        find(QStringLiteral("two")); // found: no note
        QVERIFY(!form.NotFoundNote->isVisible());
    }

    // A message of any window while the reader is up opens above the reader: it belongs
    // to it.
    void aBoxShownOverTheReaderBelongsToIt() {
        QWidget library;
        library.show();
        TMainForm& form = open("text");
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        std::unique_ptr<Dialogs> recording = Dialogs::install(std::make_unique<Dialogs>());
        QWidget* owner = nullptr;
        bool boxShown = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                boxShown = box->isVisible();
                owner = box->parentWidget();
                box->close();
            }
        });
        poll.start(20);
        Dialogs::instance().error(&library, QStringLiteral("Unable to write to x."));
        Dialogs::install(std::move(recording));
        QVERIFY(boxShown);
        QCOMPARE(owner, static_cast<QWidget*>(&form));
        QCOMPARE(Dialogs::owner(&library), static_cast<QWidget*>(&form));
        form.hide();
        QCOMPARE(Dialogs::owner(&library), &library);
    }

    // Edits that cannot be saved are never lost: after a failed save the text can go to
    // another file, and «Отмена» (or declining that) brings the reader back with them.
    void editsThatCannotBeSavedHaveAWayBack_data() {
        QTest::addColumn<Dialogs::Answer>("answer");
        QTest::addColumn<bool>("elsewhere");
        QTest::addColumn<bool>("goesOn");
        QTest::newRow("cancel") << Dialogs::Answer::Cancel << false << false;
        QTest::newRow("yes, failed, kept") << Dialogs::Answer::Yes << false << false;
        QTest::newRow("yes, failed, elsewhere") << Dialogs::Answer::Yes << true << true;
    }
    void editsThatCannotBeSavedHaveAWayBack() {
        QFETCH(Dialogs::Answer, answer);
        QFETCH(bool, elsewhere);
        QFETCH(bool, goesOn);
        restart();
        const QString first = libraryBook(QStringLiteral("Первая"), "first");
        const QString second = libraryBook(QStringLiteral("Вторая"), "second");
        TMainForm& form = openAt(first);
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        form.Editor->setSelectionStart(form.Editor->textLength());
        form.Editor->insertText(QStringLiteral(" правка"));
        form.ToolButton6->click();
        QVERIFY(!form.isVisible());
        dialogs().clear();
        QTemporaryDir outside;
        const QString saved = outside.filePath(QStringLiteral("копия.txt"));
        TestFiles::setReadOnly(libraryFile(QStringLiteral("books")), true);
        dialogs().answers.enqueue(answer);
        dialogs().confirmations.enqueue(elsewhere);
        dialogs().savePaths.enqueue(saved);
        const bool opened = form.openBook(second);
        TestFiles::setReadOnly(libraryFile(QStringLiteral("books")), false);
        QCOMPARE(opened, goesOn);
        QCOMPARE(TestFiles::read(first), QByteArray("first"));
        if (answer == Dialogs::Answer::Yes) {
            QCOMPARE(dialogs().texts("error").size(), 1);
            QCOMPARE(dialogs().texts("confirm"),
                     QStringList{QStringLiteral("Книгу «Первая» сохранить не удалось. Сохранить "
                                                "текст с изменениями в другой файл?")});
        }
        QCOMPARE(QFileInfo::exists(saved), elsewhere);
        if (elsewhere) {
            QCOMPARE(TestFiles::read(saved), QStringLiteral("first правка").toUtf8());
            QCOMPARE(form.StatusBar->panelText(1), second);
            return;
        }
        // The reader is back, with the edited book and its edits.
        QVERIFY(form.isVisible());
        QCOMPARE(form.StatusBar->panelText(1), first);
        QCOMPARE(form.Editor->book()->wholeText(), QStringLiteral("first правка"));
        QVERIFY(form.hasUnsavedEdits());
    }

    // The session's end keeps unsaved edits beside the book; the next opening offers them.
    void editsKeptAtTheSessionsEndAreOfferedAtTheNextOpening_data() {
        QTest::addColumn<Dialogs::Answer>("answer");
        QTest::newRow("restore") << Dialogs::Answer::Yes;
        QTest::newRow("drop") << Dialogs::Answer::No;
        QTest::newRow("later") << Dialogs::Answer::Cancel;
    }
    void editsKeptAtTheSessionsEndAreOfferedAtTheNextOpening() {
        QFETCH(Dialogs::Answer, answer);
        restart();
        const QString path = libraryBook(QStringLiteral("Книга"), "original\r\nsecond line");
        TMainForm& form = openAt(path);
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        form.Editor->setSelectionStart(form.Editor->textLength());
        form.Editor->insertText(QStringLiteral("\nновое"));
        const QString edited = form.Editor->book()->wholeText();
        form.ToolButton6->click(); // the reader hidden, the edits kept in it
        form.keepUnsavedEdits();
        const QString recovery = TMainForm::recoveryPath(path);
        QVERIFY(QFileInfo::exists(recovery));
        QVERIFY(!recovery.endsWith(QStringLiteral(".boo")));
        QCOMPARE(QFileInfo(recovery).dir(), QFileInfo(path).dir());
        // The start's clean-up of leftovers passes it by.
        SafeFile::removeStaleTemporaries(libraryFile(QStringLiteral("books")),
                                         [](const QByteArray&) { return true; });
        Library library;
        library.folder().setProgramFolder(
            QFileInfo(libraryFile(QStringLiteral("books"))).absolutePath() + QLatin1Char('/'));
        BulkImport::removeLeftovers(library);
        QVERIFY(QFileInfo::exists(recovery));

        restart();
        dialogs().clear();
        dialogs().answers.enqueue(answer);
        TMainForm& next = openAt(path);
        QCOMPARE(dialogs().texts("ask"),
                 QStringList{QStringLiteral("Когда сеанс завершался, в книге «Книга» были "
                                            "несохранённые изменения. Они сохранены отдельно. "
                                            "Восстановить их?")});
        QCOMPARE(TestFiles::read(path), QByteArray("original\r\nsecond line"));
        QCOMPARE(QFileInfo::exists(recovery), answer == Dialogs::Answer::Cancel);
        if (answer == Dialogs::Answer::Yes) {
            QVERIFY(!next.viewing());
            QCOMPARE(next.Editor->book()->wholeText(), edited);
            QVERIFY(next.hasUnsavedEdits());
            next.ToolButton1->click();
            QCOMPARE(TestFiles::read(path),
                     QByteArray("original\r\nsecond line\r\n\xED\xEE\xE2\xEE\xE5"));
        } else {
            QVERIFY(!next.hasUnsavedEdits());
            QCOMPARE(shown(), QStringLiteral("original\r\nsecond line"));
        }
        // Without edits, the session's end writes nothing.
        QFile::remove(recovery);
        next.keepUnsavedEdits();
        QVERIFY(!QFileInfo::exists(recovery));
        // Deleting the book deletes what was kept for it.
        TestFiles::write(recovery, "kept");
        next.bookDeleted(path);
        QVERIFY(!QFileInfo::exists(recovery));
    }

    // One accessibility request returns a bounded text, whatever is asked for.
    void accessibilityRequestsAreCapped() {
        const QByteArray line(3 * BookViewAccessible::kMaxText, 'a');
        open(line + "\r\nend");
        QAccessibleTextInterface* text = readable();
        QCOMPARE(text->characterCount(), int(line.size() + 5));
        QCOMPARE(text->text(0, -1).size(), BookViewAccessible::kMaxText);
        QCOMPARE(text->text(0, text->characterCount()).size(), BookViewAccessible::kMaxText);
        QCOMPARE(text->text(int(line.size()), text->characterCount()), QStringLiteral("\r\nend"));
        int start = 0;
        int end = 0;
        const QString paragraph =
            text->textAtOffset(10, QAccessible::ParagraphBoundary, &start, &end);
        QCOMPARE(paragraph.size(), BookViewAccessible::kMaxText);
        QCOMPARE(end - start, int(paragraph.size()));
    }

    // A book file deleted while open: the save asks, naming it deleted.
    void aDeletedBookFileIsCalledDeleted() {
        const QString path = book(QStringLiteral("gone.boo"), "text");
        m_form->openBook(path);
        QTest::mouseClick(m_form->ToolButton7, Qt::LeftButton);
        m_form->Editor->insertText(QStringLiteral("mine "));
        QFile::remove(path);
        dialogs().confirmations.enqueue(false);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("confirm"),
                 QStringList{QStringLiteral("Файл книги «gone» удалён другой программой после "
                                            "открытия. Сохранить вашу версию?")});
        QVERIFY(!QFileInfo::exists(path));
        dialogs().confirmations.enqueue(true);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path), QByteArray("mine text"));
    }

    // A dark background darkens the tool bar, the status bar and the scroll bar; a light
    // one gives the desktop's colours back.
    void aDarkBackgroundDarkensTheReadersOwnBars() {
        TMainForm& form = open("text");
        const QColor light = form.ToolBar1->palette().color(QPalette::Window);
        dialogs().colours.enqueue(QColor(0x10, 0x10, 0x10));
        form.ToolButton5->click();
        for (QWidget* widget :
             {static_cast<QWidget*>(form.ToolBar1), static_cast<QWidget*>(form.StatusBar),
              static_cast<QWidget*>(form.View->verticalScrollBar())})
            QVERIFY(qGray(widget->palette().color(QPalette::Window).rgb()) < 80);
        QVERIFY(qGray(form.StatusBar->palette().color(QPalette::WindowText).rgb()) > 160);
        dialogs().colours.enqueue(Qt::white);
        form.ToolButton5->click();
        QCOMPARE(form.ToolBar1->palette().color(QPalette::Window), light);
    }

    // Opening another book over unsaved edits asks first: "Yes" saves as the save button
    // does, "No" drops the edits, "Cancel" keeps the edited book open.
    void unsavedEditsAreOfferedForSaving() {
        const QString first = book(QStringLiteral("Первая.boo"), "first");
        const QString second = book(QStringLiteral("Вторая.boo"), "second");
        const QString question =
            QStringLiteral("В книге «Первая» есть несохранённые изменения. Сохранить их?");
        auto editFirst = [&] {
            m_form->openBook(first);
            if (m_form->Editor->isReadOnly())
                QTest::mouseClick(m_form->ToolButton7, Qt::LeftButton);
            m_form->Editor->setSelectionStart(m_form->Editor->textLength());
            m_form->Editor->insertText(QStringLiteral(" edited"));
            dialogs().clear();
        };

        editFirst();
        dialogs().answers.enqueue(Dialogs::Answer::Cancel);
        QVERIFY(!m_form->openBook(second));
        QCOMPARE(dialogs().texts("ask"), QStringList{question});
        QCOMPARE(m_form->StatusBar->panelText(1), first);
        QCOMPARE(m_form->Editor->book()->wholeText(), QStringLiteral("first edited"));
        QCOMPARE(TestFiles::read(first), QByteArray("first"));

        dialogs().clear();
        dialogs().answers.enqueue(Dialogs::Answer::No);
        QVERIFY(m_form->openBook(second));
        QCOMPARE(m_form->Editor->book()->wholeText(), QStringLiteral("second"));
        QCOMPARE(TestFiles::read(first), QByteArray("first"));

        editFirst();
        dialogs().answers.enqueue(Dialogs::Answer::Yes);
        QVERIFY(m_form->openBook(second));
        QCOMPARE(TestFiles::read(first), QByteArray("first edited"));
        QCOMPARE(m_form->Editor->book()->wholeText(), QStringLiteral("second"));

        // No edits, no question; closing the reader asks nothing either.
        dialogs().clear();
        QVERIFY(m_form->openBook(first));
        m_form->Editor->insertText(QStringLiteral("x"));
        QTest::mouseClick(m_form->ToolButton6, Qt::LeftButton);
        QVERIFY(!m_form->isVisible());
        QVERIFY(dialogs().shown.isEmpty());
    }

    // In editing mode too, a book saved through the question opens again where it was
    // left, though a short book shown in between took away the scroll bar.
    void aBookSavedThroughTheQuestionReopensWhereItWasLeft() {
        restart();
        QByteArray text;
        for (int i = 0; text.size() < 40000; ++i)
            text += "Paragraph " + QByteArray::number(i) + ' ' +
                    QByteArray("word ").repeated(i * 7 % 90) + "\r\n";
        const QString path = libraryBook(QStringLiteral("Книга"), text);
        TMainForm& form = openAt(path);
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        QTRY_VERIFY(form.Editor->verticalScrollBar()->isVisible()); // the width to page at
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(form.Editor, Qt::Key_PageDown);
        QTest::keyClicks(form.Editor, QStringLiteral("QQQ"));
        const int top = form.firstVisibleOffset();
        QVERIFY(top > 0);
        form.ToolButton6->click();
        dialogs().answers.enqueue(Dialogs::Answer::Yes);
        openAt(libraryBook(QStringLiteral("Другая"), "x"));
        QVERIFY(TestFiles::read(path).contains("QQQ"));
        QCOMPARE(m_state->position(path), top);
        form.ToolButton6->click();
        openAt(path);
        QTRY_VERIFY(form.Editor->verticalScrollBar()->isVisible());
        QCoreApplication::processEvents();
        QCOMPARE(form.firstVisibleOffset(), top);
    }

    // A file changed or replaced by another program while open is not overwritten
    // without a question.
    void aBookChangedOutsideIsAskedAbout() {
        const QString path = book(QStringLiteral("outside.boo"), "original");
        m_form->openBook(path);
        QTest::mouseClick(m_form->ToolButton7, Qt::LeftButton);
        m_form->Editor->insertText(QStringLiteral("mine "));
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QVERIFY(dialogs().texts("confirm").isEmpty()); // unchanged outside: saved at once
        QCOMPARE(TestFiles::read(path), QByteArray("mine original"));

        QFile::remove(path);
        TestFiles::write(path, "theirs"); // replaced by another program
        m_form->Editor->insertText(QStringLiteral("more "));
        dialogs().confirmations.enqueue(false);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        const QString question =
            QStringLiteral("Файл книги «outside» изменён другой программой после открытия. "
                           "Заменить его вашей версией?");
        QCOMPARE(dialogs().texts("confirm"), QStringList{question});
        QCOMPARE(TestFiles::read(path), QByteArray("theirs"));
        QVERIFY(m_form->Editor->book()->isModified());

        dialogs().confirmations.enqueue(true);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path), QByteArray("mine more original"));
        QCOMPARE(dialogs().texts("confirm").size(), 2);
    }

    // A save stores letters the code page lacks in their nearest form (ü as u) and asks
    // before any would still become «?»; «Отмена» writes nothing.
    void lettersTheCodePageLacksAreMappedOrAskedAbout() {
        const QString path = book(QStringLiteral("letters.boo"), "text");
        m_form->openBook(path);
        QTest::mouseClick(m_form->ToolButton7, Qt::LeftButton);
        m_form->Editor->insertText(QStringLiteral("ü\u00A0€ "));
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QVERIFY(dialogs().texts("confirm").isEmpty());
        QCOMPARE(TestFiles::read(path), QByteArray("u\xA0\x88 text"));
        m_form->Editor->insertText(QStringLiteral("♥"));
        dialogs().confirmations.enqueue(false);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("confirm"),
                 QStringList{QStringLiteral(
                     "В книге есть знаки, которых нет в кодировке 1251: ♥. Они будут сохранены как "
                     "«?». Сохранить книгу?")});
        QCOMPARE(TestFiles::read(path), QByteArray("u\xA0\x88 text"));
        QVERIFY(m_form->Editor->book()->isModified());
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton); // unanswered: "OK"
        QCOMPARE(TestFiles::read(path), QByteArray("u\xA0\x88 ?text"));
    }

    // The library's books are code page 1251: bytes that happen to form valid UTF-8 are
    // still read as code page letters and saved back unchanged; a byte-order mark wins.
    void libraryBooksAreReadAsCodePage1251() {
        const QByteArray bytes = TestFiles::cp1251(QStringLiteral("Item Ж— done, Я» ok"));
        const QString path = book(QStringLiteral("cp.boo"), bytes);
        m_form->openBook(path);
        QCOMPARE(shown(), QStringLiteral("Item Ж— done, Я» ok"));
        QTest::mouseClick(m_form->ToolButton7, Qt::LeftButton);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path), bytes);

        m_form->openBook(
            book(QStringLiteral("bom.boo"), "\xEF\xBB\xBF" + QStringLiteral("Ёж").toUtf8()));
        QCOMPARE(m_form->Editor->book()->wholeText(), QStringLiteral("Ёж"));
    }

    // The real font dialog, opened from the reader the first time: the layout's face as
    // the font system resolves it, and its 11 pixels as 8 points.
    void firstFontDialogShowsTheResolvedFace() {
        TMainForm& form = open("text");
        std::unique_ptr<Dialogs> recording = Dialogs::install(std::make_unique<Dialogs>());
        QString face;
        QString size;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget* dialog = QApplication::activeModalWidget();
            face = dialog->findChild<QComboBox*>(QStringLiteral("family"))->currentText();
            size = dialog->findChild<QComboBox*>(QStringLiteral("size"))->currentText();
            qobject_cast<QDialog*>(dialog)->reject();
        });
        QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
        Dialogs::install(std::move(recording));
        QFont layoutFont(QStringLiteral("MS Sans Serif"));
        layoutFont.setPixelSize(11);
        QCOMPARE(face, QFontInfo(layoutFont).family());
        if (QGuiApplication::primaryScreen()->logicalDotsPerInchY() == 96)
            QCOMPARE(size, QStringLiteral("8"));
    }

    void fontAndColourDialogsRememberTheirChoice() {
        TMainForm& form = open("text");
        QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
        QCOMPARE(dialogs().fontOffered.font.family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(dialogs().fontOffered.font.pixelSize(), 11);
        QFont chosen(QStringLiteral("Liberation Serif"));
        chosen.setPixelSize(24);
        chosen.setUnderline(true);
        dialogs().fonts.enqueue({chosen, QColor(128, 0, 0)});
        QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
        QCOMPARE(form.Editor->font().family(), QStringLiteral("Liberation Serif"));
        QVERIFY(form.Editor->font().underline());
        QCOMPARE(form.Editor->textColour(), QColor(128, 0, 0));
        QCOMPARE(form.View->font().family(), QStringLiteral("Liberation Serif"));
        QVERIFY(form.View->font().underline());
        QCOMPARE(form.View->textColour(), QColor(128, 0, 0));
        QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
        QCOMPARE(dialogs().fontOffered.font.family(), QStringLiteral("Liberation Serif"));

        QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
        QCOMPARE(dialogs().colourOffered, QColor(Qt::black));
        QCOMPARE(form.Editor->backgroundColour(), QColor(Qt::white)); // cancelled: unchanged
        dialogs().colours.enqueue(QColor(255, 255, 0));
        QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
        QCOMPARE(form.Editor->backgroundColour(), QColor(255, 255, 0));
        QCOMPARE(form.View->backgroundColour(), QColor(255, 255, 0));
        QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
        QCOMPARE(dialogs().colourOffered, QColor(255, 255, 0));
    }

    // ---- What the reader remembers ---------------------------------------------------

    void aShortBookOpensWithTheCaretAtItsStart() {
        restart();
        const QString path =
            libraryBook(QStringLiteral("short"), "one\r\ntwo\r\nthree\r\nfour\r\nfive");
        TMainForm& form = openAt(path);
        QCOMPARE(selectionStart(), 0);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка:   1   Символ:   1"));
        // Also when the caret was somewhere else in the book shown before.
        readable()->setCursorPosition(readable()->characterCount());
        QVERIFY(selectionStart() > 0);
        openAt(libraryBook(QStringLiteral("other"), "a\r\nb"));
        QCOMPARE(selectionStart(), 0);
        QCOMPARE(form.StatusBar->panelText(0), QStringLiteral("Строка:   1   Символ:   1"));
    }

    void reopensWhereItWasLeft() {
        restart();
        const QString path = libraryBook(QStringLiteral("Книга"), longBook(3000));
        TMainForm& form = openAt(path);
        QCOMPARE(place().top, 0);
        QScrollBar* bar = form.View->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        const int top = form.firstVisibleOffset();
        QVERIFY(top > 0);
        QTest::mouseClick(form.ToolButton6, Qt::LeftButton);
        QVERIFY(!form.isVisible());

        // The same run: another book in between, then this one again.
        openAt(libraryBook(QStringLiteral("Другая"), "x"));
        QCOMPARE(place().top, 0);
        openAt(path);
        const Place left = place();
        QCOMPARE(left.top, top);
        QCOMPARE(left.caret, top);
        QCOMPARE(left.panel,
                 QStringLiteral("Строка: %1   Символ:   1").arg(displayLineOf(top) + 1, 3));

        // The next run.
        form.N2->trigger();
        restart();
        openAt(path);
        QCOMPARE(place(), left);
        QCOMPARE(m_state->bookCount(), 2);
    }

    // A font change moves the line breaks: the book still opens at the same character,
    // on the line that now holds it.
    void positionSurvivesAFontChange() {
        restart();
        const QString path = libraryBook(QStringLiteral("Книга"), longBook(2000));
        TMainForm& form = openAt(path);
        form.View->verticalScrollBar()->setValue(form.View->verticalScrollBar()->maximum() / 3);
        const int top = form.firstVisibleOffset();
        QVERIFY(top > 0);
        QTest::keyClick(form.View, Qt::Key_Escape);
        QVERIFY(!form.isVisible());
        QFont big(QStringLiteral("Liberation Serif"));
        big.setPixelSize(31);
        dialogs().fonts.enqueue({big, QColor(Qt::darkGreen)});
        QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
        openAt(path);
        QCOMPARE(selectionStart(), top);
        QVERIFY(form.firstVisibleOffset() <= top);
        QCOMPARE(displayLineOf(form.firstVisibleOffset()), displayLineOf(top));
    }

    // A book changed elsewhere, or a place past its end, opens at the start.
    void aChangedBookOpensAtTheStart() {
        restart();
        const QString path = libraryBook(QStringLiteral("Книга"), longBook(1000));
        openAt(path).View->verticalScrollBar()->setValue(3000);
        QVERIFY(m_form->firstVisibleOffset() > 0);
        QTest::mouseClick(m_form->ToolButton6, Qt::LeftButton);
        TestFiles::write(path, longBook(1000) + "one more line");
        restart();
        openAt(path);
        QCOMPARE(place(), (Place{0, 0, QStringLiteral("Строка:   1   Символ:   1")}));

        // Lone LF line breaks make the text longer than the file: an offset within the
        // file's size may lie past the text's end.
        const QString shortBook = libraryBook(QStringLiteral("short"), "a\nb\nc");
        TestFiles::write(libraryFile(QStringLiteral("reading.dat")), "[Books]\r\n6 5 short\r\n");
        restart();
        openAt(shortBook);
        QCOMPARE(selectionStart(), 0);
    }

    // A big book, in lines or in one long paragraph: the place is found exactly, and the
    // text is whole.
    void aPlaceDeepInABigBook_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("40,000 lines") << longBook(40000);
        QByteArray paragraph;
        for (int i = 0; paragraph.size() < 3000000; ++i)
            paragraph += "word" + QByteArray::number(i) + ' ';
        QTest::newRow("one paragraph of 3 MB") << QByteArray("title\r\n" + paragraph + "\r\nend");
    }
    void aPlaceDeepInABigBook() {
        QFETCH(QByteArray, bytes);
        restart();
        const QString path = libraryBook(QStringLiteral("Большая"), bytes);
        TMainForm& form = openAt(path);
        QScrollBar* bar = form.View->verticalScrollBar();
        bar->setValue(bar->maximum() - bar->maximum() / 10);
        // A long paragraph's lines are final once counted (until then a piece may be
        // wrapped from a little before its start).
        QTRY_VERIFY(form.View->linesCounted());
        QVERIFY(form.firstVisibleOffset() > bytes.size() / 2);
        form.ToolButton6->click();
        restart();
        // Where the book was left, as reading.dat keeps it.
        const int top = m_state->position(path).value_or(-1);
        QVERIFY(top > bytes.size() / 2);
        openAt(path);
        // At once: the top line holds the place; once counted, it starts there.
        QVERIFY(m_form->firstVisibleOffset() <= top);
        QVERIFY(displayLineStart(top) == m_form->firstVisibleOffset() ||
                !m_form->View->linesCounted());
        QTRY_VERIFY(m_form->View->linesCounted());
        QCOMPARE(selectionStart(), top);
        if (QByteArray(QTest::currentDataTag()).contains("lines")) {
            QCOMPARE(m_form->firstVisibleOffset(), top);
        } else {
            // The place was left as the view wrapped the paragraph then: a line start,
            // or (when the window changed its width just before) a character of the
            // line at the top.
            QCOMPARE(m_form->firstVisibleOffset(), displayLineStart(top));
            QVERIFY(top - m_form->firstVisibleOffset() < BookLines::kMaxLineChars);
        }
        QCOMPARE(readable()->characterCount(), bytes.size());
        QCOMPARE(readable()->text(top, top + 20), QString::fromLatin1(bytes.mid(top, 20)));
    }

    void fontAndColoursSurviveARestart() {
        restart();
        TMainForm& first = openAt(libraryBook(QStringLiteral("Книга"), "text"));
        QCOMPARE(first.Editor->font().family(), QStringLiteral("Arial"));
        QFont chosen(QStringLiteral("Liberation Serif"));
        chosen.setPixelSize(24);
        chosen.setItalic(true);
        dialogs().fonts.enqueue({chosen, QColor(128, 0, 0)});
        QTest::mouseClick(first.ToolButton4, Qt::LeftButton);
        dialogs().colours.enqueue(QColor(255, 255, 0));
        QTest::mouseClick(first.ToolButton5, Qt::LeftButton);

        TMainForm& next = restart();
        QCOMPARE(next.View->font().family(), QStringLiteral("Liberation Serif"));
        QCOMPARE(next.View->textColour(), QColor(128, 0, 0));
        QCOMPARE(next.View->backgroundColour(), QColor(255, 255, 0));
        QCOMPARE(next.Editor->font().family(), QStringLiteral("Liberation Serif"));
        QCOMPARE(next.Editor->font().pixelSize(), 24);
        QVERIFY(next.Editor->font().italic());
        QCOMPARE(next.Editor->textColour(), QColor(128, 0, 0));
        QCOMPARE(next.Editor->backgroundColour(), QColor(255, 255, 0));
        // The dialogs open on the last choice, as within one run.
        QTest::mouseClick(next.ToolButton4, Qt::LeftButton);
        QCOMPARE(dialogs().fontOffered.font.family(), QStringLiteral("Liberation Serif"));
        QTest::mouseClick(next.ToolButton5, Qt::LeftButton);
        QCOMPARE(dialogs().colourOffered, QColor(255, 255, 0));
    }

    void aPlaceThatCannotBeWrittenIsReported() {
        restart();
        openAt(libraryBook(QStringLiteral("Книга"), "text"));
        QDir().mkdir(libraryFile(QStringLiteral("reading.dat")));
        QTest::mouseClick(m_form->ToolButton6, Qt::LeftButton);
        QVERIFY(!m_form->isVisible());
        QCOMPARE(dialogs().texts("error"), QStringList{ReadingState::writeErrorMessage(
                                               libraryFile(QStringLiteral("reading.dat")))});
    }

    void escapeLeavesTheReaderInBothModes() {
        TMainForm& form = open("text");
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.View, Qt::Key_Escape);
        QVERIFY(!form.isVisible());
        open("text");
        QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.Editor, Qt::Key_Escape);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.Editor->book()->wholeText(), QStringLiteral("text"));
    }

    void printingToAPdfFile() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils is not installed");
        TMainForm& form = open(TestFiles::cp1251(QStringLiteral("Печатная страница")));
        form.ToolButton3->click(); // cancelled: nothing printed
        const QString pdf = m_dir.filePath(QStringLiteral("out.pdf"));
        dialogs().pdfOutput = pdf;
        form.ToolButton3->click();
        QVERIFY(QFileInfo(pdf).size() > 0);
        const QString printed = TestFiles::pdfPages(pdf).join(QLatin1Char('\f'));
        QVERIFY2(printed.contains(QStringLiteral("Печатная страница")), qPrintable(printed));
        QVERIFY(dialogs().texts("error").isEmpty());
    }

    // Opening another book between two printed pages: the print goes on with the text it
    // started with, to its last page.
    void anotherBookOpenedWhilePrinting() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
            QSKIP("poppler-utils is not installed");
        QByteArray text;
        for (int i = 1; i <= 400; ++i)
            text += "Line " + QByteArray::number(i) + " of the long book\r\n";
        text += "The last line";
        const QString other = book(QStringLiteral("other.boo"), "Another book");
        TMainForm& form = open(text);
        const QString whole = m_dir.filePath(QStringLiteral("whole.pdf"));
        dialogs().pdfOutput = whole;
        form.ToolButton3->click();

        const QString interrupted = m_dir.filePath(QStringLiteral("interrupted.pdf"));
        dialogs().pdfOutput = interrupted;
        bool opened = false;
        QTimer::singleShot(0, &form, [&] {
            QVERIFY(form.printing());
            QTest::mouseClick(form.ToolButton6, Qt::LeftButton); // «Назад»
            form.openBook(other);
            opened = true;
        });
        form.ToolButton3->click();
        QVERIFY(opened);
        QCOMPARE(shown(), QStringLiteral("Another book"));
        QVERIFY(dialogs().texts("error").isEmpty());
        auto pages = [](const QString& pdf) {
            QProcess info;
            info.start(QStringLiteral("pdfinfo"), {pdf});
            info.waitForFinished();
            for (const QByteArray& line : info.readAllStandardOutput().split('\n'))
                if (line.startsWith("Pages:"))
                    return line.mid(6).trimmed().toInt();
            return 0;
        };
        QVERIFY(pages(whole) > 2);
        QCOMPARE(pages(interrupted), pages(whole));
        const QString output = TestFiles::pdfPages(interrupted).join(QLatin1Char('\f'));
        QVERIFY(output.contains(QStringLiteral("The last line")));
        QVERIFY(!output.contains(QStringLiteral("Another book")));
    }
};

QTEST_MAIN(TestReaderWindow)
#include "test_reader_window.moc"
