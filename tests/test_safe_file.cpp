#include "core/base/folder_anchor.h"
#include "core/base/safe_file.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using TestFiles::errorOf;

namespace {

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString write(const QString& path, const QByteArray& data) {
    return errorOf([&] {
        SafeFile::write(path, data, QStringLiteral("create %1").arg(path), QStringLiteral("write"));
    });
}

} // namespace

class TestSafeFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void cleanup() {
        for (const QString& name : entries(m_dir.path())) {
            TestFiles::setReadOnly(path(name), false);
            QFileInfo(path(name)).isDir() && !QFileInfo(path(name)).isSymLink()
                ? (void)QDir(path(name)).removeRecursively()
                : (void)QFile::remove(path(name));
        }
    }

    void replacesTheWholeFileAndKeepsItsPermissions() {
        const QString target = path("a.txt");
        TestFiles::write(target, QByteArray(10000, 'o'));
        ::chmod(QFile::encodeName(target).constData(), 0640);
        QCOMPARE(write(target, "new"), QString());
        QCOMPARE(TestFiles::read(target), QByteArray("new"));
        struct stat st {};
        ::stat(QFile::encodeName(target).constData(), &st);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(entries(m_dir.path()), QStringList{"a.txt"});
    }

    void refusalsLeaveNothingBehind() {
        QDir().mkdir(path("folder"));
        QCOMPARE(write(path("folder"), "x"), QStringLiteral("create %1").arg(path("folder")));
        QCOMPARE(write(path("missing/a.txt"), "x"),
                 QStringLiteral("create %1").arg(path("missing/a.txt")));

        TestFiles::write(path("ro.txt"), "old");
        TestFiles::setReadOnly(path("ro.txt"), true);
        QCOMPARE(write(path("ro.txt"), "new"), QStringLiteral("create %1").arg(path("ro.txt")));
        QCOMPARE(TestFiles::read(path("ro.txt")), QByteArray("old"));

        QDir().mkdir(path("locked"));
        TestFiles::setReadOnly(path("locked"), true);
        QVERIFY(!write(path("locked/a.txt"), "x").isEmpty());
        TestFiles::setReadOnly(path("locked"), false);
        QCOMPARE(entries(path("locked")), QStringList());
        QCOMPARE(entries(m_dir.path()), (QStringList{"folder", "locked", "ro.txt"}));
    }

    // A link in the target's place is replaced by a regular file; what it points to is
    // never written, wherever it is.
    void aLinkIsReplacedNotFollowed() {
        QTemporaryDir outside;
        const QString victim = outside.filePath("victim.txt");
        TestFiles::write(victim, "outside");
        QVERIFY(QFile::link(victim, path("books.dat")));
        QCOMPARE(write(path("books.dat"), "catalogue"), QString());
        QVERIFY(!QFileInfo(path("books.dat")).isSymLink());
        QCOMPARE(TestFiles::read(path("books.dat")), QByteArray("catalogue"));
        QCOMPARE(TestFiles::read(victim), QByteArray("outside"));

        // A dangling link and a link to a folder are replaced the same way.
        QVERIFY(QFile::link(outside.filePath("nothing"), path("dangling")));
        QCOMPARE(write(path("dangling"), "d"), QString());
        QVERIFY(!QFile::exists(outside.filePath("nothing")));
        QVERIFY(QFile::link(outside.path(), path("folderlink")));
        QCOMPARE(write(path("folderlink"), "f"), QString());
        QCOMPARE(TestFiles::read(path("folderlink")), QByteArray("f"));
        QCOMPARE(entries(outside.path()), QStringList{"victim.txt"});
    }

    void readsOnlyOrdinaryFiles() {
        // A FIFO (the settings file, say) or /dev/zero is refused at once: if either were
        // read, this test would hang until its time-out.
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo.ini")).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path("zero.ini")));
        TestFiles::write(path("plain.ini"), "[a]\r\n");
        QByteArray data;
        QVERIFY(!SafeFile::read(path("fifo.ini"), data));
        QVERIFY(!SafeFile::read(path("zero.ini"), data));
        QVERIFY(SafeFile::read(path("plain.ini"), data));
        QCOMPARE(data, QByteArray("[a]\r\n"));
    }

    // An anchored folder is written and read through its descriptor: renamed, it still
    // gets its files; deleted, it takes none, and its old path never gets one.
    void anAnchoredFolderIsWrittenWhereverItWent() {
        QDir().mkpath(path("lib/sub"));
        const FolderAnchor anchor(path("lib"));
        QVERIFY(anchor.isOpen());
        QVERIFY(QDir().rename(path("lib"), path("moved")));
        QCOMPARE(write(path("lib/sub/file"), "new"), QString());
        QCOMPARE(TestFiles::read(path("moved/sub/file")), QByteArray("new"));
        QByteArray read;
        QVERIFY(SafeFile::read(path("lib/sub/file"), read));
        QCOMPARE(read, QByteArray("new"));
        QVERIFY(!QFileInfo::exists(path("lib")));
        // Messages name the folder where it stands now, and its old place once it is gone.
        QCOMPARE(AnchoredPath::current(path("lib/sub/file")), path("moved/sub/file"));
        QCOMPARE(AnchoredPath::current(path("lib")), path("moved"));
        QCOMPARE(AnchoredPath::current(path("library")), path("library"));

        QVERIFY(QDir(path("moved")).removeRecursively());
        QCOMPARE(AnchoredPath::current(path("lib/sub/file")), path("lib/sub/file"));
        QVERIFY(QDir().mkpath(path("lib/sub")));
        QCOMPARE(write(path("lib/sub/file"), "lost"),
                 QStringLiteral("create %1").arg(path("lib/sub/file")));
        QCOMPARE(entries(path("lib/sub")), QStringList());
        QVERIFY(!SafeFile::read(path("lib/sub/file"), read));
        // A path beside the folder is no part of it.
        QCOMPARE(write(path("library"), "x"), QString());
        QCOMPARE(TestFiles::read(path("library")), QByteArray("x"));
    }

    void aDeviceIsWrittenDirectly() {
        if (!QFile::exists(QStringLiteral("/dev/null")))
            QSKIP("no /dev/null");
        QCOMPARE(write(QStringLiteral("/dev/null"), "x"), QString());
        if (QFile::exists(QStringLiteral("/dev/full")))
            QCOMPARE(write(QStringLiteral("/dev/full"), "x"), QStringLiteral("write"));
    }
};

QTEST_MAIN(TestSafeFile)
#include "test_safe_file.moc"
