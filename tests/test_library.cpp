#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "core/library/library.h"
#include "core/settings/profile_file.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using TestFiles::cp1251;

// The library's actions judged by the files on disk: every failed step leaves the
// folder exactly as it was.
class TestLibrary : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    void open(Library& library) const {
        library.folder().setProgramFolder(m_dir->path() + QLatin1Char('/'));
        library.load(nullptr);
    }
    void open() const {
        Library library;
        open(library);
    }
    QMap<QString, QByteArray> snapshot() const { return TestFiles::snapshot(m_dir->path()); }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkdir(path("books"));
    }
    void cleanup() {
        TestFiles::setReadOnly(path("books.dat"), false);
        TestFiles::setReadOnly(path("books"), false);
    }

    void addWritesTheFileAndTheRow() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Азбука=первая\r\n")));
        Library library;
        open(library);
        library.addBook(QStringLiteral("Букварь"), QStringLiteral("вторая"),
                        cp1251(QStringLiteral("Текст\r\n")));
        QCOMPARE(TestFiles::read(path("books/Букварь.boo")), cp1251(QStringLiteral("Текст\r\n")));
        QCOMPARE(TestFiles::read(path("books.dat")),
                 cp1251(QStringLiteral("Азбука=первая\r\nБукварь=вторая\r\n")));
        QCOMPARE(library.openPath(QStringLiteral("Букварь")), path("books/Букварь.boo"));
    }

    // Every change is announced once, by the library, whatever made it; a step refused
    // announces nothing.
    void everyChangeIsAnnouncedOnce() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Азбука=\r\n")));
        TestFiles::write(path("books/Азбука.boo"), "a");
        // A deletion killed before the catalogue was stored: the file is put back.
        TestFiles::write(path("books/.Книга.boo.999999999-0.deleted"), "old");
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Азбука=\r\nКнига=\r\n")));
        const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD,
                    QFile::encodeName(path("books/.Книга.boo.999999999-0.deleted")).constData(),
                    old, 0);
        Library library;
        QStringList heard;
        const auto listen = [&heard](const char* what) {
            return [&heard, what](const QString& name, const QString& file) {
                heard << QStringLiteral("%1 %2 %3")
                             .arg(QLatin1String(what), name, QFileInfo(file).fileName());
            };
        };
        connect(&library, &Library::bookAdded, this, listen("added"));
        connect(&library, &Library::bookRemoved, this, listen("removed"));
        connect(&library, &Library::bookSaved, this, listen("saved"));
        open(library);
        library.addBook(QStringLiteral("Букварь"), QString(), "x");
        QVERIFY_THROWS_EXCEPTION(TomeriaError, library.addBook(QStringLiteral("букварь"), {}, "y"));
        QVERIFY_THROWS_EXCEPTION(TomeriaError, library.addBook(QStringLiteral("a=b"), {}, "y"));
        library.deleteBook(QStringLiteral("Азбука"));
        library.noteBookSaved(path("books/Букварь.boo"));
        library.noteBookSaved(path("Букварь.boo"));
        library.noteBookSaved(path("books/notes.txt"));
        library.noteBooksAdded({QStringLiteral("В"), QStringLiteral("Г")});
        library.noteBooksRemoved({QStringLiteral("Г")});
        QCOMPARE(heard, (QStringList{
                            QStringLiteral("saved Книга Книга.boo"),
                            QStringLiteral("added Букварь Букварь.boo"),
                            QStringLiteral("removed Азбука Азбука.boo"),
                            QStringLiteral("saved Букварь Букварь.boo"),
                            QStringLiteral("added В В.boo"),
                            QStringLiteral("added Г Г.boo"),
                            QStringLiteral("removed Г Г.boo"),
                        }));
    }

    void addIntoANewLibraryCreatesTheBooksFolder() {
        QDir(path("books")).removeRecursively();
        Library library;
        open(library);
        QCOMPARE(library.load(nullptr), Library::LoadResult::Missing);
        library.addBook(QStringLiteral("Книга"), QString(), "x");
        QCOMPARE(TestFiles::read(path("books/Книга.boo")), QByteArray("x"));
    }

    void refusedAddsWriteNothing() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Роман=старая\r\n")));
        TestFiles::write(path("books/Роман.boo"), "old");
        Library library;
        open(library);
        const auto before = snapshot();
        QCOMPARE(TestFiles::errorOf([&] { library.addBook(QStringLiteral("РОМАН"), {}, "new"); }),
                 QStringLiteral("A key with the name of \"РОМАН\" already exists"));
        QCOMPARE(TestFiles::errorOf([&] { library.addBook(QStringLiteral("../x"), {}, "new"); }),
                 QStringLiteral("Cannot create file %1").arg(path("books/../x.boo")));
        QCOMPARE(snapshot(), before);
        QCOMPARE(library.catalogue().rowCount(), 1);
    }

    void addWithAReadOnlyCatalogueLeavesNoFile() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Роман=старая\r\n")));
        Library library;
        open(library);
        TestFiles::setReadOnly(path("books.dat"), true);
        const auto before = snapshot();
        QCOMPARE(TestFiles::errorOf([&] { library.addBook(QStringLiteral("Новая"), {}, "new"); }),
                 QStringLiteral("Cannot create file %1").arg(path("books.dat")));
        QCOMPARE(snapshot(), before);
        QCOMPARE(library.catalogue().rowCount(), 1);
        QVERIFY(!library.catalogue().FindName(QStringLiteral("Новая")).found);
    }

    void addOverAnUnlistedFileThatFailsPutsTheFileBack() {
        TestFiles::write(path("books.dat"), QByteArray("\r\n"));
        TestFiles::write(path("books/Сирота.boo"), "an unlisted book");
        Library library;
        open(library);
        TestFiles::setReadOnly(path("books.dat"), true);
        const auto before = snapshot();
        QVERIFY(!TestFiles::errorOf([&] {
                     library.addBook(QStringLiteral("Сирота"), {}, "new");
                 }).isEmpty());
        QCOMPARE(snapshot(), before);
    }

    void namesThatCannotBeStoredWriteNothing() {
        TestFiles::write(path("books.dat"), QByteArray("\r\n"));
        Library library;
        open(library);
        const auto before = snapshot();
        QCOMPARE(TestFiles::errorOf([&] { library.addBook(QStringLiteral("Über=x"), {}, "t"); }),
                 Library::unstorableNameMessage(QStringLiteral("Ü =")));
        QCOMPARE(snapshot(), before);
        // A note keeps its first line only.
        library.addBook(QStringLiteral("Книга"), QStringLiteral("одна\r\nдве"), "t");
        QCOMPARE(TestFiles::read(path("books.dat")), cp1251(QStringLiteral("Книга=одна\r\n")));
    }

    void addWithAnUnreadableCatalogueIsRefusedFirst() {
        QDir().mkdir(path("books.dat"));
        Library library;
        open(library);
        QVERIFY(library.catalogueUnreadable());
        QCOMPARE(TestFiles::errorOf([&] { library.addBook(QStringLiteral("Книга"), {}, "x"); }),
                 QStringLiteral("Cannot create file %1").arg(path("books.dat")));
        QVERIFY(!QFile::exists(path("books/Книга.boo")));
    }

    // ---- Links and odd files ------------------------------------------------------------

    void linksInTheBooksFolderAreReplacedOrRemovedNeverFollowed() {
        QTemporaryDir outside;
        const QString target = outside.filePath(QStringLiteral("private.txt"));
        TestFiles::write(target, "outside bytes");
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Ссылка=1\r\nПапка=2\r\n")));
        QVERIFY(QFile::link(target, path("books/Чужая.boo")));
        QVERIFY(
            QFile::link(outside.filePath(QStringLiteral("nowhere.txt")), path("books/Пустая.boo")));
        QVERIFY(QFile::link(target, path("books/Ссылка.boo")));
        QVERIFY(QFile::link(outside.path(), path("books/Папка.boo")));
        TestFiles::write(path("books/Сирота.boo"), "unlisted");
        Library library;
        open(library);

        // Only a file no row lists counts as unlisted; a dangling link is one too.
        QVERIFY(library.hasUnlistedBookFile(QStringLiteral("Чужая")));
        QVERIFY(library.hasUnlistedBookFile(QStringLiteral("Пустая")));
        QVERIFY(library.hasUnlistedBookFile(QStringLiteral("Сирота")));
        QVERIFY(!library.hasUnlistedBookFile(QStringLiteral("ссылка")));
        QVERIFY(!library.hasUnlistedBookFile(QStringLiteral("Новая")));
        QVERIFY(!library.hasUnlistedBookFile(QStringLiteral("../Новая")));

        // An add replaces the link itself with the book; the target stays as it was and
        // a dangling link's target is never created.
        library.addBook(QStringLiteral("Чужая"), {}, "first");
        library.addBook(QStringLiteral("Пустая"), {}, "second");
        QCOMPARE(TestFiles::read(target), QByteArray("outside bytes"));
        QVERIFY(!QFileInfo::exists(outside.filePath(QStringLiteral("nowhere.txt"))));
        for (const QString& name : {QStringLiteral("Чужая"), QStringLiteral("Пустая")})
            QVERIFY(!QFileInfo(path(QStringLiteral("books/%1.boo").arg(name))).isSymLink());
        QCOMPARE(TestFiles::read(path("books/Чужая.boo")), QByteArray("first"));
        QCOMPARE(TestFiles::read(path("books/Пустая.boo")), QByteArray("second"));

        // A delete removes the link, never the file or folder it points to.
        library.deleteBook(QStringLiteral("Ссылка"));
        library.deleteBook(QStringLiteral("Папка"));
        QVERIFY(!QFileInfo(path("books/Ссылка.boo")).isSymLink());
        QVERIFY(!QFileInfo(path("books/Папка.boo")).isSymLink());
        QCOMPARE(TestFiles::read(target), QByteArray("outside bytes"));
        QCOMPARE(QDir(outside.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("private.txt")});
        QCOMPARE(TestFiles::read(path("books.dat")),
                 cp1251(QStringLiteral("Чужая=\r\nПустая=\r\n")));
    }

    void failedAddOverALinkPutsTheLinkBack() {
        QTemporaryDir outside;
        const QString target = outside.filePath(QStringLiteral("nowhere.txt"));
        TestFiles::write(path("books.dat"), QByteArray("\r\n"));
        QVERIFY(QFile::link(target, path("books/Ссылка.boo")));
        Library library;
        open(library);
        TestFiles::setReadOnly(path("books.dat"), true);
        QVERIFY(!TestFiles::errorOf([&] {
                     library.addBook(QStringLiteral("Ссылка"), {}, "new");
                 }).isEmpty());
        QCOMPARE(QFileInfo(path("books/Ссылка.boo")).symLinkTarget(), target);
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(
            QDir(path("books"))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("Ссылка.boo")});
    }

    void aCatalogueThatIsNoOrdinaryFileIsRefusedAtOnce_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("link to /dev/zero") << QStringLiteral("device");
        QTest::newRow("larger than any catalogue") << QStringLiteral("huge");
    }
    void aCatalogueThatIsNoOrdinaryFileIsRefusedAtOnce() {
        // A FIFO would block the read and /dev/zero never ends: if either were read,
        // this test would hang until its time-out.
        QFETCH(QString, kind);
        const QString catalogue = path("books.dat");
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(catalogue).constData(), 0600), 0);
        else if (kind == QLatin1String("device"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), catalogue));
        else
            TestFiles::makeSparse(catalogue, RegularFile::kMaxSize + 1);
        Library library;
        open(library);
        QString error;
        QCOMPARE(library.load(&error), Library::LoadResult::Unreadable);
        QCOMPARE(error, QStringLiteral("Cannot open file %1").arg(catalogue));
        QCOMPARE(TestFiles::errorOf([&] { library.addBook(QStringLiteral("Книга"), {}, "x"); }),
                 QStringLiteral("Cannot create file %1").arg(catalogue));
    }

    void deleteRemovesRowAndFile() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("А=1\r\nБ=2\r\n")));
        TestFiles::write(path("books/А.boo"), "a");
        TestFiles::write(path("books/Б.boo"), "b");
        Library library;
        open(library);
        library.deleteBook(QStringLiteral("Б"));
        QCOMPARE(TestFiles::read(path("books.dat")), cp1251(QStringLiteral("А=1\r\n")));
        QVERIFY(!QFile::exists(path("books/Б.boo")));
        QCOMPARE(snapshot().keys(),
                 (QStringList{QStringLiteral("books"), QStringLiteral("books.dat"),
                              QStringLiteral("books/А.boo")}));
    }

    void deleteWithAReadOnlyCatalogueKeepsRowAndFile() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("А=1\r\nБ=2\r\n")));
        TestFiles::write(path("books/Б.boo"), "b");
        Library library;
        open(library);
        TestFiles::setReadOnly(path("books.dat"), true);
        const auto before = snapshot();
        QCOMPARE(TestFiles::errorOf([&] { library.deleteBook(QStringLiteral("Б")); }),
                 QStringLiteral("Cannot create file %1").arg(path("books.dat")));
        QCOMPARE(snapshot(), before);
        QCOMPARE(library.catalogue().rowCount(), 2);
        QCOMPARE(library.catalogue().NameAt(1), QStringLiteral("Б"));
    }

    void itemsInAnotherLetterCaseKeepTheirOwnRows() {
        TestFiles::write(path("books.dat"), QByteArray("a=small\r\nA=capital\r\n"));
        TestFiles::write(path("books/a.boo"), "small");
        TestFiles::write(path("books/A.boo"), "capital");
        Library library;
        open(library);
        QCOMPARE(library.rowOfItem(QStringLiteral("a")).row, 0);
        QCOMPARE(library.rowOfItem(QStringLiteral("A")).row, 1);
        // An item no row spells exactly falls back to the first match in any case.
        QCOMPARE(library.rowOfItem(QStringLiteral("а")).found, false);
        library.deleteBook(QStringLiteral("A"));
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("a=small\r\n"));
        QCOMPARE(TestFiles::read(path("books/a.boo")), QByteArray("small"));
        QVERIFY(!QFile::exists(path("books/A.boo")));
    }

    void deleteOfTheEmptyCatalogueReportsTheRow() {
        TestFiles::write(path("books.dat"), QByteArray());
        Library library;
        open(library);
        QCOMPARE(TestFiles::errorOf([&] { library.deleteBook(QString()); }),
                 QStringLiteral("List index out of bounds (0)"));
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray());
    }

    // A library folder renamed while the program works in it: every write lands in the
    // folder under its new name, and nothing appears at the old path, not even when a
    // new folder has been made there meanwhile.
    void everyWriteFollowsARenamedFolder_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("folderAtOldPath");
        for (const char* action : {"add", "add into a new books folder", "delete", "catalogue",
                                   "reading.dat", "tomeria.ini"}) {
            QTest::newRow(action) << QString::fromLatin1(action) << false;
            QTest::newRow(QByteArray(action) + ", a new folder at the old path")
                << QString::fromLatin1(action) << true;
        }
    }
    void everyWriteFollowsARenamedFolder() {
        QFETCH(QString, action);
        QFETCH(bool, folderAtOldPath);
        const QString before = path("library");
        const QString after = path("renamed");
        QDir().mkpath(before + "/books");
        TestFiles::write(before + "/books.dat", cp1251(QStringLiteral("Азбука=первая\r\n")));
        TestFiles::write(before + "/books/Азбука.boo", QByteArray(2048, 'a'));
        if (action == QLatin1String("add into a new books folder"))
            QDir(before + "/books").removeRecursively();
        Library library;
        library.folder().setProgramFolder(before + QLatin1Char('/'));
        QCOMPARE(library.load(nullptr), Library::LoadResult::Loaded);
        library.reading().remember(before + QStringLiteral("/books/Азбука.boo"), 1);

        QVERIFY(QDir().rename(before, after));
        if (folderAtOldPath)
            QVERIFY(QDir().mkdir(before));
        if (action.startsWith(QLatin1String("add"))) {
            library.addBook(QStringLiteral("Букварь"), QStringLiteral("вторая"), "b");
            QCOMPARE(TestFiles::read(after + "/books/Букварь.boo"), QByteArray("b"));
            QCOMPARE(library.openPath(QStringLiteral("Букварь")),
                     before + QStringLiteral("/books/Букварь.boo"));
        } else if (action == QLatin1String("delete")) {
            library.deleteBook(QStringLiteral("Азбука"));
            QVERIFY(!QFileInfo::exists(after + "/books/Азбука.boo"));
            QCOMPARE(TestFiles::read(after + "/books.dat"), QByteArray());
        } else if (action == QLatin1String("catalogue")) {
            library.catalogue().AddRecord(QStringLiteral("Букварь"), QString());
            library.saveCatalogue();
        } else if (action == QLatin1String("reading.dat")) {
            // The places of books are looked up in the folder under its new name.
            const QString book = before + QStringLiteral("/books/Азбука.boo");
            QCOMPARE(library.reading().position(book), std::optional<int>(1));
            library.reading().remember(book, 1);
            library.reading().save();
            QVERIFY(TestFiles::read(after + "/reading.dat").contains("1 2048 "));
        } else {
            ProfileFile ini(library.folder().settingsPath());
            ini.writeInteger(QStringLiteral("TForm1"), QStringLiteral("FormVersion"), 0);
            ini.save();
            QVERIFY(TestFiles::read(after + "/tomeria.ini").contains("FormVersion=0"));
        }
        if (action == QLatin1String("catalogue") || action.startsWith(QLatin1String("add")))
            QVERIFY(
                TestFiles::read(after + "/books.dat").contains(cp1251(QStringLiteral("Букварь"))));
        // Reads come from the renamed folder too.
        library.folder().Razmer();
        const bool bookLeft = action != QLatin1String("delete") && !action.contains("new books");
        QCOMPARE(library.folder().TotalSizeKb(), QString::fromLatin1(bookLeft ? "2" : "0"));
        QCOMPARE(QFileInfo::exists(before), folderAtOldPath);
        if (folderAtOldPath)
            QVERIFY(TestFiles::snapshot(before).isEmpty());
    }

    // Temporary files of writes that a crash or a kill ended: those of our own form and
    // targets, written before this process started, go at load; nothing else does.
    void staleTemporaryFilesAreRemovedAtLoad_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("old");
        QTest::addColumn<bool>("removed");
        QTest::newRow("catalogue") << ".books.dat.1a2b3c.tmp" << true << true;
        QTest::newRow("settings") << ".tomeria.ini.0.tmp" << true << true;
        QTest::newRow("reading state") << ".reading.dat.zzzzzzz.tmp" << true << true;
        QTest::newRow("book") << "books/.Книга.boo.k3.tmp" << true << true;
        QTest::newRow("book of a long name") << "books/.tomeria-write.k3.tmp" << true << true;
        QTest::newRow("written since the start") << ".books.dat.1a2b3c.tmp" << false << false;
        QTest::newRow("book written since the start")
            << "books/.Книга.boo.k3.tmp" << false << false;
        QTest::newRow("not our target") << ".notes.txt.abc.tmp" << true << false;
        QTest::newRow("a book name in the library folder") << ".Книга.boo.abc.tmp" << true << false;
        QTest::newRow("catalogue name in books") << "books/.books.dat.abc.tmp" << true << false;
        QTest::newRow("capitals") << "books/.Книга.boo.ABC.tmp" << true << false;
        QTest::newRow("too long a number") << "books/.Книга.boo.12345678.tmp" << true << false;
        QTest::newRow("not hidden") << "books/Книга.boo.abc.tmp" << true << false;
        QTest::newRow("another folder") << "other/.books.dat.abc.tmp" << true << false;
        QTest::newRow("no number") << ".books.dat.tmp" << true << false;
    }
    void staleTemporaryFilesAreRemovedAtLoad() {
        QFETCH(QString, file);
        QFETCH(bool, old);
        QFETCH(bool, removed);
        QDir().mkpath(QFileInfo(path(file)).absolutePath());
        TestFiles::write(path(file), "partial");
        if (old) {
            const timespec times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path(file)).constData(), times, 0), 0);
        }
        open();
        QCOMPARE(!QFileInfo::exists(path(file)), removed);
    }

    // A book file an add or a delete had set aside when the run was killed: put back when
    // the step did not go through, removed when it did; never one of a running program.
    void booksSetAsideByAKilledRunAreRecovered_data() {
        QTest::addColumn<QString>("aside");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("replacedBy");
        QTest::addColumn<QString>("left"); // the book file's text, or where the old text stays
        const QString dead = QStringLiteral(".Книга.boo.999999999-0.");
        QTest::newRow("deletion killed before the catalogue")
            << dead + "deleted" << true << false << "old";
        QTest::newRow("deletion killed after the catalogue")
            << dead + "deleted" << false << false << "";
        QTest::newRow("replacement killed before the write")
            << dead + "replaced" << false << false << "old";
        QTest::newRow("replacement killed after the write")
            << dead + "replaced" << false << true << "new";
        QTest::newRow("set aside by a running program")
            << QStringLiteral(".Книга.boo.%1-0.deleted").arg(::getppid()) << true << false
            << "aside";
        QTest::newRow("not of our form") << ".Книга.boo.x-0.deleted" << true << false << "aside";
    }
    void booksSetAsideByAKilledRunAreRecovered() {
        QFETCH(QString, aside);
        QFETCH(bool, listed);
        QFETCH(bool, replacedBy);
        QFETCH(QString, left);
        TestFiles::write(path("books.dat"), cp1251(listed ? QStringLiteral("Книга=\r\n")
                                                          : QStringLiteral("Азбука=\r\n")));
        TestFiles::write(path("books/" + aside), "old");
        if (replacedBy)
            TestFiles::write(path("books/Книга.boo"), "new");
        const timespec times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path("books/" + aside)).constData(), times, 0);
        open();
        const bool asideStays = left == QLatin1String("aside");
        QCOMPARE(QFileInfo::exists(path("books/" + aside)), asideStays);
        QCOMPARE(QFileInfo::exists(path("books/Книга.boo")), !asideStays && !left.isEmpty());
        if (!asideStays && !left.isEmpty())
            QCOMPARE(TestFiles::read(path("books/Книга.boo")), left.toLatin1());
    }

    // Only ordinary files are removed: a link or a folder of such a name stays.
    void staleTemporaryNamesThatAreNoFilesStay() {
        const QString link = path(".books.dat.abc.tmp");
        const QString folder = path("books/.Книга.boo.abc.tmp");
        TestFiles::write(path("target"), "t");
        QVERIFY(QFile::link(path("target"), link));
        QVERIFY(QDir().mkdir(folder));
        const timespec times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        for (const QString& name : {link, folder})
            ::utimensat(AT_FDCWD, QFile::encodeName(name).constData(), times, AT_SYMLINK_NOFOLLOW);
        open();
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(TestFiles::read(path("target")), QByteArray("t"));
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "test_library.moc"
