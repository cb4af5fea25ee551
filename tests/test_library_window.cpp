#include "core/base/cp1251.h"
#include "core/formats/book_import.h"
#include "core/library/book_companions.h"
#include "core/text/imported_text.h"
#include "support/recording_dialogs.h"
#include "support/test_books.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/color_btn.h"
#include "ui/controls/status_panels.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/book_list_model.h"
#include "ui/library/bulk_import_window.h"
#include "ui/library/help_window.h"
#include "ui/library/library_window.h"
#include "ui/reader/reader_window.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDate>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <QWindow>

#include <sys/stat.h>

using TestFiles::cp1251;

class TestLibraryWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DialogsScope> m_dialogs;
    std::unique_ptr<TMainForm> m_reader;
    std::unique_ptr<TForm1> m_form;
    QString m_previousFolder;

    QString path(const QString& name) const { return m_dir->filePath(name); }
    void writeBook(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(path(QStringLiteral("books")));
        TestFiles::write(path(QStringLiteral("books/") + name + QStringLiteral(".boo")), bytes);
    }
    TForm1& start() {
        m_form.reset();
        m_reader = std::make_unique<TMainForm>();
        m_form = std::make_unique<TForm1>();
        m_form->setReaderWindow(m_reader.get());
        m_form->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_form.get());
        return *m_form;
    }
    QStringList items() const {
        QStringList out;
        for (int i = 0; i < m_form->ListBox1->count(); ++i)
            out << m_form->ListBox1->item(i)->text();
        return out;
    }
    void click(int row) {
        QListWidget* list = m_form->ListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    void doubleClick(int row) {
        QListWidget* list = m_form->ListBox1;
        const QPoint at = list->visualItemRect(list->item(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }
    QString panel(int index) const { return m_form->StatusBar1->panelText(index); }
    RecordingDialogs& dialogs() { return **m_dialogs; }
    void addBook(const QString& file, const QString& name, const QString& note) {
        m_form->N9->trigger();
        dialogs().files.enqueue(file);
        QTest::mouseClick(m_form->SpeedButton1, Qt::LeftButton);
        if (!name.isNull())
            m_form->knigaimeno->setText(name);
        m_form->zametki->setText(note);
        QTest::mouseClick(m_form->ColorBtn1, Qt::LeftButton);
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_previousFolder = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        m_dialogs = std::make_unique<DialogsScope>();
    }
    void cleanup() {
        m_form.reset();
        m_reader.reset();
        m_dialogs.reset();
        QDir::setCurrent(m_previousFolder);
        m_dir.reset();
    }

    // ---- Start-up ----------------------------------------------------------------------

    void startInAnEmptyFolderCreatesTheCatalogue() {
        TForm1& form = start();
        QCOMPARE(dialogs().texts("message"),
                 QStringList{QStringLiteral("База книг не обнаружена. Будет создана новая база.")});
        QCOMPARE(dialogs().beeps, 1);
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("\r\n"));
        QCOMPARE(form.ListBox1->count(), 0);
        start();
        QCOMPARE(items(), QStringList{QString()});
    }

    void startListsTheBooksSorted() {
        TestFiles::write(path("books.dat"),
                         cp1251(QStringLiteral("b=1\r\nA=2\r\nc=3\r\nяблоко=\r\nЁж=\r\nель=\r\n")));
        start();
        // Russian collation: Cyrillic before Latin, Ё beside Е, case ignored.
        QCOMPARE(items(), (QStringList{QStringLiteral("Ёж"), QStringLiteral("ель"),
                                       QStringLiteral("яблоко"), "A", "b", "c"}));
        QCOMPARE(panel(2), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
        QVERIFY(m_form->ListBox1->selectedItems().isEmpty());
        QVERIFY(dialogs().shown.isEmpty());
    }

    void unreadableCatalogueIsNeverReplaced() {
        QDir().mkdir(path("books.dat"));
        start();
        QCOMPARE(dialogs().texts("error"),
                 QStringList{QStringLiteral("Cannot open file %1.").arg(path("books.dat"))});
        QVERIFY(QFileInfo(path("books.dat")).isDir());
        QVERIFY(dialogs().texts("message").isEmpty());
        // Adding a book then writes nothing at all.
        const QString source = path("new.txt");
        TestFiles::write(source, "text");
        addBook(source, QStringLiteral("Новая"), QString());
        QCOMPARE(dialogs().texts("error").last(),
                 QStringLiteral("Cannot create file %1.").arg(path("books.dat")));
        QVERIFY(!QFile::exists(path(QStringLiteral("books/Новая.boo"))));
        QVERIFY(QFileInfo(path("books.dat")).isDir());
    }

    void layoutAsDesigned() {
        TForm1& form = start();
        QCOMPARE(form.windowTitle(), QStringLiteral("Tomeria"));
        QCOMPARE(form.centralWidget()->size(), QSize(765, 508));
        // The add panel's edits are white with black text, drawn so.
        for (QLineEdit* edit : {form.Dfail, form.knigaimeno, form.zametki}) {
            edit->setText(QStringLiteral("W"));
            QCOMPARE(edit->palette().color(QPalette::Base), QColor(Qt::white));
            QCOMPARE(edit->palette().color(QPalette::Text), QColor(Qt::black));
            const QImage picture = edit->grab().toImage();
            QCOMPARE(picture.pixelColor(picture.width() - 4, picture.height() / 2),
                     QColor(Qt::white));
        }
        // The browse button shows its picture: an open folder, drawn in colour.
        QVERIFY(!form.SpeedButton1->icon().isNull());
        const QImage folder = form.SpeedButton1->icon().pixmap(16, 16).toImage();
        QVERIFY(!folder.isNull() && folder.pixelColor(8, 10).alpha() > 0);
        QCOMPARE(form.centralWidget()->palette().color(QPalette::Window), QColor(240, 202, 166));
        QCOMPARE(form.Panel1->height(), 41);
        QCOMPARE(form.StatusBar1->height(), 19);
        QCOMPARE(form.Panel4->width(), 151);
        QCOMPARE(form.Splitter1->width(), 3);
        QCOMPARE(form.Panel5->height(), 165);
        QVERIFY(form.Panel2->isHidden());
        QVERIFY(form.RichEdit1->isHidden());
        QVERIFY(form.Image1->isVisible());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(form.StatusBar1->panel(i)->width(), QList<int>({70, 90, 80, 100})[i]);
        QCOMPARE(form.pb->parentWidget(), form.StatusBar1);
        QCOMPARE(form.pb->geometry(), QRect(1, 1, 69, 18));
        QVERIFY(form.pb->isVisible());
        QCOMPARE(form.ListBox1->font().pixelSize(), 13);
        QVERIFY(form.ListBox1->font().bold());
        const QList<QAction*> menus = form.menuBar()->actions();
        QCOMPARE(menus[0]->text(), QStringLiteral("Файл "));
        QCOMPARE(menus[1]->text(), QStringLiteral("Справка"));
        QCOMPARE(form.N22->shortcut(), QKeySequence(Qt::Key_F1));
        QCOMPARE(form.N12->text(), QStringLiteral("About ..."));
        QCOMPARE(form.ColorBtn1->text(), QStringLiteral("Сохранить"));
        QCOMPARE(form.ColorBtn1->geometry(), QRect(450, 50, 126, 21));
        QCOMPARE(form.ColorBtn2->geometry(), QRect(450, 10, 126, 21));
        QCOMPARE(form.knigaimeno->geometry(), QRect(120, 31, 301, 19));
        QVERIFY(form.Edit1->font().capitalization() == QFont::AllUppercase);
    }

    void exitAsksFirst() {
        TestFiles::write(path("books.dat"), "a=1\r\n");
        TForm1& form = start();
        dialogs().confirmations.enqueue(false);
        form.N2->trigger();
        QVERIFY(form.isVisible());
        QCOMPARE(dialogs().texts("confirm"),
                 QStringList{QStringLiteral("Выйти из программы Tomeria?")});
        QVERIFY(!QFile::exists(path("tomeria.ini")));
        dialogs().confirmations.enqueue(true);
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
        QVERIFY(TestFiles::read(path("tomeria.ini")).startsWith("[TForm1]\r\nFormVersion=0\r\n"));
    }

    // Edits the reader holds are offered for saving before the exit question.
    void exitOffersUnsavedEditsFirst_data() {
        QTest::addColumn<bool>("edited");
        QTest::addColumn<int>("answer"); // to the unsaved-edits question
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("running");
        const QStringList both{QStringLiteral("ask"), QStringLiteral("confirm")};
        QTest::newRow("Да: saved, then the exit question")
            << true << int(Dialogs::Answer::Yes) << both << QByteArray("xТекст") << false;
        QTest::newRow("Нет: dropped, then the exit question")
            << true << int(Dialogs::Answer::No) << both << QByteArray("Текст") << false;
        QTest::newRow("Отмена: still running with the edits")
            << true << int(Dialogs::Answer::Cancel) << QStringList{QStringLiteral("ask")}
            << QByteArray("Текст") << true;
        QTest::newRow("no edits: the exit question alone")
            << false << int(Dialogs::Answer::Yes) << QStringList{QStringLiteral("confirm")}
            << QByteArray("Текст") << false;
    }
    void exitOffersUnsavedEditsFirst() {
        QFETCH(bool, edited);
        QFETCH(int, answer);
        QFETCH(QStringList, asked);
        QFETCH(QByteArray, stored);
        QFETCH(bool, running);
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Книга=\r\n")));
        writeBook(QStringLiteral("Книга"), cp1251(QString::fromUtf8("Текст")));
        TForm1& form = start();
        doubleClick(0);
        if (edited) {
            m_reader->ToolButton7Click(); // editing
            m_reader->Editor->setSelectionStart(0);
            QTest::keyClicks(m_reader->Editor, QStringLiteral("x"));
            m_reader->ToolButton7Click(); // viewing, the edits unsaved
        }
        dialogs().clear();
        dialogs().answers.enqueue(Dialogs::Answer(answer));
        dialogs().confirmations.enqueue(true);
        form.close();
        QStringList kinds;
        for (const RecordingDialogs::Shown& shown : dialogs().shown)
            kinds << shown.kind;
        QCOMPARE(kinds, asked);
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Книга.boo"))),
                 cp1251(QString::fromUtf8(stored)));
        QCOMPARE(form.isVisible(), running);
        if (running)
            QVERIFY(m_reader->Editor->book()->isModified());
    }

    // ---- Selection and details --------------------------------------------------------

    void selectingABookFillsTheDetails() {
        TestFiles::write(path("books.dat"),
                         cp1251(QStringLiteral("b=заметка b\r\nA=2\r\nc=3\r\n")));
        writeBook("b", QByteArray(1500, 'x'));
        writeBook("A", QByteArray(3500, 'x'));
        TForm1& form = start();
        click(1);
        QCOMPARE(panel(1), QStringLiteral("2 / 3"));
        QCOMPARE(panel(3), QStringLiteral("1/4"));
        QCOMPARE(form.Label7->text(), QStringLiteral("1 Кб"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("b"));
        QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("заметка b"));
        QCOMPARE(panel(4), path("books/b.boo"));
        QCOMPARE(form.catalogue().CurrentRow(), 0);

        click(2); // c has no file
        QCOMPARE(form.Label7->text(), QStringLiteral("-1 Кб"));
        QCOMPARE(panel(3), QStringLiteral("-1/4"));
        QCOMPARE(form.catalogue().CurrentRow(), 2);

        QTest::keyClick(form.ListBox1, Qt::Key_Up);
        QCOMPARE(form.Edit1->text(), QStringLiteral("b"));
        QCOMPARE(panel(1), QStringLiteral("2 / 3"));
    }

    void theEmptyItemOfAnEmptyCatalogue() {
        TestFiles::write(path("books.dat"), QByteArray());
        TForm1& form = start();
        QCOMPARE(items(), QStringList{QString()});
        // Every click on it is a selection of the empty name, and each one is refused.
        for (int clicks = 1; clicks <= 3; ++clicks) {
            click(0);
            QCOMPARE(dialogs().texts("error"),
                     QStringList(clicks, QStringLiteral("Grid index out of range.")));
        }
        QTest::keyClick(form.ListBox1, Qt::Key_Down); // no other item: nothing changes
        QCOMPARE(dialogs().texts("error").size(), 3);
        QCOMPARE(form.Edit1->text(), QString());
        QCOMPARE(panel(1), QString());
    }

    void searchBoxSelectsWithoutDetails() {
        TestFiles::write(path("books.dat"),
                         cp1251(QStringLiteral("Альфа=\r\nкнига=\r\nКолобок=\r\nзвезда=\r\n")));
        TForm1& form = start();
        click(0);
        QCOMPARE(form.Edit1->text(), QStringLiteral("Альфа"));
        form.pb->insert(QStringLiteral("к"));
        QCOMPARE(form.ListBox1->selectedItems().value(0)->text(), QStringLiteral("книга"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("Альфа"));
        form.pb->insert(QStringLiteral("о"));
        QCOMPARE(form.ListBox1->selectedItems().value(0)->text(), QStringLiteral("Колобок"));
        form.pb->insert(QStringLiteral("х"));
        QCOMPARE(form.ListBox1->selectedItems().value(0)->text(), QStringLiteral("Колобок"));
        QTest::mouseClick(form.pb, Qt::LeftButton);
        QCOMPARE(form.pb->text(), QString());
        QCOMPARE(form.ListBox1->selectedItems().value(0)->text(), QStringLiteral("Альфа"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("Альфа"));

        // Clicking the item the search box selected shows its details.
        form.pb->insert(QStringLiteral("з"));
        QCOMPARE(form.ListBox1->selectedItems().value(0)->text(), QStringLiteral("звезда"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("Альфа"));
        click(form.ListBox1->currentRow());
        QCOMPARE(form.Edit1->text(), QStringLiteral("звезда"));
        QCOMPARE(form.catalogue().NameAt(form.catalogue().CurrentRow()), QStringLiteral("звезда"));
    }

    void doubleClickOpensTheReader() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Есть=\r\nНет=\r\n")));
        writeBook(QStringLiteral("Есть"), cp1251(QStringLiteral("Текст книги\r\nвторая строка")));
        start();
        doubleClick(1); // Нет
        QCOMPARE(dialogs().texts("message"),
                 QStringList{QStringLiteral(
                     "Файл книги не найден. Возможно, он был удален или переименован.")});
        QCOMPARE(dialogs().beeps, 1);
        QVERIFY(!m_reader->isVisible());
        doubleClick(0);
        QVERIFY(m_reader->isVisible());
        QCOMPARE(m_reader->View->text(0, m_reader->View->textLength()),
                 QStringLiteral("Текст книги\r\nвторая строка"));
        QCOMPARE(m_reader->StatusBar->panelText(1), path(QStringLiteral("books/Есть.boo")));
    }

    // The reader opens under the pointer at the second press of a double-click: presses
    // that continue the gesture (by the events' times, and where it was made) never reach
    // its text; later ones do, and so does one right after but elsewhere. Real
    // window-system events, as the window manager check sends them for real.
    void clicksOfTheOpeningGestureStayOffTheReader_data() {
        QTest::addColumn<int>("gap");
        QTest::addColumn<int>("away"); // pixels from the opening click
        QTest::addColumn<bool>("reaches");
        QTest::newRow("the gesture's next click") << 80 << 0 << false;
        QTest::newRow("a click long after") << 2000 << 0 << true;
        QTest::newRow("a click elsewhere right after") << 80 << 50 << true;
    }
    void clicksOfTheOpeningGestureStayOffTheReader() {
        QFETCH(int, gap);
        QFETCH(int, away);
        QFETCH(bool, reaches);
        TestFiles::write(path("books.dat"), "kot=\r\n");
        writeBook(QStringLiteral("kot"), "one\r\ntwo\r\nthree\r\nfour\r\nfive");
        TForm1& form = start();
        QWindow* library = form.windowHandle();
        const QPoint item = form.ListBox1->viewport()->mapTo(
            &form, form.ListBox1->visualItemRect(form.ListBox1->item(0)).center());
        int time = 100000;
        // Where the pointer stands on the screen: the reader opens under it, so a click
        // there reaches the reader's text (the offscreen windows do not stand so, hence the
        // screen place is given with each event).
        const QPoint spot(500, 400);
        const auto send = [&](QWindow* window, QPoint at, QEvent::Type type, QPoint onScreen) {
            const Qt::MouseButtons state =
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
            qt_handleMouseEvent(window, at, onScreen, state, Qt::LeftButton, type, {}, time);
        };
        // A click to select, then a double-click: the book opens at the second press, and
        // the third lands on the reader.
        send(library, item, QEvent::MouseButtonPress, spot);
        time += 20;
        send(library, item, QEvent::MouseButtonRelease, spot);
        time += 80;
        QVERIFY(!m_reader->isVisible());
        send(library, item, QEvent::MouseButtonPress, spot);
        QVERIFY(m_reader->isVisible());
        time += 20;
        send(library, item, QEvent::MouseButtonRelease, spot);
        QCOMPARE(m_reader->StatusBar->panelText(0), QStringLiteral("Строка:   1   Символ:   1"));

        // The pointer stands below the text's end, `away` pixels from the opening click.
        QWindow* reader = m_reader->windowHandle();
        const QPoint text = m_reader->View->mapTo(m_reader.get(), m_reader->View->rect().center());
        time += gap;
        send(reader, text, QEvent::MouseButtonPress, spot + QPoint(0, away));
        time += 20;
        send(reader, text, QEvent::MouseButtonRelease, spot + QPoint(0, away));
        QCOMPARE(m_reader->StatusBar->panelText(0),
                 reaches ? QStringLiteral("Строка:   5   Символ:   5")
                         : QStringLiteral("Строка:   1   Символ:   1"));
    }

    // A user reads into a book, the program ends with the reader shown (as on SIGTERM:
    // the reader is destroyed first), starts again, and the book reopens there. After
    // the book is deleted, a new one of the same name starts at its beginning.
    void theReaderRemembersAcrossRuns() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Книга=\r\n")));
        QByteArray text;
        for (int i = 0; i < 2000; ++i)
            text += "line " + QByteArray::number(i) + "\r\n";
        writeBook(QStringLiteral("Книга"), text);
        start();
        doubleClick(0);
        QCOMPARE(m_reader->View->selectionStart(), 0);
        m_reader->View->scrollOffsetToTop(text.indexOf("line 500\r\n") + 3);
        const int top = int(m_reader->View->firstVisibleOffset());
        QCOMPARE(top, int(text.indexOf("line 500\r\n")));
        m_reader.reset();
        m_form.reset();

        start();
        doubleClick(0);
        QCOMPARE(m_reader->View->firstVisibleOffset(), top);
        QCOMPARE(m_reader->View->selectionStart(), top);
        QTest::mouseClick(m_reader->ToolButton6, Qt::LeftButton);

        click(0);
        m_form->N8->trigger();
        QVERIFY(!TestFiles::read(path("reading.dat")).contains(cp1251(QStringLiteral("Книга"))));
        TestFiles::write(path("source.txt"), text);
        addBook(path("source.txt"), QStringLiteral("Книга"), QString());
        QCOMPARE(items(), QStringList{QStringLiteral("Книга")});
        doubleClick(0);
        QCOMPARE(m_reader->View->firstVisibleOffset(), 0);
        QCOMPARE(m_reader->View->selectionStart(), 0);
    }

    // Edits left unsaved in the hidden reader: saved through the question on opening
    // another book, the book keeps its place; deleted meanwhile, the book takes its edits
    // with it, and no file without a row comes back.
    void editsLeftInTheHiddenReader() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Азбука=\r\nКнига=\r\n")));
        QByteArray text;
        for (int i = 0; i < 2000; ++i)
            text += "line " + QByteArray::number(i) + "\r\n";
        writeBook(QStringLiteral("Азбука"), "A");
        writeBook(QStringLiteral("Книга"), text);
        start();
        const auto editBook = [&](const char* typed) {
            doubleClick(1);
            m_reader->ToolButton7Click(); // editing
            m_reader->Editor->setSelectionStart(int(text.indexOf("line 500\r\n")));
            m_reader->Editor->scrollOffsetToTop(int(text.indexOf("line 500\r\n")));
            QTest::keyClicks(m_reader->Editor, QString::fromLatin1(typed));
            m_reader->ToolButton7Click(); // viewing, the edits unsaved
            QTest::mouseClick(m_reader->ToolButton6, Qt::LeftButton);
        };
        editBook("x");
        dialogs().answers.enqueue(Dialogs::Answer::Yes);
        doubleClick(0);
        QCOMPARE(dialogs().texts("ask").size(), 1);
        QVERIFY(TestFiles::read(path(QStringLiteral("books/Книга.boo"))).contains("xline 500"));
        QTest::mouseClick(m_reader->ToolButton6, Qt::LeftButton);
        doubleClick(1);
        QCOMPARE(m_reader->View->firstVisibleOffset(), text.indexOf("line 500\r\n"));
        QTest::mouseClick(m_reader->ToolButton6, Qt::LeftButton);

        editBook("y");
        click(1);
        dialogs().clear();
        m_form->N8->trigger();
        doubleClick(0);
        QCOMPARE(dialogs().texts("ask"), QStringList());
        QVERIFY(!QFile::exists(path(QStringLiteral("books/Книга.boo"))));
        QCOMPARE(TestFiles::read(path("books.dat")), cp1251(QStringLiteral("Азбука=\r\n")));
    }

    // ---- Adding -----------------------------------------------------------------------

    void addingAPlainTextBook() {
        TestFiles::write(path("books.dat"), "\r\n");
        QDir().mkdir(path("books"));
        const QString source = path("source.txt");
        TestFiles::write(source, cp1251(QStringLiteral("Первая строка\nвторая")));
        TForm1& form = start();
        form.N9->trigger();
        QVERIFY(form.Panel2->isVisible());
        QVERIFY(form.RichEdit1->isVisible());
        QVERIFY(!form.ListBox1->isEnabled());
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        // Every kind of book first, then the plain text and RTF line.
        QCOMPARE(dialogs().lastFilter,
                 BookImport::filterLine() + QStringLiteral("|Текстовые, RTF|*.txt;*.rtf"));
        QCOMPARE(qtFileFilter(dialogs().lastFilter).section(QStringLiteral(";;"), 1),
                 QStringLiteral("Текстовые, RTF (*.txt *.rtf)"));
        QCOMPARE(form.Dfail->text(), source);
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("Первая строка"));
        form.zametki->setText(QStringLiteral("моя заметка"));
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Первая строка.boo"))),
                 cp1251(QStringLiteral("Первая строка\r\nвторая")));
        QCOMPARE(TestFiles::read(path("books.dat")),
                 cp1251(QStringLiteral("Первая строка=моя заметка\r\n")));
        QCOMPARE(items(), QStringList{QStringLiteral("Первая строка")});
        QVERIFY(form.ListBox1->selectedItems().isEmpty());
        QVERIFY(form.Panel2->isHidden());
        QVERIFY(form.RichEdit1->isHidden());
        QVERIFY(form.ListBox1->isEnabled());
        QVERIFY(!form.RichEdit1->PlainText());
    }

    void everyKindOfBookIsStoredAsPlainTextNamedByItsTitle_data() {
        QTest::addColumn<QString>("file");
        for (const char* file : {"book.fb2", "book-cp1251.fb2", "book.fb2.zip", "book.epub",
                                 "book.docx", "book.odt", "book.html"})
            QTest::newRow(file) << QString::fromLatin1(file);
    }
    void everyKindOfBookIsStoredAsPlainTextNamedByItsTitle() {
        QFETCH(QString, file);
        TestFiles::write(path("books.dat"), "\r\n");
        TForm1& form = start();
        addBook(TestBooks::path(file), QString(), QStringLiteral("заметка"));
        QVERIFY(dialogs().shown.isEmpty());
        const QByteArray stored =
            TestFiles::read(path(QStringLiteral("books/Капитанская дочка.boo")));
        const QString text = Cp1251::decode(stored);
        QVERIFY(text.startsWith(QStringLiteral("Капитанская дочка\r\nАлександр Пушкин\r\n")));
        QCOMPARE(TestBooks::words(text), TestBooks::expectedWords());
        QVERIFY(!text.contains(QLatin1Char('<')));
        QVERIFY(!stored.contains('\0'));
        QCOMPARE(items(), QStringList{QStringLiteral("Капитанская дочка")});
        QVERIFY(form.Panel2->isHidden());
        // Its headings are kept beside it, each where it stands in the stored text.
        const std::optional<BookMarkup> kept = BookCompanions::readContents(
            path(QStringLiteral("books/Капитанская дочка.toc")), stored);
        QVERIFY(kept);
        QStringList titles;
        for (const Heading& h : kept->headings) {
            QCOMPARE(text.mid(h.offset, h.title.size()), h.title);
            titles << h.title;
        }
        QVERIFY2(titles.contains(QStringLiteral("Глава первая. Сержант гвардии")),
                 qPrintable(titles.join(u'|')));
    }

    void aKoi8TextImportsReadable() {
        const QString source = path("koi8.txt");
        const QString text = QStringLiteral("Глава первая\nСторона мне незнакомая! Не своей "
                                            "охотою на неё я попал, и ямщик молчал.");
        TestFiles::write(source, QStringEncoder("KOI8-R")(text));
        start();
        addBook(source, QString(), QString());
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Глава первая.boo"))),
                 cp1251(QString(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n"))));
    }

    void aFileWithoutABookIsRefusedAndNothingWritten() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Старая=\r\n")));
        const QString picture = path("picture.png");
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QVERIFY(image.save(picture));
        TForm1& form = start();
        form.N9->trigger();
        form.knigaimeno->setText(QStringLiteral("Картинка"));
        dialogs().files.enqueue(picture);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("message"), QStringList{BookImport::notABookMessage()});
        QCOMPARE(dialogs().beeps, 1);
        QCOMPARE(form.Dfail->text(), QString());
        QCOMPARE(form.RichEdit1->WholeText(), QString());
        // Saving now asks for a file; nothing reaches the library.
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("message").value(1),
                 QStringLiteral("Вы должны загрузить файл и указать название книги"));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("books/Картинка.boo"))));
        QCOMPARE(TestFiles::read(path("books.dat")), cp1251(QStringLiteral("Старая=\r\n")));
        // A book chosen before stays chosen, with its preview, when the next file is none.
        const QString book = path("book.txt");
        TestFiles::write(book, cp1251(QStringLiteral("Текст книги")));
        dialogs().files.enqueue(book);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        dialogs().files.enqueue(picture);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(form.Dfail->text(), book);
        QCOMPARE(form.RichEdit1->WholeText(), QStringLiteral("Текст книги"));
    }

    void droppingAFileOpensThePanelWithIt() {
        TestFiles::write(path("books.dat"), "\r\n");
        TForm1& form = start();
        QVERIFY(form.acceptDrops());
        QVERIFY(!form.RichEdit1->acceptDrops() && !form.knigaimeno->acceptDrops());
        auto drop = [&form](const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            const QPoint at = form.rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&form, &enter);
            if (!enter.isAccepted())
                return false;
            QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&form, &dropped);
            return true;
        };
        const QString book = TestBooks::path(QStringLiteral("book.epub"));
        // Two files at once are added in the background, without the panel.
        QVERIFY(drop({QUrl::fromLocalFile(book), QUrl::fromLocalFile(book)}));
        QVERIFY(form.bulkImportWindow());
        QVERIFY(form.Panel2->isHidden());
        QVERIFY(drop({QUrl::fromLocalFile(book)}));
        QVERIFY(form.Panel2->isVisible());
        QVERIFY(form.RichEdit1->isVisible());
        QVERIFY(!form.ListBox1->isEnabled());
        QCOMPARE(form.Dfail->text(), book);
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("Капитанская дочка"));
        // A second drop on the open panel replaces the file and keeps the note.
        form.zametki->setText(QStringLiteral("заметка"));
        QVERIFY(drop({QUrl::fromLocalFile(TestBooks::path(QStringLiteral("book.odt")))}));
        QCOMPARE(form.Dfail->text(), TestBooks::path(QStringLiteral("book.odt")));
        QCOMPARE(form.zametki->text(), QStringLiteral("заметка"));
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(items(), QStringList{QStringLiteral("Капитанская дочка")});
        // A dropped picture is refused like a browsed one.
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::green);
        QVERIFY(image.save(path("picture.png")));
        QVERIFY(drop({QUrl::fromLocalFile(path("picture.png"))}));
        QCOMPARE(form.Dfail->text(), QString());
        QCOMPARE(dialogs().texts("message"), QStringList{BookImport::notABookMessage()});
    }

    void addingAnRtfBookSavesItsText() {
        QDir().mkdir(path("books"));
        const QString source = path("doc.rtf");
        TestFiles::write(
            source,
            "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Arial;}}\\f0\\b \\'c7\\'e0\\'e3\\'ee\\'eb"
            "\\'ee\\'e2\\'ee\\'ea\\b0\\par \\'d2\\'e5\\'ea\\'f1\\'f2\\par}");
        TForm1& form = start();
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("Заголовок"));
        QVERIFY(form.RichEdit1->document()->begin().begin().fragment().charFormat().font().bold());
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Заголовок.boo"))),
                 cp1251(QStringLiteral("Заголовок\r\nТекст\r\n")));
    }

    void addingAUtf8BookAndCreatingTheBooksFolder() {
        const QString source = path("utf8.txt");
        TestFiles::write(source, QStringLiteral("Сказка\nо рыбке").toUtf8());
        start();
        QVERIFY(!QDir(path("books")).exists());
        addBook(source, QString(), QString());
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Сказка.boo"))),
                 cp1251(QStringLiteral("Сказка\r\nо рыбке")));
        QVERIFY(dialogs().texts("error").isEmpty());
    }

    void addingRefusesAnExistingNameBeforeWriting() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Роман=старая\r\n")));
        writeBook(QStringLiteral("Роман"), "old text");
        const QString source = path("new.txt");
        TestFiles::write(source, "new text");
        TForm1& form = start();
        addBook(source, QStringLiteral("РОМАН"), QStringLiteral("новая"));
        QCOMPARE(dialogs().texts("error"),
                 QStringList{QStringLiteral("A key with the name of \"РОМАН\" already exists.")});
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Роман.boo"))), QByteArray("old text"));
        QVERIFY(!QFile::exists(path(QStringLiteral("books/РОМАН.boo"))));
        QCOMPARE(TestFiles::read(path("books.dat")), cp1251(QStringLiteral("Роман=старая\r\n")));
        QVERIFY(form.Panel2->isVisible());
        QCOMPARE(form.zametki->text(), QStringLiteral("новая"));
    }

    void addingRefusesANameThatIsNoFileName() {
        QDir().mkdir(path("books"));
        const QString source = path("x.txt");
        TestFiles::write(source, "text");
        TForm1& form = start();
        addBook(source, QStringLiteral("../outside"), QString());
        QCOMPARE(dialogs().texts("error"),
                 QStringList{
                     QStringLiteral("Cannot create file %1.").arg(path("books/../outside.boo"))});
        QVERIFY(!QFile::exists(path("outside.boo")));
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("\r\n"));
        QVERIFY(form.Panel2->isVisible());
        QVERIFY(!form.RichEdit1->PlainText()); // the preview stays rich for the next file
    }

    // Names that could not be stored as typed are refused before anything is written,
    // so the name in the list and the file's name always agree.
    void namesThatCannotBeStoredAreRefused_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        const QString refused = QStringLiteral("нельзя сохранить в названии книги. "
                                               "Пожалуйста, измените название.");
        QTest::newRow("letter missing from the code page")
            << QStringLiteral("Über") << QStringLiteral("Знак «Ü» ") + refused;
        QTest::newRow("letters of another script")
            << QStringLiteral("漢字 и 漢") << QStringLiteral("Знаки «漢 字» ") + refused;
        QTest::newRow("a character outside the basic plane")
            << QStringLiteral("Книга 😀") << QStringLiteral("Знак «😀» ") + refused;
        QTest::newRow("equals sign")
            << QStringLiteral("a=b") << QStringLiteral("Знак «=» ") + refused;
        QTest::newRow("too long for a file name")
            << QString(130, QChar(u'д')) << Library::longNameMessage();
        QTest::newRow("a leading dot: a hidden file")
            << QStringLiteral(".скрытая")
            << QStringLiteral("Название книги не может начинаться с точки: файл книги стал "
                              "бы скрытым. Пожалуйста, измените название.");
        QTest::newRow("blanks only") << QStringLiteral("   ")
                                     << QStringLiteral("Вы должны загрузить файл и указать "
                                                       "название книги");
    }
    void namesThatCannotBeStoredAreRefused() {
        QFETCH(QString, name);
        QFETCH(QString, message);
        TestFiles::write(path("books.dat"), "a=1\r\n");
        const QString source = path("x.txt");
        TestFiles::write(source, "text");
        TForm1& form = start();
        addBook(source, name, QString());
        QCOMPARE(dialogs().texts("message"), QStringList{message});
        QCOMPARE(dialogs().beeps, 1);
        QVERIFY(!QDir(path("books")).exists());
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("a=1\r\n"));
        QVERIFY(form.Panel2->isVisible());
        QCOMPARE(form.knigaimeno->text(), name);
    }

    // The name and note fields hold one line: a pasted text is cut at its first line
    // break, whatever the break.
    void pastedLineBreaksAreCut() {
        TestFiles::write(path("books.dat"), QByteArray());
        const QString source = path("x.txt");
        TestFiles::write(source, "text");
        TForm1& form = start();
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        form.knigaimeno->clear();
        QTest::keyClicks(form.knigaimeno, QStringLiteral("Name"));
        form.knigaimeno->setCursorPosition(1);
        for (const QString& text : {QStringLiteral("1\r\nвторая"), QStringLiteral("2\nx"),
                                    QStringLiteral("3\u2028x"), QStringLiteral("4\u2029x")}) {
            QApplication::clipboard()->setText(text);
            form.knigaimeno->paste();
        }
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("N1234ame"));
        QApplication::clipboard()->setText(QStringLiteral("заметка\r\nвторая строка"));
        form.zametki->paste();
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path("books.dat")),
                 cp1251(QStringLiteral("N1234ame=заметка\r\n")));
        QVERIFY(QFile::exists(path(QStringLiteral("books/N1234ame.boo"))));
    }

    // A name typed before the file is chosen is kept; the first line is proposed only
    // into a name the user has not typed.
    void aTypedNameIsNotReplacedByTheProposal() {
        const QString source = path("x.txt");
        TestFiles::write(source, "Первая строка\nтекст");
        TForm1& form = start();
        form.N9->trigger();
        QTest::keyClicks(form.knigaimeno, QStringLiteral("My title"));
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("My title"));
        form.ColorBtn2->click();
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("Первая строка"));
    }

    // Blank lines and blanks before a title are not proposed as a name that looks empty.
    void theProposedNameIsTheFirstLineThatIsNotBlank() {
        const QString source = path("x.txt");
        TestFiles::write(source, cp1251(QStringLiteral("  \r\n\r\n   Война  и\tмир  \r\nтекст")));
        TForm1& form = start();
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("Война и мир"));
    }

    void addingNeedsAFileAndAName() {
        start();
        m_form->N9->trigger();
        m_form->knigaimeno->setText(QStringLiteral("имя"));
        QTest::mouseClick(m_form->ColorBtn1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("message").last(),
                 QStringLiteral("Вы должны загрузить файл и указать название книги"));
        QVERIFY(m_form->Panel2->isVisible());
    }

    void addingOverAnUnlistedFileAsksFirst() {
        TestFiles::write(path("books.dat"), "\r\n");
        writeBook(QStringLiteral("Сирота"), "unlisted text");
        QTemporaryDir outside;
        const QString target = outside.filePath(QStringLiteral("private.txt"));
        TestFiles::write(target, "outside bytes");
        QVERIFY(QFile::link(target, path(QStringLiteral("books/Ссылка.boo"))));
        const QString source = path("new.txt");
        TestFiles::write(source, "new text");
        TForm1& form = start();
        const QString question =
            QStringLiteral("В папке книг уже есть файл %1, которого нет в списке. Заменить его?");

        // "Cancel" keeps the file and the add panel as they were.
        dialogs().confirmations.enqueue(false);
        addBook(source, QStringLiteral("Сирота"), QStringLiteral("заметка"));
        QCOMPARE(dialogs().texts("confirm"),
                 QStringList{question.arg(path(QStringLiteral("books/Сирота.boo")))});
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Сирота.boo"))),
                 QByteArray("unlisted text"));
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("\r\n"));
        QVERIFY(form.Panel2->isVisible());

        // "OK" replaces it; over a link, the link itself, never the file it points to.
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Сирота.boo"))), QByteArray("new text"));
        addBook(source, QStringLiteral("Ссылка"), QString());
        QCOMPARE(dialogs().texts("confirm").last(),
                 question.arg(path(QStringLiteral("books/Ссылка.boo"))));
        QCOMPARE(TestFiles::read(target), QByteArray("outside bytes"));
        QVERIFY(!QFileInfo(path(QStringLiteral("books/Ссылка.boo"))).isSymLink());
        QCOMPARE(items(), (QStringList{QStringLiteral("Сирота"), QStringLiteral("Ссылка")}));

        // A new name asks nothing.
        addBook(source, QStringLiteral("Новая"), QString());
        QCOMPARE(dialogs().texts("confirm").size(), 3);
        QVERIFY(dialogs().texts("error").isEmpty());
    }

    void importingAFifoFailsAtOnce() {
        const QString fifo = path("pipe.txt");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        TForm1& form = start();
        form.N9->trigger();
        dialogs().files.enqueue(fifo);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("error"),
                 QStringList{QStringLiteral("Cannot open file %1.").arg(fifo)});
        QVERIFY(form.RichEdit1->WholeText().isEmpty());
    }

    void aLongPastedNoteIsKeptWhole() {
        TestFiles::write(path("books.dat"), "\r\n");
        const QString source = path("n.txt");
        TestFiles::write(source, "text");
        TForm1& form = start();
        const QString note(40000, QChar(u'ж'));
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        form.zametki->setFocus();
        form.zametki->insert(note);
        QCOMPARE(form.zametki->text(), note);
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path("books.dat")), "text=" + cp1251(note) + "\r\n");
    }

    // Characters code page 1251 lacks: the near ones take their nearest form, the rest
    // are asked about before anything is written.
    void lettersTheCodePageLacksAreKeptOrAskedAbout() {
        TestFiles::write(path("books.dat"), "\r\n");
        const QString source = path("u.txt");
        TestFiles::write(source, QStringLiteral("Старый за\u0301мок, café, 1\u2009000 \u2212 "
                                                "\u4E2D \U0001F600 \u4E2D")
                                     .toUtf8());
        TForm1& form = start();
        const QString question =
            QStringLiteral("В книге есть знаки, которых нет в кодировке 1251: \u4E2D "
                           "\U0001F600. Они будут сохранены как «?». Сохранить книгу?");
        dialogs().confirmations.enqueue(false);
        addBook(source, QStringLiteral("Замок"), QString());
        QCOMPARE(dialogs().texts("confirm"), QStringList{question});
        QVERIFY(!QFile::exists(path(QStringLiteral("books/Замок.boo"))));
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("\r\n"));
        QVERIFY(form.Panel2->isVisible());
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton); // OK this time
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Замок.boo"))),
                 cp1251(QStringLiteral("Старый замок, cafe, 1 000 - ? ? ?")));

        // Nothing lost: nothing asked; the proposed name is the stored form too.
        TestFiles::write(source, QStringLiteral("Ударе\u0301ние \u2014 ё").toUtf8());
        addBook(source, QString(), QString());
        QCOMPARE(dialogs().texts("confirm").size(), 2);
        QCOMPARE(dialogs().texts("message"), QStringList());
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Ударение \u2014 ё.boo"))),
                 cp1251(QStringLiteral("Ударение \u2014 ё")));
    }

    // Browsing again and cancelling keeps the file chosen; a file that cannot be read
    // leaves none, so no empty book is ever stored.
    void theChosenFileStaysUntilAnotherIsRead() {
        TestFiles::write(path("books.dat"), "\r\n");
        const QString source = path("first.txt");
        TestFiles::write(source, cp1251(QStringLiteral("Первая книга")));
        TForm1& form = start();
        addBook(source, QString(), QString());
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton); // browse, then cancel
        QCOMPARE(form.Dfail->text(), source);
        QCOMPARE(form.RichEdit1->WholeText(), QStringLiteral("Первая книга"));
        form.knigaimeno->setText(QStringLiteral("Вторая"));
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Вторая.boo"))),
                 cp1251(QStringLiteral("Первая книга")));

        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        dialogs().files.enqueue(path("missing.txt"));
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("error").size(), 1);
        QVERIFY(form.Dfail->text().isEmpty());
        form.knigaimeno->setText(QStringLiteral("Пустая"));
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(dialogs().texts("message").last(),
                 QStringLiteral("Вы должны загрузить файл и указать название книги"));
        QVERIFY(!QFile::exists(path(QStringLiteral("books/Пустая.boo"))));
        QCOMPARE(items(), (QStringList{QStringLiteral("Вторая"), QStringLiteral("Первая книга")}));
    }

    // «Кодировка»: a previewed plain text is decoded again in the code page chosen.
    void aCodePageChosenByHand_data() {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        // Too short to tell code pages apart: detection takes it for code page 1251.
        const QString text = QStringLiteral("Привет, мир");
        // UTF-16 without a mark is refused as no text when shorter than this.
        const QString longer = QStringLiteral("Привет, мир!!");
        QTest::newRow("KOI8-R") << QStringLiteral("KOI8-R")
                                << QByteArray(QStringEncoder("KOI8-R")(text)) << text;
        QTest::newRow("DOS (866)")
            << QStringLiteral("DOS (866)") << QByteArray(QStringEncoder("IBM866")(text)) << text;
        QTest::newRow("ISO-8859-5") << QStringLiteral("ISO-8859-5")
                                    << QByteArray(QStringEncoder("ISO-8859-5")(text)) << text;
        QTest::newRow("Mac") << QStringLiteral("Mac")
                             << QByteArray(QStringEncoder("x-mac-cyrillic")(text)) << text;
        QTest::newRow("UTF-16 big-endian, no mark")
            << QStringLiteral("UTF-16")
            << QByteArray(QStringEncoder(QStringEncoder::Utf16BE)(longer)) << longer;
        QTest::newRow("UTF-16 little-endian, no mark")
            << QStringLiteral("UTF-16")
            << QByteArray(QStringEncoder(QStringEncoder::Utf16LE)(longer)) << longer;
    }
    void aCodePageChosenByHand() {
        QFETCH(QString, choice);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QString source = path("short.txt");
        TestFiles::write(source, bytes);
        TForm1& form = start();
        QList<QRect> before;
        const QList<QWidget*> controls = form.Panel2->findChildren<QWidget*>();
        for (QWidget* control : controls)
            before << control->geometry();
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QVERIFY(form.CodePageChoice->isVisible());
        QCOMPARE(form.CodePageChoice->text(), QStringLiteral("Кодировка: авто"));
        const auto pick = [&](const QString& name) {
            for (QAction* action : form.CodePageChoice->menu()->actions())
                if (action->text() == name)
                    action->trigger();
        };
        pick(choice);
        QCOMPARE(form.RichEdit1->WholeText(), text);
        QCOMPARE(form.knigaimeno->text(), text);
        QVERIFY(form.CodePageChoice->text().startsWith(QStringLiteral("Кодировка: ")));
        // A typed name stays; «Автоматически» gives the detected reading back.
        form.knigaimeno->clear();
        QTest::keyClicks(form.knigaimeno, QStringLiteral("Moja"));
        pick(QStringLiteral("Автоматически"));
        QCOMPARE(form.RichEdit1->WholeText(), ImportedText::decode(bytes));
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("Moja"));
        pick(choice);
        QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        QCOMPARE(TestFiles::read(path(QStringLiteral("books/Moja.boo"))), cp1251(text));

        // Every other control kept its place; the choice covers none of them.
        for (qsizetype i = 0; i < controls.size(); ++i) {
            QCOMPARE(controls[i]->geometry(), before[i]);
            if (controls[i] != form.CodePageChoice && !controls[i]->isHidden())
                QVERIFY(!controls[i]->geometry().intersects(form.CodePageChoice->geometry()));
        }
        QVERIFY(form.Panel2->rect().contains(form.CodePageChoice->geometry()));

        // A formatted book has its code page from its own markup: no choice.
        form.N9->trigger();
        dialogs().files.enqueue(TestBooks::path(QStringLiteral("book.fb2")));
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QVERIFY(form.CodePageChoice->isHidden());
    }

    // The file dialog opens once per request: the browse button, or Enter in the empty
    // file field; Enter after a typed path loads that path without a dialog.
    void theFileIsChosenOnceByButtonOrEnter() {
        const QString first = path("first.txt");
        const QString second = path("second.txt");
        TestFiles::write(first, "Первая");
        TestFiles::write(second, "Вторая");
        TForm1& form = start();
        form.N9->trigger();
        dialogs().files.enqueue(first);
        dialogs().files.enqueue(second);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QCOMPARE(dialogs().files.size(), 1);
        QCOMPARE(form.Dfail->text(), first);
        form.Dfail->clear();
        QTest::keyClick(form.Dfail, Qt::Key_Return);
        QCOMPARE(dialogs().files.size(), 0);
        QCOMPARE(form.Dfail->text(), second);
        form.Dfail->setText(first);
        QTest::keyClick(form.Dfail, Qt::Key_Return);
        QCOMPARE(form.RichEdit1->WholeText(), QStringLiteral("Первая"));
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("Первая"));
    }

    // Assistive technology sees the browse button by its name, and the code-page menu's
    // choices under their button, also while the menu is closed.
    void theAddPanelsButtonsToAssistiveTechnology() {
        TForm1& form = start();
        form.N9->trigger();
        QAccessibleInterface* browse = QAccessible::queryAccessibleInterface(form.SpeedButton1);
        QVERIFY(browse);
        QCOMPARE(browse->text(QAccessible::Name), QStringLiteral("Выбрать файл"));
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(form.CodePageChoice);
        QVERIFY(button);
        QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Кодировка: авто"));
        QCOMPARE(button->childCount(), 1);
        QAccessibleInterface* menu = button->child(0);
        QVERIFY(menu);
        QCOMPARE(menu->object(), form.CodePageChoice->menu());
        QCOMPARE(button->indexOfChild(menu), 0);
        QStringList choices;
        for (int i = 0; i < menu->childCount(); ++i)
            choices << menu->child(i)->text(QAccessible::Name);
        QVERIFY(choices.contains(QStringLiteral("KOI8-R")));
        QVERIFY(button->actionInterface());
    }

    void cancellingAddsNothing() {
        TestFiles::write(path("books.dat"), "a=1\r\n");
        const QString source = path("c.txt");
        TestFiles::write(source, "text");
        TForm1& form = start();
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        QTest::mouseClick(form.ColorBtn2, Qt::LeftButton);
        QVERIFY(form.Panel2->isHidden());
        QVERIFY(form.Panel5->isVisible());
        QVERIFY(form.ListBox1->isEnabled());
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("a=1\r\n"));
        QVERIFY(!QDir(path("books")).exists());
        QCOMPARE(form.knigaimeno->text(), QStringLiteral("text"));
    }

    // A list widened by the user makes room for the add panel's buttons while the panel
    // shows, and takes its width again after.
    void theAddPanelsButtonsStayInTheWindow() {
        TForm1& form = start();
        form.resize(765, form.height());
        form.Panel4->setWidth(340);
        QCOMPARE(form.Panel4->Width(), 340);
        form.N9->trigger();
        QCoreApplication::processEvents();
        const QRect save(form.ColorBtn1->mapTo(&form, QPoint(0, 0)), form.ColorBtn1->size());
        QVERIFY2(form.rect().contains(save), qPrintable(QString::number(save.right())));
        QCOMPARE(form.Panel4->property("Width").toInt(), 340); // what is stored
        QTest::mouseClick(form.ColorBtn2, Qt::LeftButton);
        QCOMPARE(form.Panel4->Width(), 340);
    }

    // ---- Deleting ---------------------------------------------------------------------

    void deletingNeedsASelectionAndAnOk() {
        TestFiles::write(path("books.dat"), "a=1\r\nb=2\r\n");
        writeBook("a", "A");
        TForm1& form = start();
        form.N8->trigger();
        QVERIFY(dialogs().shown.isEmpty());
        click(0);
        dialogs().confirmations.enqueue(false);
        form.N8->trigger();
        QCOMPARE(dialogs().texts("confirm"),
                 QStringList{QStringLiteral("Книга будет полностью удалена! Продолжить?")});
        QCOMPARE(dialogs().beeps, 1);
        QVERIFY(QFile::exists(path("books/a.boo")));
        form.N8->trigger();
        QVERIFY(!QFile::exists(path("books/a.boo")));
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("b=2\r\n"));
        QCOMPARE(items(), QStringList{"b"});
        QVERIFY(form.ListBox1->selectedItems().isEmpty());
        QCOMPARE(form.Edit1->text(), QStringLiteral("a")); // details keep the deleted book
    }

    // A catalogue line of megabytes lists its name by the start; the row still stands for
    // the whole name: the details, the deletion and the opening address its own row. Two
    // names alike in their start keep catalogue order. (The names here are a few thousand
    // letters: any name over the shown length takes the same path.)
    void anOverlongNameIsShownByItsStart() {
        const QString common(3000, QChar(0x042F)); // Я
        const QString second = common + QStringLiteral("2"), first = common + QStringLiteral("1");
        const QByteArray catalogue = cp1251(second + QStringLiteral("=вторая\r\n") + first +
                                            QStringLiteral("=первая\r\nа=коротка\r\n"));
        TestFiles::write(path("books.dat"), catalogue);
        writeBook(QStringLiteral("а"), "A");
        TForm1& form = start();
        const QString shown = BookListModel::shownStart(second);
        QVERIFY(shown.size() < 1100);
        QVERIFY(common.startsWith(shown.chopped(1)));
        QCOMPARE(items(), (QStringList{QStringLiteral("а"), shown, shown}));
        QCOMPARE(form.listModel()->nameAt(1), second);

        click(2);
        QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("первая"));
        QCOMPARE(form.catalogue().CurrentRow(), 1);
        QCOMPARE(form.Edit1->text(), shown);
        QCOMPARE(panel(3), QStringLiteral("-1/0"));
        QVERIFY(panel(4).startsWith(path("books/") + shown.chopped(1).left(900)));
        QVERIFY(panel(4).size() < 1100);

        dialogs().clear();
        doubleClick(1); // no file can carry the name
        QCOMPARE(dialogs().texts("message"),
                 QStringList{QStringLiteral(
                     "Файл книги не найден. Возможно, он был удален или переименован.")});
        QVERIFY(!m_reader->isVisible());

        click(2);
        form.N8->trigger();
        QCOMPARE(TestFiles::read(path("books.dat")),
                 cp1251(second + QStringLiteral("=вторая\r\nа=коротка\r\n")));
        QCOMPARE(items(), (QStringList{QStringLiteral("а"), shown}));
        QCOMPARE(form.listModel()->nameAt(1), second);
        doubleClick(0);
        QVERIFY(m_reader->isVisible());
    }

    void deletingABookWhoseFileIsGone() {
        TestFiles::write(path("books.dat"), "a=1\r\nb=2\r\n");
        start();
        click(1);
        m_form->N8->trigger();
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("a=1\r\n"));
    }

    void deletingTheBlankItem() {
        TestFiles::write(path("books.dat"), QByteArray());
        start();
        click(0);
        dialogs().clear();
        m_form->N8->trigger();
        QCOMPARE(dialogs().texts("error"),
                 QStringList{QStringLiteral("List index out of bounds (0)")});
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray());

        TestFiles::write(path("books.dat"), "\r\n");
        start();
        m_form->ListBox1->item(0)->setSelected(true); // selecting it runs the click
        m_form->N8->trigger();
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray());
    }

    void deletingAfterASearchBoxSelection() {
        TestFiles::write(path("books.dat"), "alpha=1\r\nbeta=2\r\ngamma=3\r\n");
        writeBook("alpha", "A");
        writeBook("gamma", "G");
        TForm1& form = start();
        click(0); // alpha is the current row
        QTest::keyClicks(form.pb, QStringLiteral("g"));
        form.N8->trigger();
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("alpha=1\r\nbeta=2\r\n"));
        QVERIFY(!QFile::exists(path("books/gamma.boo")));
        QVERIFY(QFile::exists(path("books/alpha.boo")));
    }

    void failedCatalogueWriteKeepsTheOldFile() {
        TestFiles::write(path("books.dat"), "a=1\r\nb=2\r\n");
        start();
        click(0);
        TestFiles::setReadOnly(path("books.dat"), true);
        m_form->N8->trigger();
        TestFiles::setReadOnly(path("books.dat"), false);
        QCOMPARE(dialogs().texts("error"),
                 QStringList{QStringLiteral("Cannot create file %1.").arg(path("books.dat"))});
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("a=1\r\nb=2\r\n"));
    }

    // A step that fails undoes the earlier steps of its action: the folder is as before.
    void aReadOnlyCatalogueChangesNoFile() {
        TestFiles::write(path("books.dat"), "a=1\r\nb=2\r\n");
        writeBook("a", "A");
        const QString source = m_dir->filePath(QStringLiteral("../x-%1.txt").arg(quintptr(this)));
        TestFiles::write(source, "new book");
        TForm1& form = start();
        TestFiles::setReadOnly(path("books.dat"), true);
        const auto before = TestFiles::snapshot(m_dir->path());
        addBook(source, QStringLiteral("Новая"), QString());
        QFile::remove(source);
        form.ColorBtn2->click();
        click(0);
        form.N8->trigger();
        const auto after = TestFiles::snapshot(m_dir->path());
        TestFiles::setReadOnly(path("books.dat"), false);
        const QString error = QStringLiteral("Cannot create file %1.").arg(path("books.dat"));
        QCOMPARE(dialogs().texts("error"), (QStringList{error, error}));
        QCOMPARE(after, before);
        QCOMPARE(items(), (QStringList{"a", "b"}));
    }

    // Rows repeating a name in another letter case (an outside edit): each item stands
    // for its own row, for showing and deleting alike.
    void itemsInAnotherLetterCase() {
        TestFiles::write(path("books.dat"), "a=small\r\nA=capital\r\n");
        writeBook("a", "small");
        writeBook("A", "capital");
        TForm1& form = start();
        const int small = items().indexOf("a");
        const int capital = items().indexOf("A");
        click(small);
        QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("small"));
        click(capital);
        QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("capital"));
        form.N8->trigger();
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("a=small\r\n"));
        QCOMPARE(TestFiles::read(path("books/a.boo")), QByteArray("small"));
        QVERIFY(!QFile::exists(path("books/A.boo")));
        QCOMPARE(items(), QStringList{"a"});
    }

    // ---- Help and About ---------------------------------------------------------------

    void helpDisablesTheLibraryWindowUntilClosed() {
        TForm1& form = start();
        m_reader->show();
        form.activateWindow();
        QTest::keyClick(&form, Qt::Key_F1);
        QVERIFY(!form.isEnabled());
        QVERIFY(m_reader->isEnabled());
        TSpravka* help = form.helpWindow();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("Справка программы Vellumar"));
        QCOMPARE(help->size(), QSize(546, 471));
        const auto* memo = help->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        QCOMPARE(memo->toPlainText().split(QLatin1Char('\n')).size(), 21);
        QCOMPARE(memo->toPlainText().split(QLatin1Char('\n'))[0],
                 QStringLiteral("Программа Tomeria (прототип) - простейшая читалка текстовых "));
        // The window manager keeps help above the library window it belongs to.
        QCOMPARE(help->windowHandle()->transientParent(), form.windowHandle());
        // All 21 lines show, each on one line of the memo, with no scroll bar.
        QVERIFY(!memo->verticalScrollBar()->isVisible());
        QCOMPARE(memo->verticalScrollBar()->maximum(), 0);
        for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next())
            QVERIFY2(block.layout()->lineCount() == 1, qPrintable(block.text()));
        QTest::mouseClick(help->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(form.isEnabled());
        QTRY_VERIFY(form.helpWindow() == nullptr);

        form.N22->trigger();
        QVERIFY(!form.isEnabled());
        form.helpWindow()->close(); // the close box and Alt+F4 close the same way
        QVERIFY(form.isEnabled());
        // Esc closes it from the text, Enter from «Ок».
        for (const QString& focus : {QStringLiteral("Memo1"), QStringLiteral("Button1")}) {
            form.N22->trigger();
            QWidget* target = form.helpWindow()->findChild<QWidget*>(focus);
            QTest::keyClick(target,
                            focus == QLatin1String("Memo1") ? Qt::Key_Escape : Qt::Key_Return);
            QVERIFY(form.isEnabled());
        }
    }
};

QTEST_MAIN(TestLibraryWindow)
#include "test_library_window.moc"
