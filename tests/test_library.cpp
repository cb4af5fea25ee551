#include "core/library/library.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

using TestFiles::cp1251;

// The library's actions judged by the files on disk: every failed step leaves the
// folder exactly as it was.
class TestLibrary : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& relative) const { return m_dir->filePath(relative); }
    Library open() const {
        Library library;
        library.folder().setProgramFolder(m_dir->path() + QLatin1Char('/'));
        library.load(nullptr);
        return library;
    }
    // Every file below the library folder (hidden ones too) with its bytes.
    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> files;
        const QDir root(m_dir->path());
        for (const QString& folder : {QString(), QStringLiteral("books")}) {
            const QDir dir(root.filePath(folder));
            for (const QFileInfo& info :
                 dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
                files.insert(root.relativeFilePath(info.filePath()),
                             TestFiles::read(info.filePath()));
        }
        return files;
    }

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
        Library library = open();
        library.addBook(QStringLiteral("Букварь"), QStringLiteral("вторая"),
                        cp1251(QStringLiteral("Текст\r\n")));
        QCOMPARE(TestFiles::read(path("books/Букварь.boo")), cp1251(QStringLiteral("Текст\r\n")));
        QCOMPARE(TestFiles::read(path("books.dat")),
                 cp1251(QStringLiteral("Азбука=первая\r\nБукварь=вторая\r\n")));
        QCOMPARE(library.openPath(QStringLiteral("Букварь")), path("books/Букварь.boo"));
    }

    void addIntoANewLibraryCreatesTheBooksFolder() {
        QDir(path("books")).removeRecursively();
        Library library = open();
        QCOMPARE(library.load(nullptr), Library::LoadResult::Missing);
        library.addBook(QStringLiteral("Книга"), QString(), "x");
        QCOMPARE(TestFiles::read(path("books/Книга.boo")), QByteArray("x"));
    }

    void refusedAddsWriteNothing() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("Роман=старая\r\n")));
        TestFiles::write(path("books/Роман.boo"), "old");
        Library library = open();
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
        Library library = open();
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
        Library library = open();
        TestFiles::setReadOnly(path("books.dat"), true);
        const auto before = snapshot();
        QVERIFY(!TestFiles::errorOf([&] {
                     library.addBook(QStringLiteral("Сирота"), {}, "new");
                 }).isEmpty());
        QCOMPARE(snapshot(), before);
    }

    void addWithAnUnreadableCatalogueIsRefusedFirst() {
        QDir().mkdir(path("books.dat"));
        Library library = open();
        QVERIFY(library.catalogueUnreadable());
        QCOMPARE(TestFiles::errorOf([&] { library.addBook(QStringLiteral("Книга"), {}, "x"); }),
                 QStringLiteral("Cannot create file %1").arg(path("books.dat")));
        QVERIFY(!QFile::exists(path("books/Книга.boo")));
    }

    void deleteRemovesRowAndFile() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("А=1\r\nБ=2\r\n")));
        TestFiles::write(path("books/А.boo"), "a");
        TestFiles::write(path("books/Б.boo"), "b");
        Library library = open();
        library.deleteBook(QStringLiteral("Б"));
        QCOMPARE(TestFiles::read(path("books.dat")), cp1251(QStringLiteral("А=1\r\n")));
        QVERIFY(!QFile::exists(path("books/Б.boo")));
        QCOMPARE(snapshot().keys(),
                 (QStringList{QStringLiteral("books.dat"), QStringLiteral("books/А.boo")}));
    }

    void deleteWithAReadOnlyCatalogueKeepsRowAndFile() {
        TestFiles::write(path("books.dat"), cp1251(QStringLiteral("А=1\r\nБ=2\r\n")));
        TestFiles::write(path("books/Б.boo"), "b");
        Library library = open();
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
        Library library = open();
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
        Library library = open();
        QCOMPARE(TestFiles::errorOf([&] { library.deleteBook(QString()); }),
                 QStringLiteral("List index out of bounds (0)"));
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "test_library.moc"
