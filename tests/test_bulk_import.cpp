// Adding a whole folder of books: what each file becomes (name, note, stored text,
// repeat), what the report says, and that the catalogue and the book files agree after
// the end, a stop, a full disk (the short-write library is preloaded) and a catalogue
// that cannot be written. The window's part: the menu items, drops, the list filling in
// while the import runs, and the list's Enter, Delete and tooltips.

#include "core/base/cp1251.h"
#include "core/formats/book_import.h"
#include "core/library/bulk_import.h"
#include "core/library/import_source.h"
#include "core/library/library.h"
#include "support/full_disk.h"
#include "support/recording_dialogs.h"
#include "support/test_books.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/bulk_import_window.h"
#include "ui/library/library_window.h"
#include "ui/reader/reader_window.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <dlfcn.h>
#include <unistd.h>

using TestFiles::cp1251;

namespace {

QByteArray fb2(const QString& title, const QString& author, const QString& body) {
    const QString first = author.section(QLatin1Char(' '), 0, 0);
    const QString last = author.section(QLatin1Char(' '), 1);
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\">"
                          "<description><title-info><author><first-name>%1</first-name>"
                          "<last-name>%2</last-name></author><book-title>%3</book-title>"
                          "</title-info></description><body><section><p>%4</p></section>"
                          "</body></FictionBook>\n")
        .arg(first, last, title, body)
        .toUtf8();
}

void write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    TestFiles::write(path, bytes);
}

// What the add-book panel stores for a file: the preview's plain text (a NUL shown as
// its symbol), in its nearest code page 1251 form.
QByteArray storedByTheAddPanel(const QByteArray& data) {
    RichTextEditor editor;
    editor.ShowImported(BookImport::read(data));
    QString text = editor.WholeText();
    text.replace(QChar(0x2400), QChar(0));
    return Cp1251::encodeStorable(text);
}

// The catalogue's names, read from books.dat.
QStringList cataloguedNames(const QString& folder) {
    Catalogue catalogue;
    catalogue.LoadCatalogue(folder + QStringLiteral("/books.dat"));
    QStringList names;
    for (int row = 0; row < catalogue.rowCount(); ++row)
        names.append(catalogue.NameAt(row));
    return names;
}

