#include "support/recording_dialogs.h"
#include "ui/app/application.h"
#include "ui/app/single_instance.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TestSingleInstance : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString lock() const { return m_dir.filePath(QStringLiteral("Tomeria.lock")); }

private Q_SLOTS:
    void secondCopyIsRefusedUntilTheFirstEnds() {
        auto first = std::make_unique<SingleInstance>();
        QVERIFY(first->acquire(lock()));
        SingleInstance second;
        QVERIFY(!second.acquire(lock()));
        first.reset();
        QVERIFY(second.acquire(lock()));
    }

    // The library folder is locked apart from the session: a copy from another session
    // (another runtime folder) is kept out of a folder in use, not out of another one.
    void aLibraryFolderTakesOneCopy() {
        QTemporaryDir library;
        QTemporaryDir other;
        auto first = std::make_unique<SingleInstance>();
        QVERIFY(first->acquireFolder(library.path()));
        SingleInstance second;
        QVERIFY(!second.acquireFolder(library.path()));
        QVERIFY(SingleInstance().acquireFolder(other.path()));
        QCOMPARE(
            QDir(library.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList()); // no lock file of its own in the library
        first->release();
        QVERIFY(second.acquireFolder(library.path()));
        QVERIFY(SingleInstance().acquireFolder(QStringLiteral("/nonexistent-folder")));
    }

    void secondCopyInTheFolderSaysSoAndOpensNoWindow() {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        SingleInstance otherSession;
        QVERIFY(otherSession.acquireFolder(QDir::currentPath()));
        DialogsScope dialogs;
        QCOMPARE(runTomeria(*qApp), 0);
        QCOMPARE(dialogs->texts("notice"),
                 QStringList{
                     QStringLiteral("Работает|Эта библиотека уже открыта в другой копии Tomeria")});
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void aKilledCopyLeavesNoLock() {
        const pid_t child = fork();
        if (child == 0) {
            SingleInstance held;
            held.acquire(lock());
            pause();
            _exit(0);
        }
        SingleInstance probe;
        QTRY_VERIFY(!SingleInstance().acquire(lock()));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        QVERIFY(probe.acquire(lock()));
    }

    void lockLivesInTheRuntimeFolder() {
        qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
        QCOMPARE(SingleInstance::defaultLockPath(), lock());
        qputenv("XDG_RUNTIME_DIR", "/nonexistent-folder");
        QCOMPARE(SingleInstance::defaultLockPath(),
                 QStringLiteral("/tmp/Tomeria-%1.lock").arg(getuid()));
    }

    void secondStartSaysSoAndOpensNoWindow() {
        qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
        SingleInstance first;
        QVERIFY(first.acquire(lock()));
        DialogsScope dialogs;
        QCOMPARE(runTomeria(*qApp), 0);
        QCOMPARE(dialogs->texts("notice"),
                 QStringList{QStringLiteral("Работает|Tomeria уже запущена")});
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }
};

QTEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
