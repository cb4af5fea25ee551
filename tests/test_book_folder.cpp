#include "core/library/book_folder.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestBookFolder : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    BookFolder folder() const {
        BookFolder f;
        f.setProgramFolder(m_dir.path() + QLatin1Char('/'));
        return f;
    }
    void fill(const QString& name, int bytes) {
        TestFiles::write(m_dir.filePath(QStringLiteral("books/") + name), QByteArray(bytes, 'x'));
    }

private Q_SLOTS:
    void init() {
        QDir(m_dir.filePath(QStringLiteral("books"))).removeRecursively();
        QDir().mkpath(m_dir.filePath(QStringLiteral("books")));
    }

    void programFolderIsTheWorkingFolderWithASlash() {
        const QString previous = QDir::currentPath();
        QTemporaryDir deep;
        QString path = deep.path();
        for (int i = 0; i < 8; ++i)
            path += QStringLiteral("/папка-с-длинным-именем-%1").arg(i);
        QVERIFY(QDir().mkpath(path));
        QVERIFY(path.size() > 144);
        QDir::setCurrent(path);
        BookFolder f;
        QVERIFY(f.ReadProgramFolder());
        QDir::setCurrent(previous);
        QCOMPARE(f.programFolder(), QFileInfo(path).canonicalFilePath() + QLatin1Char('/'));
        QCOMPARE(f.cataloguePath(), f.programFolder() + QStringLiteral("books.dat"));
        QCOMPARE(f.BookPath(QStringLiteral("Книга")),
                 f.programFolder() + QStringLiteral("books/Книга.boo"));
    }

    void deletedWorkingFolderLeavesProgramFolderEmpty() {
        const QString previous = QDir::currentPath();
        {
            QTemporaryDir gone;
            QDir::setCurrent(gone.path());
        }
        BookFolder f;
        f.setProgramFolder(QStringLiteral("/x/"));
        QVERIFY(!f.ReadProgramFolder());
        QDir::setCurrent(previous);
        QCOMPARE(f.programFolder(), QString());
        QCOMPARE(f.cataloguePath(), QStringLiteral("books.dat"));
    }

    void totalSize_data() {
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<QString>("total");
        QTest::newRow("empty") << QList<int>{} << QStringLiteral("0");
        QTest::newRow("1023 bytes") << QList<int>{1023} << QStringLiteral("0");
        QTest::newRow("1024 bytes") << QList<int>{1024} << QStringLiteral("1");
        QTest::newRow("several") << QList<int>{1500, 3500} << QStringLiteral("4");
    }
    void totalSize() {
        QFETCH(QList<int>, sizes);
        QFETCH(QString, total);
        for (int i = 0; i < sizes.size(); ++i)
            fill(QStringLiteral("file%1.%2")
                     .arg(i)
                     .arg(i % 2 ? QStringLiteral("txt") : QStringLiteral("boo")),
                 sizes[i]);
        BookFolder f = folder();
        f.Razmer();
        QCOMPARE(f.TotalSizeKb(), total);
    }

    void subfoldersAndHiddenFilesDoNotCount() {
        fill(QStringLiteral("a.boo"), 2048);
        QDir().mkpath(m_dir.filePath(QStringLiteral("books/sub")));
        TestFiles::write(m_dir.filePath(QStringLiteral("books/sub/big.boo")),
                         QByteArray(8192, 'x'));
        fill(QStringLiteral(".hidden"), 8192);
        BookFolder f = folder();
        f.Razmer();
        QCOMPARE(f.TotalSizeKb(), QStringLiteral("2"));
    }

    void missingFolderCountsAsZero() {
        QDir(m_dir.filePath(QStringLiteral("books"))).removeRecursively();
        BookFolder f = folder();
        f.Razmer();
        QCOMPARE(f.TotalSizeKb(), QStringLiteral("0"));
    }

    void totalOverTwoGigabytesIsExact() {
        // A sparse file takes no disk space but reports its full size.
        QFile big(m_dir.filePath(QStringLiteral("books/big.boo")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(qint64(3) * 1024 * 1024 * 1024 + 5));
        big.close();
        BookFolder f = folder();
        f.Razmer();
        QCOMPARE(f.TotalSizeKb(), QStringLiteral("3145728"));
    }

    void bookFileSizes() {
        fill(QStringLiteral("small.boo"), 1023);
        fill(QStringLiteral("one.boo"), 1500);
        QDir().mkpath(m_dir.filePath(QStringLiteral("books/folder.boo")));
        const BookFolder f = folder();
        QCOMPARE(f.BookFileSizeKb(f.BookPath(QStringLiteral("small"))), 0);
        QCOMPARE(f.BookFileSizeKb(f.BookPath(QStringLiteral("one"))), 1);
        QCOMPARE(f.BookFileSizeKb(f.BookPath(QStringLiteral("folder"))), 0);
        QCOMPARE(f.BookFileSizeKb(f.BookPath(QStringLiteral("none"))), -1);
    }

    void namesThatAreNoFileNameNeverReachTheFileSystem() {
        // A file outside books/ that a name with "/" would reach.
        TestFiles::write(m_dir.filePath(QStringLiteral("secret.boo")), QByteArray(4096, 's'));
        fill(QStringLiteral("a"), 10);
        const BookFolder f = folder();
        const QString escape = f.BookPath(QStringLiteral("../secret"));
        QVERIFY(!BookFolder::isValidBookName(QStringLiteral("../secret")));
        QVERIFY(!BookFolder::isValidBookName(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
        QCOMPARE(f.BookFileSizeKb(escape), -1);
        f.deleteBook(escape);
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("secret.boo"))));
        const QString nul = f.BookPath(QStringLiteral("a.boo") + QChar(0));
        QCOMPARE(f.BookFileSizeKb(nul), -1);
        f.deleteBook(nul);
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("books/a"))));
    }
};

QTEST_APPLESS_MAIN(TestBookFolder)
#include "test_book_folder.moc"
