#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/library_window.h"
#include "ui/reader/reader_window.h"
#include "ui/search/search_window.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using TestFiles::cp1251;

// The search window driven through the library window and the reader, over a library
// in a temporary folder and the index in a temporary cache folder.
class TestSearchWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_cache;
    std::unique_ptr<DialogsScope> m_dialogs;
    std::unique_ptr<TMainForm> m_reader;
    std::unique_ptr<TForm1> m_form;
    QString m_previousFolder;

    const QString kWar = QStringLiteral("Началась война.\r\nО войне говорили все; войной жили.\r\n"
                                        "Князь Андрей читал письмо.");

    QString path(const QString& name) const { return m_dir->filePath(name); }
    void writeBook(const QString& name, const QString& text) {
        QDir().mkpath(path(QStringLiteral("books")));
        TestFiles::write(path(QStringLiteral("books/") + name + QStringLiteral(".boo")),
                         cp1251(text));
    }
    void waitForIndex() { QTRY_VERIFY_WITH_TIMEOUT(!m_form->searchIndexer()->busy(), 20000); }
    SearchWindow* openSearch() {
        m_reader->hide();
        m_form->activateWindow();
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(m_form.get());
        QTest::keyClick(m_form.get(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        SearchWindow* window = m_form->searchWindow();
        if (window) [[maybe_unused]]
            const bool shown = QTest::qWaitForWindowExposed(window);
        return window;
    }
    // Types Russian text key by key (QTest::keyClicks takes Latin-1 only).
    static void type(QWidget* widget, const QString& text) {
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    void search(SearchWindow* window, const QString& query) {
        window->QueryEdit->clear();
        type(window->QueryEdit, query);
        QTest::keyClick(window->QueryEdit, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!window->searching(), 20000);
    }
    QStringList bookRows(SearchWindow* window) const {
        QStringList rows;
        for (int i = 0; i < window->Results->topLevelItemCount(); ++i)
            rows << window->Results->topLevelItem(i)->text(0);
        return rows;
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_cache = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CACHE_HOME", m_cache->path().toUtf8());
        m_previousFolder = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        m_dialogs = std::make_unique<DialogsScope>();
        TestFiles::write(path(QStringLiteral("books.dat")),
                         cp1251(QStringLiteral("Война и мир=\r\nСад=\r\n")));
        writeBook(QStringLiteral("Война и мир"), kWar);
        writeBook(QStringLiteral("Сад"), QStringLiteral("Вишнёвый сад. Войны не было."));
        m_reader = std::make_unique<TMainForm>();
        m_form = std::make_unique<TForm1>();
        m_form->setReaderWindow(m_reader.get());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        waitForIndex();
    }
    void cleanup() {
        m_form.reset();
        m_reader.reset();
        m_dialogs.reset();
        QDir::setCurrent(m_previousFolder);
        m_dir.reset();
    }

    void menuItemBelowDelete() {
        const QList<QAction*> actions =
            m_form->N8->associatedObjects().isEmpty()
                ? QList<QAction*>{}
                : qobject_cast<QMenu*>(m_form->N8->associatedObjects().first())->actions();
        const qsizetype at = actions.indexOf(m_form->N8);
        QVERIFY(at >= 0 && at + 1 < actions.size());
        QCOMPARE(actions[at + 1]->text(), QStringLiteral("Поиск по тексту книг…"));
        QCOMPARE(actions[at + 1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    }

    // One window, kept by the library window; its place and size go to tomeria.ini.
    void oneWindowPlacedAsLastLeft() {
        SearchWindow* window = openSearch();
        QVERIFY(window);
        window->resize(640, 360);
        window->close();
        QCOMPARE(openSearch(), window);
        window->close();
        const QString ini =
            QString::fromLatin1(TestFiles::read(path(QStringLiteral("tomeria.ini"))));
        QVERIFY2(ini.contains(QStringLiteral("[SearchWindow]")), qPrintable(ini));
        // The size with the frame, wherever the window stood.
        const QRegularExpressionMatch norm =
            QRegularExpression(QStringLiteral("\nNormPos=(-?\\d+),(-?\\d+),(-?\\d+),(-?\\d+)"))
                .match(ini);
        QVERIFY2(norm.hasMatch(), qPrintable(ini));
        QCOMPARE(norm.captured(3).toInt() - norm.captured(1).toInt(), 644);
        QCOMPARE(norm.captured(4).toInt() - norm.captured(2).toInt(), 364);
    }

    // Esc closes the window, from the query field as from the results.
    void escapeCloses() {
        SearchWindow* window = openSearch();
        QVERIFY(window);
        QTest::keyClick(window->QueryEdit, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QCOMPARE(openSearch(), window);
        window->Results->setFocus();
        QTest::keyClick(window->Results, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
    }

    // Ctrl+Shift+F, «войной», a place double-clicked: the reader shows the book with the
    // word found selected.
    void placeOpensTheReaderThere() {
        SearchWindow* window = openSearch();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Поиск по тексту книг"));
        search(window, QStringLiteral("войной"));
        QCOMPARE(bookRows(window),
                 (QStringList{QStringLiteral("Война и мир"), QStringLiteral("Сад")}));
        QTreeWidgetItem* book = window->Results->topLevelItem(0);
        QCOMPARE(book->text(1), QStringLiteral("3"));
        QVERIFY(
            window->StatusLine->text().startsWith(QStringLiteral("Найдено: 2 книги, 4 места, ")));

        window->Results->expandItem(book);
        QTRY_COMPARE(book->childCount(), 3);
        QVERIFY2(book->child(2)->text(2).contains(QStringLiteral("<b>войной</b>")),
                 qPrintable(book->child(2)->text(2)));
        const QRect row = window->Results->visualItemRect(book->child(2));
        QTest::mouseClick(window->Results->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(window->Results->viewport(), Qt::LeftButton, {}, row.center());
        QTRY_VERIFY(m_reader->isVisible());
        QCOMPARE(m_reader->View->selectionStart(), kWar.indexOf(QStringLiteral("войной")));
        QCOMPARE(m_reader->View->selectedText(), QStringLiteral("войной"));
        QCOMPARE(m_reader->StatusBar->panelText(0), QStringLiteral("Строка:   2   Символ:  23"));

        // Enter on a book's row opens its first place.
        m_reader->hide();
        window->Results->setCurrentItem(window->Results->topLevelItem(1));
        QTest::keyClick(window->Results, Qt::Key_Return);
        QTRY_VERIFY(m_reader->isVisible());
        QCOMPARE(m_reader->View->selectedText(), QStringLiteral("Войны"));
    }

    // What befell the index before the search window was made is on its status line:
    // a damaged index made anew, a cache folder that cannot be written.
    void statusLineTellsOfTheIndex_data() {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("status");
        QTest::newRow("damaged at the start")
            << QStringLiteral("damaged")
            << QStringLiteral("Указатель был повреждён и построен заново");
        QTest::newRow("cache folder unwritable")
            << QStringLiteral("unwritable")
            << QStringLiteral("Указатель не обновляется: папка указателя недоступна для записи");
    }
    void statusLineTellsOfTheIndex() {
        QFETCH(QString, trouble);
        QFETCH(QString, status);
        const QString location = SearchIndex::locationFor(m_dir->path());
        m_form.reset();
        if (trouble == QStringLiteral("damaged")) {
            TestFiles::write(location + QStringLiteral("/postlist.glass"), {});
        } else {
            QDir(m_cache->filePath(QStringLiteral("tomeria"))).removeRecursively();
            TestFiles::write(m_cache->filePath(QStringLiteral("tomeria")), "not a folder");
        }
        m_form = std::make_unique<TForm1>();
        m_form->setReaderWindow(m_reader.get());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        waitForIndex();
        SearchWindow* window = openSearch();
        QVERIFY(window);
        QVERIFY2(window->StatusLine->text().contains(status),
                 qPrintable(window->StatusLine->text()));
        if (trouble == QStringLiteral("damaged")) {
            search(window, QStringLiteral("войной"));
            QCOMPARE(bookRows(window),
                     (QStringList{QStringLiteral("Война и мир"), QStringLiteral("Сад")}));
        }
    }

    // A pasted passage of 1,000 words: searched by its first 100, and the status line
    // says so; its first result opens.
    void longPastedQuery() {
        SearchWindow* window = openSearch();
        QStringList words;
        for (int i = 0; i < 1000; ++i)
            words << (i % 3 ? QStringLiteral("войной") : QStringLiteral("князь"));
        window->QueryEdit->setText(words.join(QLatin1Char(' ')));
        QTest::keyClick(window->QueryEdit, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!window->searching(), 20000);
        QVERIFY2(window->StatusLine->text().contains(
                     QStringLiteral("Запрос длиннее 100 слов: искались первые 100")),
                 qPrintable(window->StatusLine->text()));
        QCOMPARE(bookRows(window), QStringList{QStringLiteral("Война и мир")});
        window->Results->setCurrentItem(window->Results->topLevelItem(0));
        QTest::keyClick(window->Results, Qt::Key_Return);
        QTRY_VERIFY(m_reader->isVisible());
        QCOMPARE(m_reader->View->selectedText(), QStringLiteral("война"));
    }

    // A screen reader reads a result's snippet as plain text, without the bold tags.
    void snippetsReadAsPlainText() {
        SearchWindow* window = openSearch();
        search(window, QStringLiteral("войной"));
        QTreeWidgetItem* book = window->Results->topLevelItem(0);
        window->Results->expandItem(book);
        QTRY_COMPARE(book->childCount(), 3);
        QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(window->Results);
        QVERIFY(tree && tree->tableInterface());
        QAccessibleInterface* cell = tree->tableInterface()->cellAt(0, 2);
        QVERIFY(cell);
        QCOMPARE(cell->text(QAccessible::Name),
                 QStringLiteral("Началась война. О войне говорили все; войной жили. Князь "
                                "Андрей читал письмо."));
        QVERIFY(book->text(2).contains(QStringLiteral("<b>")));
        const QString place = book->child(2)->data(2, Qt::AccessibleTextRole).toString();
        QVERIFY2(!place.contains(QLatin1Char('<')) && place.contains(QStringLiteral("войной")),
                 qPrintable(place));
    }

    // A stored place off the screen, or larger than it: the window stands wholly on it.
    void placeFittedToTheScreen_data() {
        QTest::addColumn<QString>("normPos");
        QTest::newRow("far right and below") << QStringLiteral("5000,5000,5760,5480");
        QTest::newRow("far left and above") << QStringLiteral("-9000,-9000,-8000,-8500");
        QTest::newRow("larger than any screen")
            << QStringLiteral("-2147483648,-2147483648,2147483647,2147483647");
    }
    void placeFittedToTheScreen() {
        QFETCH(QString, normPos);
        TestFiles::write(path(QStringLiteral("tomeria.ini")),
                         cp1251(QStringLiteral("[SearchWindow]\r\nNormPos=") + normPos +
                                QStringLiteral("\r\n")));
        SearchWindow* window = openSearch();
        QVERIFY(window);
        const QRect available = window->screen()->availableGeometry();
        QVERIFY2(available.contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())));
    }

    // A newer query gives up the one before: whatever answer of the older one comes, the
    // list shows the newer query's books.
    void newerQueryWins() {
        SearchWindow* window = openSearch();
        window->QueryEdit->setText(QStringLiteral("сады"));
        window->runSearch();
        window->QueryEdit->setText(QStringLiteral("князь"));
        window->runSearch();
        QTRY_VERIFY_WITH_TIMEOUT(!window->searching(), 20000);
        QTest::qWait(100); // an older answer would have come by now
        QCOMPARE(bookRows(window), QStringList{QStringLiteral("Война и мир")});
    }

    void searchesAfterAPauseInTyping() {
        SearchWindow* window = openSearch();
        type(window->QueryEdit, QStringLiteral("сады"));
        QCOMPARE(window->Results->topLevelItemCount(), 0);
        QTRY_COMPARE(bookRows(window), QStringList{QStringLiteral("Сад")});
    }

    // The library's actions reach the index: a book saved in the reader is found by its
    // new words, a deleted book is no longer found.
    void followsSavesAndDeletes() {
        m_reader->openBook(path(QStringLiteral("books/Сад.boo")));
        m_reader->ToolButton7Click();
        m_reader->Editor->selectAll();
        m_reader->Editor->insertText(QStringLiteral("Самовар на столе."));
        m_reader->ToolButton1Click();
        waitForIndex();
        SearchWindow* window = openSearch();
        search(window, QStringLiteral("самовары"));
        QCOMPARE(bookRows(window), QStringList{QStringLiteral("Сад")});

        m_form->ListBox1->setCurrentRow(1);
        m_form->ListBox1Click();
        m_form->N8->trigger();
        waitForIndex();
        search(window, QStringLiteral("самовар"));
        QCOMPARE(bookRows(window), QStringList{});
        QVERIFY(window->StatusLine->text().startsWith(QStringLiteral("Найдено: 0 книг, 0 мест, ")));
    }
};

QTEST_MAIN(TestSearchWindow)
#include "test_search_window.moc"