// The files of books/, hidden ones included.
QStringList bookFiles(const QString& folder) {
    return QDir(folder + QStringLiteral("/books"))
        .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestBulkImport : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_cache;
    std::unique_ptr<DialogsScope> m_dialogs;
    QString m_previousFolder;

    QString library() const { return m_dir->filePath(QStringLiteral("library")); }
    QString source() const { return m_dir->filePath(QStringLiteral("source")); }

    // The library window on library(), with its reader, shown.
    struct Windows {
        TMainForm reader;
        TForm1 form;
        Windows() {
            form.setReaderWindow(&reader);
            form.show();
        }
    };
    std::unique_ptr<Windows> showWindows() {
        QDir::setCurrent(library());
        auto windows = std::make_unique<Windows>();
        [[maybe_unused]] const bool shown = QTest::qWaitForWindowExposed(&windows->form);
        return windows;
    }

    // A library of two books; every file of it as it was, for comparing afterwards.
    QMap<QString, QByteArray> makeLibrary() {
        write(library() + QStringLiteral("/books.dat"),
              cp1251(QStringLiteral("Повесть=старая\r\nДневник=\r\n")));
        write(library() + QStringLiteral("/books/Повесть.boo"), cp1251(QStringLiteral("старая")));
        write(library() + QStringLiteral("/books/Дневник.boo"), cp1251(QStringLiteral("записи")));
        return TestFiles::snapshot(library());
    }
    // Every file of `before` is still there, byte for byte.
    void keepsWhatWasThere(const QMap<QString, QByteArray>& before) {
        const QMap<QString, QByteArray> now = TestFiles::snapshot(library());
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (!it.key().endsWith(QLatin1String("books.dat")))
                QCOMPARE(now.value(it.key()), it.value());
        QVERIFY(cataloguedNames(library()).mid(0, 2) ==
                QStringList({QStringLiteral("Повесть"), QStringLiteral("Дневник")}));
    }
    // Every row of books.dat has its file and every file of books/ has its row.
    void catalogueAndFilesAgree() {
        QStringList files;
        for (const QString& file : bookFiles(library())) {
            QVERIFY2(file.endsWith(QLatin1String(".boo")) && !file.startsWith(QLatin1Char('.')),
                     qPrintable(file));
            files.append(file.chopped(4));
        }
        QStringList names = cataloguedNames(library());
        names.sort();
        files.sort();
        QCOMPARE(names, files);
    }
    // A folder of `count` plain-text books of distinct texts.
    void makeTexts(int count, int size = 2000) {
        for (int i = 0; i < count; ++i)
            write(source() + QStringLiteral("/книга %1.txt").arg(i, 3, 10, QLatin1Char('0')),
                  cp1251(QStringLiteral("Книга номер %1\n").arg(i) + QString(size, QChar(u'ж'))));
    }
    std::unique_ptr<BulkImport> run(Library& lib, const QStringList& paths,
                                    const std::function<void(BulkImport&)>& onProgress = {}) {
        auto import = std::make_unique<BulkImport>(lib, paths);
        if (onProgress)
            connect(import.get(), &BulkImport::progress, import.get(),
                    [&, raw = import.get()] { onProgress(*raw); });
        QSignalSpy finished(import.get(), &BulkImport::finished);
        import->start();
        if (!import->isFinished()) [[maybe_unused]]
            const bool done = finished.wait(60000);
        return import;
    }
    Library& openLibrary(Library& lib) {
        lib.folder().setProgramFolder(library() + QLatin1Char('/'));
        lib.load(nullptr);
        return lib;
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_cache = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CACHE_HOME", m_cache->path().toUtf8());
        m_previousFolder = QDir::currentPath();
        m_dialogs = std::make_unique<DialogsScope>();
    }
    void cleanup() {
        m_dialogs.reset();
        QDir::setCurrent(m_previousFolder);
        if (m_dir)
            for (const QString& path : {library(), library() + QStringLiteral("/books.dat")})
                if (QFileInfo::exists(path))
                    TestFiles::setReadOnly(path, false);
        m_dir.reset();
    }

    // ---- Each book ------------------------------------------------------------------

    void theStoredTextIsWhatTheAddPanelStores_data() {
        QTest::addColumn<QByteArray>("data");
        for (const char* name :
             {"book.fb2", "book-cp1251.fb2", "book.epub", "book.docx", "book.odt", "book.html"})
            QTest::newRow(name) << TestBooks::read(QString::fromLatin1(name));
        QTest::newRow("zipped FB2")
            << TestBooks::zip({{"book.fb2", TestBooks::read(QStringLiteral("book.fb2"))}});
        QTest::newRow("text, every line end") << QByteArray("one\r\ntwo\rthree\n\nfour\r");
        QTest::newRow("text in UTF-8 with separators")
            << QStringLiteral("Строка\u2028вторая\u2029третья «кавычки» — тире ☃ ␀ café ‒ "
                              "\u2009")
                   .toUtf8();
        QTest::newRow("text with NUL") << QByteArray(200, 'a') + QByteArray("\0b\r\nc", 5);
        QTest::newRow("a long paragraph") << cp1251(
            QString(20000, QChar(u'ы')) + QStringLiteral(" конец\n") + QString(300, QChar(u'a')));
        QTest::newRow("RTF") << QByteArray("{\\rtf1\\ansi{\\b Bold}\\par second\\line third}");
        QTest::newRow("FB2 with line breaks inside")
            << fb2(QStringLiteral("Заглавие"), QStringLiteral("Лев Толстой"),
                   QStringLiteral("a&#13;&#10;b&#13;c&#10;d"));
    }
    void theStoredTextIsWhatTheAddPanelStores() {
        QFETCH(QByteArray, data);
        const QList<ImportSource::Item> items = ImportSource::readData(data, QStringLiteral("x"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].kind, ImportSource::Item::Kind::Book);
        QCOMPARE(items[0].text, storedByTheAddPanel(data));
        QCOMPARE(items[0].hash, ImportSource::hashOf(items[0].text));
    }

    void nameAndNote_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("note");
        QTest::newRow("FB2: title and author")
            << TestBooks::read(QStringLiteral("book.fb2")) << "x.fb2" << TestBooks::title()
            << TestBooks::author();
        QTest::newRow("EPUB") << TestBooks::read(QStringLiteral("book.epub")) << "x.epub"
                              << TestBooks::title() << TestBooks::author();
        QTest::newRow("text: first non-blank line, trimmed")
            << cp1251(QStringLiteral("\r\n   \r\n  Анна Каренина  \r\nтекст")) << "a.txt"
            << "Анна Каренина"
            << "";
        QTest::newRow("text: a long first line, 100 characters")
            << cp1251(QString(150, QChar(u'д'))) << "a.txt" << QString(100, QChar(u'д')) << "";
        QTest::newRow("unstorable characters dropped, slash as dash")
            << QStringLiteral("  Мир/Война = 日本 \u2603\n").toUtf8() << "a.txt"
            << "Мир-Война"
            << "";
        QTest::newRow("mapped as the text is, blanks made one space")
            << QStringLiteral("За\u0301мок  кафе café,\tминус \u2212 и\u2009шпация\n").toUtf8()
            << "a.txt"
            << "Замок кафе cafe, минус - и шпация"
            << "";
        QTest::newRow("a line naming nothing: the next line")
            << QStringLiteral("日本語\nтекст").toUtf8() << "папка/Рассказ.txt"
            << "текст"
            << "";
        QTest::newRow("nothing storable: the file name")
            << QStringLiteral("日本語\n☃ ☃\n").toUtf8() << "папка/Рассказ.txt"
            << "Рассказ"
            << "";
        QTest::newRow("several authors")
            << fb2(QStringLiteral("Сборник"), QStringLiteral("Лев Толстой"), QStringLiteral("т"))
                   .replace("</author>", "</author><author><first-name>Антон</first-name>"
                                         "<last-name>Чехов</last-name></author>")
            << "a.fb2"
            << "Сборник"
            << "Лев Толстой, Антон Чехов";
    }
    void nameAndNote() {
        QFETCH(QByteArray, data);
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QString, note);
        const QList<ImportSource::Item> items = ImportSource::readData(data, file);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].name, name);
        QCOMPARE(items[0].note, note);
    }

    // ---- A folder -------------------------------------------------------------------

    void aFolderOfBooks() {
        const auto before = makeLibrary();
        // An unlisted file takes its name too; a file an earlier import left half-way goes.
        write(library() + QStringLiteral("/books/Сказка.boo"), "unlisted");
        write(library() + QStringLiteral("/books/.tomeria-import-1-1.boo"), "left over");
        write(library() + QStringLiteral("/books/..tomeria-import-1-2.boo.x1y2z3.tmp"), "half");
        const QByteArray book = TestBooks::read(QStringLiteral("book.fb2"));
        write(source() + QStringLiteral("/a/b/c/book.fb2"), book);
        write(source() + QStringLiteral("/dups/copy.fb2"), book);
        write(source() + QStringLiteral("/dups/cp1251.fb2"),
              TestBooks::read(QStringLiteral("book-cp1251.fb2")));
        write(source() + QStringLiteral("/dups/as text.txt"), storedByTheAddPanel(book));
        const QByteArray png =
            QByteArray::fromHex("89504E470D0A1A0A0000000D49484452") + QByteArray(64, '\x01');
        write(source() + QStringLiteral("/three.zip"),
              TestBooks::zip({{"1.fb2", fb2("Первая", "Лев Толстой", "один")},
                              {"cover.png", png},
                              {"книги/вторая.fb2", fb2("Вторая", "Лев Толстой", "два")},
                              {"1.fb2", fb2("Третья", "Лев Толстой", "три")}}));
        write(source() + QStringLiteral("/bomb.zip"),
              TestBooks::zip({{"big.txt", QByteArray(49 << 20, 'a')},
                              {"small.txt", cp1251(QStringLiteral("Малая книга"))}}));
        write(source() + QStringLiteral("/picture.png"), png);
        write(source() + QStringLiteral("/empty.txt"), QByteArray());
        TestFiles::makeSparse(source() + QStringLiteral("/huge.txt"), (qint64(128) << 20) + 1);
        write(source() + QStringLiteral("/p1.fb2"), fb2("Повесть", "Автор Один", "первая"));
        write(source() + QStringLiteral("/p2.fb2"), fb2("повесть", "Автор Один", "вторая"));
        write(source() + QStringLiteral("/p3.txt"), cp1251(QStringLiteral("Повесть\nтретья")));
        write(source() + QStringLiteral("/s.txt"), cp1251(QStringLiteral("Сказка\nо рыбаке")));
        write(source() + QStringLiteral("/odd.txt"),
              QStringLiteral("  Война/мир=日本  \nтекст").toUtf8());
        write(source() + QStringLiteral("/.hidden.txt"), cp1251(QStringLiteral("Скрытая")));
        write(source() + QStringLiteral("/unreadable.txt"), cp1251(QStringLiteral("Закрытая")));
        QFile(source() + QStringLiteral("/unreadable.txt")).setPermissions({});
        QVERIFY(QFile::link(source(), source() + QStringLiteral("/a/b/loop")));

        Library lib;
        const std::unique_ptr<BulkImport> import = run(openLibrary(lib), {source()});
        QVERIFY(import->isFinished());
        QCOMPARE(import->error(), QString());

        const QString p = TestBooks::title();
        QStringList added = cataloguedNames(library()).mid(2);
        // In the order found: a folder's files by name, then its folders.
        QStringList expected{"Малая книга",
                             "Война-мир",
                             "Повесть (Автор Один)",
                             "повесть (Автор Один) (2)",
                             "Повесть (2)",
                             "Сказка (2)",
                             "Первая",
                             "Вторая",
                             "Третья"};
        const bool superUser = ::geteuid() == 0; // reads a file without permission bits
        if (superUser)
            expected.append("Закрытая");
        expected.append(p);
        if (added != expected)
            qWarning().noquote() << added.join('|') << "\n" << expected.join('|');
        QCOMPARE(added, expected);
        QCOMPARE(lib.catalogue().NoteOf(p), TestBooks::author());
        QCOMPARE(lib.catalogue().NoteOf("Первая"), QStringLiteral("Лев Толстой"));
        QCOMPARE(TestFiles::read(library() + QStringLiteral("/books/") + p + ".boo"),
                 storedByTheAddPanel(book));
        keepsWhatWasThere(before);
        QCOMPARE(QDir(library() + QStringLiteral("/books"))
                     .entryList(QDir::Files | QDir::Hidden)
                     .filter(QStringLiteral("tomeria-import")),
                 QStringList());
        QCOMPARE(TestFiles::read(library() + QStringLiteral("/books/Сказка.boo")),
                 QByteArray("unlisted"));

        QStringList report;
        for (const BulkImport::NotAdded& entry : import->notAdded())
            report.append(entry.source + QStringLiteral(" — ") + BulkImport::reasonText(entry));
        QStringList expectedReport{
            "dups/copy.fb2 — повтор книги «" + p + "»",
            "dups/cp1251.fb2 — повтор книги «" + p + "»",
            "dups/as text.txt — повтор книги «" + p + "»",
            "bomb.zip/big.txt — слишком велик",
            "empty.txt — не книга",
            "huge.txt — слишком велик",
            "picture.png — не книга",
        };
        if (!superUser)
            expectedReport.append("unreadable.txt — ошибка чтения");
        report.sort();
        expectedReport.sort();
        QCOMPARE(report, expectedReport);
        const BulkImport::Counts counts = import->counts();
        QCOMPARE(counts.added, int(expected.size()));
        QCOMPARE(counts.duplicates, 3);
        QCOMPARE(counts.notBooks, 4);
        QCOMPARE(counts.readErrors, superUser ? 0 : 1);
        QCOMPARE(BulkImportWindow::countsText(counts).endsWith(QLatin1String(", ошибок чтения: 1")),
                 !superUser);
        QCOMPARE(counts.found, counts.done);

        // Again: everything repeats a book now in the library.
        const std::unique_ptr<BulkImport> again =
            run(lib, {source() + QStringLiteral("/dups"), source() + QStringLiteral("/a")});
        QCOMPARE(again->counts().added, 0);
        QCOMPARE(again->counts().duplicates, 4);
    }

    // Titles that would name hidden files lose their dots, and the clean-up of the next
    // start removes only its own leftovers that no row lists: a book another program
    // listed under such a name keeps its file.
    void dottedTitlesThenARestart() {
        makeLibrary();
        write(library() + QStringLiteral("/books.dat"),
              cp1251(QStringLiteral("Повесть=старая\r\nДневник=\r\n.tomeria-import-5-1=чужая\r\n"
                                    ".скрытая=чужая\r\n")));
        write(library() + QStringLiteral("/books/.tomeria-import-5-1.boo"), "foreign 1");
        write(library() + QStringLiteral("/books/.скрытая.boo"), "foreign 2");
        write(source() + QStringLiteral("/1.txt"),
              cp1251(QStringLiteral(".tomeria-import-x\nодин")));
        write(source() + QStringLiteral("/2.txt"), cp1251(QStringLiteral(".\nдва")));
        write(source() + QStringLiteral("/3.txt"), cp1251(QStringLiteral("..\nтри")));
        write(source() + QStringLiteral("/4.txt"), cp1251(QStringLiteral(".скрытая\nчетыре")));
        write(source() + QStringLiteral("/5.txt"), cp1251(QStringLiteral("...\n..")));
        {
            Library lib;
            const std::unique_ptr<BulkImport> import = run(openLibrary(lib), {source()});
            QCOMPARE(import->error(), QString());
        }
        const QStringList added = cataloguedNames(library()).mid(4);
        QCOMPARE(added, QStringList({"tomeria-import-x", "два", "три", "скрытая", "5"}));
        // What a killed import would leave, and names only like it.
        write(library() + QStringLiteral("/books/.tomeria-import-9-9.boo"), "left over");
        write(library() + QStringLiteral("/books/..tomeria-import-9-9.boo.k2j4.tmp"), "half");
        write(library() + QStringLiteral("/books/.tomeria-import-9-9.boo.bak"), "kept");
        write(library() + QStringLiteral("/books/.tomeria-import-x.boo"), "kept too");
        // The next start.
        QDir::setCurrent(library());
        TForm1 form;
        QTRY_VERIFY(
            !QFileInfo::exists(library() + QStringLiteral("/books/.tomeria-import-9-9.boo")));
        QVERIFY(!QFileInfo::exists(library() +
                                   QStringLiteral("/books/..tomeria-import-9-9.boo.k2j4.tmp")));
        for (const char* kept : {".tomeria-import-9-9.boo.bak", ".tomeria-import-x.boo"})
            QVERIFY(QFileInfo::exists(library() + QStringLiteral("/books/") + QLatin1String(kept)));
        QCOMPARE(TestFiles::read(library() + QStringLiteral("/books/.tomeria-import-5-1.boo")),
                 QByteArray("foreign 1"));
        QCOMPARE(TestFiles::read(library() + QStringLiteral("/books/.скрытая.boo")),
                 QByteArray("foreign 2"));
        const QStringList texts{"один", "два", "три", "четыре", ".."};
        for (int i = 0; i < added.size(); ++i)
            QVERIFY(TestFiles::read(library() + QStringLiteral("/books/") + added[i] + ".boo")
                        .endsWith(cp1251(texts[i])));
        QCOMPARE(form.ListBox1->count(), 9);
    }

    // Archives inside archives are read as bundles of books two levels deep; a deeper
    // one is named in the report with its reason.
    void aZipInsideAZip() {
        makeLibrary();
        write(source() + QStringLiteral("/outer.txt"), cp1251(QStringLiteral("Внешняя")));
        const QByteArray level2 =
            TestBooks::zip({{"a.txt", cp1251(QStringLiteral("Первая из второго"))},
                            {"b.fb2", fb2("Вторая из второго", "Лев Толстой", "два")}});
        write(source() + QStringLiteral("/level1.zip"),
              TestBooks::zip(
                  {{"level2.zip", level2}, {"plain.txt", cp1251(QStringLiteral("Простая"))}}));
        const QByteArray d3 = TestBooks::zip({{"x.txt", cp1251(QStringLiteral("Глубокая"))}});
        const QByteArray d2 =
            TestBooks::zip({{"d3.zip", d3}, {"y.txt", cp1251(QStringLiteral("Вторая глубина"))}});
        const QByteArray d1 = TestBooks::zip({{"d2.zip", d2}});
        write(source() + QStringLiteral("/deep.zip"), TestBooks::zip({{"d1.zip", d1}}));
        Library lib;
        const std::unique_ptr<BulkImport> import = run(openLibrary(lib), {source()});
        QStringList added = cataloguedNames(library()).mid(2);
        added.sort();
        QCOMPARE(added, QStringList({"Внешняя", "Вторая глубина", "Вторая из второго",
                                     "Первая из второго", "Простая"}));
        QCOMPARE(import->notAdded().size(), 1);
        QCOMPARE(import->notAdded()[0].source, QStringLiteral("deep.zip/d1.zip/d2.zip/d3.zip"));
        QCOMPARE(BulkImport::reasonText(import->notAdded()[0]),
                 QStringLiteral("архив в архиве глубже 2 уровней, не распакован"));
        catalogueAndFilesAgree();
    }

    // A ZIP of 10,000 small books is read in one pass: «Остановить» and the end of the
    // program end it while it is read and while its books are written, what was added
    // staying with its files.
    void aZipOfManyMembersStops_data() {
        QTest::addColumn<bool>("byDestruction");
        QTest::addColumn<bool>("afterTheFirstBooks");
        QTest::newRow("«Остановить» while it is read") << false << false;
        QTest::newRow("«Остановить» while its books are written") << false << true;
        QTest::newRow("the program ends while it is read") << true << false;
        QTest::newRow("the program ends while its books are written") << true << true;
    }
    void aZipOfManyMembersStops() {
        QFETCH(bool, byDestruction);
        QFETCH(bool, afterTheFirstBooks);
        const auto before = makeLibrary();
        QList<QPair<QString, QByteArray>> members;
        for (int n = 0; n < 10000; ++n)
            members.append({QStringLiteral("книга %1.txt").arg(n),
                            cp1251(QStringLiteral("Книга %1\nтекст").arg(n))});
        write(source() + QStringLiteral("/много.zip"), TestBooks::zip(members));
        {
            Library lib;
            auto import = std::make_unique<BulkImport>(openLibrary(lib), QStringList{source()});
            bool reached = false;
            // On a busy machine the workers may have read and written every book before
            // the window hears of the first: the end then comes after all was done, or
            // once all were written, which are kept.
            bool allDone = false;
            const auto end = [&] {
                if (reached)
                    return;
                reached = true;
                allDone = import->isFinished();
                if (byDestruction)
                    QTimer::singleShot(0, this, [&] { import.reset(); });
                else
                    import->stop();
            };
            if (afterTheFirstBooks)
                connect(import.get(), &BulkImport::booksAdded, this, end);
            else
                connect(import.get(), &BulkImport::progress, this, [&] {
                    if (import && import->currentFile().endsWith(QLatin1String(".zip")))
                        end();
                });
            import->start();
            QTRY_VERIFY_WITH_TIMEOUT(reached && (!import || import->isFinished()), 60000);
            if (!allDone && !afterTheFirstBooks) {
                if (import)
                    QVERIFY(import->counts().added < 10000);
                QVERIFY(lib.catalogue().rowCount() - 2 < 10000);
            }
        }
        catalogueAndFilesAgree();
        keepsWhatWasThere(before);
    }

    // A ZIP over the members one archive may give: the rest is reported, not read.
    void aZipOverItsMemberLimit() {
        QList<QPair<QString, QByteArray>> members;
        for (int n = 0; n < ImportSource::kMaxArchiveMembers + 3; ++n)
            members.append({QStringLiteral("%1.txt").arg(n), QByteArray()});
        members[0].second = "book";
        const QList<ImportSource::Item> items =
            ImportSource::readData(TestBooks::zip(members), QStringLiteral("a.zip"));
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].name, QStringLiteral("book"));
        QCOMPARE(items[1].kind, ImportSource::Item::Kind::TooMany);
        QCOMPARE(items[1].passedOver, 3);
    }

    // Many books of one title are numbered in turn: each name once.
    void manyBooksOfOneTitle() {
        makeLibrary();
        for (int i = 0; i < 300; ++i)
            write(source() + QStringLiteral("/%1.txt").arg(i, 3, 10, QLatin1Char('0')),
                  cp1251(QStringLiteral("Глава 1\nтекст %1").arg(i)));
        write(library() + QStringLiteral("/books/Глава 1 (7).boo"), "unlisted");
        Library lib;
        run(openLibrary(lib), {source()});
        const QStringList added = cataloguedNames(library()).mid(2);
        QStringList expected{"Глава 1"};
        for (int n = 2; expected.size() < 300; ++n)
            if (n != 7)
                expected.append(QStringLiteral("Глава 1 (%1)").arg(n));
        QCOMPARE(added, expected);
    }

    // The library folder deleted, or renamed with a new one put at its place, while an
    // import runs: nothing is created at the old path, and the renamed folder keeps
    // rows and files agreeing.
    void theLibraryFolderGoesDuringAnImport_data() {
        QTest::addColumn<bool>("renamed");
        QTest::newRow("deleted") << false;
        QTest::newRow("renamed, a new folder in its place") << true;
    }
    void theLibraryFolderGoesDuringAnImport() {
        QFETCH(bool, renamed);
        makeLibrary();
        makeTexts(150);
        const QString moved = m_dir->filePath(QStringLiteral("moved"));
        {
            Library lib;
            auto import = std::make_unique<BulkImport>(openLibrary(lib), QStringList{source()});
            bool reached = false;
            connect(import.get(), &BulkImport::progress, this, [&] {
                if (reached || import->counts().done < 10)
                    return;
                reached = true;
                if (renamed) {
                    QVERIFY(QDir().rename(library(), moved));
                    QVERIFY(QDir().mkdir(library()));
                } else {
                    // The writer thread may still put a file in books/ meanwhile.
                    for (int attempt = 0; attempt < 100 && QFileInfo::exists(library()); ++attempt)
                        QDir(library()).removeRecursively();
                    QVERIFY(!QFileInfo::exists(library()));
                }
            });
            import->start();
            QTRY_VERIFY_WITH_TIMEOUT(import->isFinished(), 60000);
            if (renamed) {
                QCOMPARE(import->error(), QString());
                QCOMPARE(import->counts().added, 150);
            } else {
                QVERIFY(!import->error().isEmpty());
            }
        }
        if (renamed) {
            QCOMPARE(
                QDir(library()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                QStringList());
            QVERIFY(QDir().rename(library(), m_dir->filePath(QStringLiteral("new"))));
            QVERIFY(QDir().rename(moved, library()));
            catalogueAndFilesAgree();
            QCOMPARE(cataloguedNames(library()).size(), 152);
        } else {
            QVERIFY(!QFileInfo::exists(library()));
        }
    }

    // ---- Stops and failures -----------------------------------------------------------

    void stoppedHalfWay_data() {
        QTest::addColumn<bool>("byDestruction");
        QTest::newRow("«Остановить»") << false;
        QTest::newRow("the program ends") << true;
    }
    void stoppedHalfWay() {
        QFETCH(bool, byDestruction);
        const auto before = makeLibrary();
        makeTexts(150);
        {
            Library lib;
            auto import = std::make_unique<BulkImport>(openLibrary(lib), QStringList{source()});
            // Stopped, or ended, as the tenth book is written.
            bool reached = false;
            connect(import.get(), &BulkImport::progress, this, [&] {
                if (reached || !import || import->counts().done < 10)
                    return;
                reached = true;
                if (byDestruction)
                    QTimer::singleShot(0, this, [&] { import.reset(); });
                else
                    import->stop();
            });
            import->start();
            QTRY_VERIFY_WITH_TIMEOUT(reached && (!import || import->isFinished()), 30000);
            // Stopped: the books written are added, the rest dropped.
            if (import)
                QCOMPARE(import->counts().added, 10);
            QVERIFY(lib.catalogue().rowCount() - 2 < 150);
            QCOMPARE(lib.catalogue().rowCount() - 2, int(bookFiles(library()).size()) - 2);
        }
        catalogueAndFilesAgree();
        keepsWhatWasThere(before);
    }

    void aFullDiskHalfWay() {
        if (!::dlsym(RTLD_DEFAULT, "tomeria_short_write_shim_loaded"))
            QSKIP("run with the short-write library in LD_PRELOAD");
        const auto before = makeLibrary();
        makeTexts(60, 3000);
        Library lib;
        std::unique_ptr<BulkImport> import;
        {
            // Room for about twenty books.
            const FullDisk disk(library() + QStringLiteral("/books/*"), 20 * 3020);
            import = run(openLibrary(lib), {source()});
        }
        // Our own message, naming the book's file.
        QVERIFY2(import->error().startsWith(
                     BulkImport::writeErrorMessage(library() + QStringLiteral("/books/"))
                         .section(QStringLiteral("/books/"), 0, 0)),
                 qPrintable(import->error()));
        QVERIFY(import->error().contains(QLatin1String(".boo: ")));
        QVERIFY(import->counts().added >= 15 && import->counts().added < 60);
        catalogueAndFilesAgree();
        keepsWhatWasThere(before);
        QCOMPARE(cataloguedNames(library()).size(), import->counts().added + 2);
    }

    void aCatalogueThatCannotBeWritten() {
        const auto before = makeLibrary();
        makeTexts(30);
        TestFiles::setReadOnly(library() + QStringLiteral("/books.dat"), true);
        Library lib;
        const std::unique_ptr<BulkImport> import = run(openLibrary(lib), {source()});
        QVERIFY(import->error().startsWith(QStringLiteral("Cannot create file")));
        QCOMPARE(import->counts().added, 0);
        QCOMPARE(TestFiles::snapshot(library()), before);
        QCOMPARE(lib.catalogue().rowCount(), 2);
    }

    // ---- The window -----------------------------------------------------------------

    void addingAFolderThroughTheWindow() {
        makeLibrary();
        makeTexts(40);
        const auto windows = showWindows();
        TForm1& form = windows->form;

        // The items come right after «Добавить книгу».
        const QList<QAction*> file = form.menuBar()->findChild<QMenu*>("N1")->actions();
        QCOMPARE(file.at(file.indexOf(form.N9) + 1)->text(),
                 QStringLiteral("Добавить книги из папки…"));
        const QList<QAction*> popup = form.PopupMenu1->actions();
        QCOMPARE(popup.at(0)->text(), QStringLiteral("Добавить книгу"));
        QCOMPARE(popup.at(1)->text(), QStringLiteral("Добавить книги из папки…"));

        // A book selected before stays selected while the list fills in.
        QListWidget* list = form.ListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(1)).center());
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Повесть"));
        QCOMPARE(form.StatusBar1->panelText(1), QStringLiteral("2 / 2"));

        (*m_dialogs)->folders.enqueue(source());
        popup.at(1)->trigger();
        BulkImportWindow* window = form.bulkImportWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Добавление книг"));
        QVERIFY(!window->isModal());
        QCOMPARE(window->stopButton->text(), QStringLiteral("Остановить"));
        QTRY_VERIFY_WITH_TIMEOUT(window->closeButton->isVisible(), 30000);
        QCOMPARE(window->countsLabel->text(),
                 QStringLiteral("Добавлено: 40, повторов: 0, не книг: 0"));
        QCOMPARE(window->progressBar->value(), window->progressBar->maximum());
        QCOMPARE(list->count(), 42);
        QCOMPARE(list->selectedItems().value(0)->text(), QStringLiteral("Повесть"));
        QCOMPARE(form.StatusBar1->panelText(1),
                 QStringLiteral("%1 / 42").arg(list->currentRow() + 1));
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown.append(list->item(i)->text());
        form.Obnov();
        QStringList sorted;
        for (int i = 0; i < list->count(); ++i)
            sorted.append(list->item(i)->text());
        QCOMPARE(shown, sorted);

        // Dropped again, as two files: both repeat books, and the report says so.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(source() + QStringLiteral("/книга 000.txt")),
                      QUrl::fromLocalFile(source() + QStringLiteral("/книга 001.txt"))});
        const QPoint at = form.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
        window = form.bulkImportWindow();
        QTRY_VERIFY_WITH_TIMEOUT(window && window->closeButton->isVisible(), 30000);
        QCOMPARE(window->reportText->toPlainText(),
                 QStringLiteral("Не добавлены:\n"
                                "книга 000.txt — повтор книги «Книга номер 0»\n"
                                "книга 001.txt — повтор книги «Книга номер 1»"));
        QTest::mouseClick(window->closeButton, Qt::LeftButton);
        QTRY_VERIFY(!form.bulkImportWindow());
        QVERIFY(!form.Panel2->isVisible());

        // A dropped folder, stopped at once: what was added is listed and stored.
        for (int i = 0; i < 60; ++i)
            write(m_dir->filePath(QStringLiteral("more/%1.txt").arg(i)),
                  cp1251(QStringLiteral("Ещё книга %1\n").arg(i) + QString(5000, QChar(u'щ'))));
        mime.setUrls({QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("more")))});
        QDragEnterEvent enterFolder(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enterFolder);
        QDropEvent dropFolder(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &dropFolder);
        window = form.bulkImportWindow();
        QVERIFY(window);
        QTest::mouseClick(window->stopButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->closeButton->isVisible(), 30000);
        QCOMPARE(window->reportText->toPlainText(), QStringLiteral("Добавление остановлено."));
        QVERIFY(window->import()->counts().added < 60);
        QCOMPARE(list->count(), 42 + window->import()->counts().added);
        catalogueAndFilesAgree();
    }

    // A book the folder import adds starts at its beginning, whatever a book of that name
    // had remembered: the library's announcement reaches the reading state.
    void anImportedBookForgetsAnOldPlace() {
        makeLibrary();
        makeTexts(3);
        const auto windows = showWindows();
        ReadingState& reading = windows->form.library().reading();
        // The place of a book whose row and file were then removed by hand.
        const QString gone = library() + QStringLiteral("/books/Книга номер 1.boo");
        write(gone, "0123456789");
        reading.remember(gone, 4);
        QFile::remove(gone);
        const QString kept = library() + QStringLiteral("/books/Повесть.boo");
        reading.remember(kept, 2);
        reading.save();
        const QString saved = library() + QStringLiteral("/reading.dat");
        QVERIFY(TestFiles::read(saved).contains(cp1251(QStringLiteral("Книга номер 1"))));

        (*m_dialogs)->folders.enqueue(source());
        windows->form.PopupMenu1->actions().at(1)->trigger();
        BulkImportWindow* window = windows->form.bulkImportWindow();
        QVERIFY(window);
        QTRY_VERIFY_WITH_TIMEOUT(window->closeButton->isVisible(), 30000);
        QCOMPARE(window->import()->counts().added, 3);
        QCOMPARE(reading.bookCount(), 1);
        QCOMPARE(reading.position(kept), std::optional<int>(2));
        QVERIFY(!TestFiles::read(saved).contains(cp1251(QStringLiteral("Книга номер 1"))));
    }

    // Leaving the program while an import runs ends the import with it: its window
    // does not stay behind to keep the program running, and what was added is stored.
    void exitWhileAnImportRuns() {
        makeLibrary();
        makeTexts(150);
        const auto windows = showWindows();
        TForm1& form = windows->form;
        (*m_dialogs)->folders.enqueue(source());
        form.BulkAddItem->trigger();
        QVERIFY(form.bulkImportWindow());
        QVERIFY(!form.bulkImportWindow()->import()->isFinished());
        (*m_dialogs)->confirmations.enqueue(true);
        QVERIFY(form.close());
        QVERIFY(!form.bulkImportWindow());
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY2(!window->isVisible(), qPrintable(window->windowTitle()));
        catalogueAndFilesAgree();
    }

    void whatAKilledImportLeftGoesAtTheNextStart() {
        const auto before = makeLibrary();
        write(library() + QStringLiteral("/books/.tomeria-import-7-3.boo"), "written");
        write(library() + QStringLiteral("/books/..tomeria-import-7-4.boo.abc123.tmp"), "half");
        QDir::setCurrent(library());
        TForm1 form;
        QTRY_COMPARE(TestFiles::snapshot(library()), before);
    }

    void enterOpensAndDeleteDeletes() {
        makeLibrary();
        const auto windows = showWindows();
        TMainForm& reader = windows->reader;
        TForm1& form = windows->form;
        QListWidget* list = form.ListBox1;
        const QListWidgetItem* item = list->findItems("Дневник", Qt::MatchExactly).value(0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());

        QTest::keyClick(list, Qt::Key_Return);
        QTRY_VERIFY(reader.isVisible());
        QCOMPARE(reader.View->text(0, reader.View->textLength()), QStringLiteral("записи"));
        reader.hide();

        (*m_dialogs)->confirmations.enqueue(false);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE((*m_dialogs)->texts("confirm"),
                 QStringList{QStringLiteral("Книга будет полностью удалена! Продолжить?")});
        QCOMPARE(list->count(), 2);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(list->count(), 1);
        QCOMPARE(cataloguedNames(library()), QStringList{QStringLiteral("Повесть")});
        QVERIFY(!QFileInfo::exists(library() + QStringLiteral("/books/Дневник.boo")));
        // Nothing selected now: the keys do nothing.
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE((*m_dialogs)->texts("confirm").size(), 2);
    }

    void aNameCutOffShowsInATooltip() {
        const QString longName = QStringLiteral("Очень длинное название книги, которое не "
                                                "помещается в узкий список");
        write(library() + QStringLiteral("/books.dat"),
              cp1251(QStringLiteral("Кот=\r\n") + longName + QStringLiteral("=\r\n")));
        const auto windows = showWindows();
        TForm1& form = windows->form;
        QListWidget* list = form.ListBox1;
        auto tooltipAt = [&](const QString& name) {
            QToolTip::hideText();
            for (int i = 0; i < 500 && QToolTip::isVisible(); ++i)
                QTest::qWait(10);
            const QListWidgetItem* item = list->findItems(name, Qt::MatchExactly).value(0);
            const QPoint pos = list->visualItemRect(item).center();
            QHelpEvent help(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
            QApplication::sendEvent(list->viewport(), &help);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(tooltipAt(longName), longName);
        QCOMPARE(tooltipAt(QStringLiteral("Кот")), QString());
    }
};

QTEST_MAIN(TestBulkImport)
#include "test_bulk_import.moc"
