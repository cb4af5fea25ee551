// The real tomeria binary, started as a user starts it, on the offscreen platform.
#include "support/test_files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestProgram : public QObject {
    Q_OBJECT
    QTemporaryDir m_runtime;

    std::unique_ptr<QProcess> start(const QString& folder, const QString& runtime = QString(),
                                    const QStringList& extraEnvironment = {}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& variable : extraEnvironment)
            env.insert(variable.section(QLatin1Char('='), 0, 0),
                       variable.section(QLatin1Char('='), 1));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                   runtime.isEmpty() ? m_runtime.path() : runtime);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(folder);
        process->start(QStringLiteral(TOMERIA_BINARY), {});
        [[maybe_unused]] const bool started = process->waitForStarted(10000);
        // Ready once it handles SIGTERM itself (SigCgt in /proc), however slow the machine.
        QElapsedTimer waited;
        waited.start();
        while (!catchesTerm(process->processId()) && waited.elapsed() < 30000)
            QTest::qWait(50);
        QTest::qWait(500);
        return process;
    }
    static bool catchesTerm(qint64 pid) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        return false;
    }
    static bool endsCleanly(QProcess& process) {
        ::kill(pid_t(process.processId()), SIGTERM);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

private Q_SLOTS:
    void startsCreatesRefusesAndEnds() {
        QTemporaryDir first;
        QTemporaryDir second;

        // A new folder: the catalogue is created once the start-up message is answered;
        // a session ending answers it too.
        auto fresh = start(first.path());
        QCOMPARE(fresh->state(), QProcess::Running);
        QVERIFY(endsCleanly(*fresh));
        QCOMPARE(TestFiles::read(first.filePath(QStringLiteral("books.dat"))), QByteArray("\r\n"));

        // A running copy keeps a second one out.
        auto running = start(first.path());
        QCOMPARE(running->state(), QProcess::Running);
        TestFiles::write(second.filePath(QStringLiteral("books.dat")), "a=1\r\n");
        auto refused = start(second.path());
        QVERIFY(endsCleanly(*refused));
        QVERIFY(!QFile::exists(second.filePath(QStringLiteral("tomeria.ini"))));
        QCOMPARE(running->state(), QProcess::Running);

        // Ending the first keeps its window settings and lets the next copy in.
        QVERIFY(endsCleanly(*running));
        QVERIFY(TestFiles::read(first.filePath(QStringLiteral("tomeria.ini")))
                    .contains("Visible=1\r\n"));
        auto next = start(second.path());
        QCOMPARE(next->state(), QProcess::Running);
        QVERIFY(endsCleanly(*next));
        QVERIFY(QFile::exists(second.filePath(QStringLiteral("tomeria.ini"))));
    }

    void aSessionEndNeverWaitsOnAMessageBox() {
        // The window settings cannot be written: the error goes to standard error and
        // the program still ends at once, for each of the three signals.
        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
            QTemporaryDir folder;
            const QString settings = folder.filePath(QStringLiteral("tomeria.ini"));
            TestFiles::write(folder.filePath(QStringLiteral("books.dat")), "a=1\r\n");
            TestFiles::write(settings, "[TForm1]\r\n");
            TestFiles::setReadOnly(settings, true);
            auto process = start(folder.path());
            QCOMPARE(process->state(), QProcess::Running);
            ::kill(pid_t(process->processId()), sig);
            QVERIFY2(process->waitForFinished(10000), qPrintable(QString::number(sig)));
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), 0);
            QVERIFY(QString::fromLocal8Bit(process->readAllStandardError())
                        .contains(QStringLiteral("Unable to write to %1").arg(settings)));
            QCOMPARE(TestFiles::read(settings), QByteArray("[TForm1]\r\n"));
        }
    }

    // The disk fills up while the settings are written at the end (a short write, then
    // ENOSPC): the old file stays byte for byte, no temporary file is left, the failure
    // is reported once, and the program still ends normally.
    void settingsAtTheEndOnAFullDisk() {
        QTemporaryDir folder;
        const QByteArray ini = "[TForm1]\r\nFormVersion=0\r\nPanel4_Width=160\r\n";
        TestFiles::write(folder.filePath(QStringLiteral("books.dat")), "a=1\r\n");
        TestFiles::write(folder.filePath(QStringLiteral("tomeria.ini")), ini);
        const auto before = TestFiles::snapshot(folder.path());
        auto process = start(folder.path(), QString(),
                             {QStringLiteral("LD_PRELOAD=" SHORT_WRITE_SHIM),
                              QStringLiteral("TOMERIA_FULL_DISK=*tomeria.ini*"),
                              QStringLiteral("TOMERIA_DISK_FREE=7")});
        QVERIFY(endsCleanly(*process));
        const QString errors = QString::fromLocal8Bit(process->readAllStandardError());
        QCOMPARE(errors.count(QStringLiteral("Unable to write to %1")
                                  .arg(folder.filePath(QStringLiteral("tomeria.ini")))),
                 1);
        QCOMPARE(TestFiles::snapshot(folder.path()), before);
    }

    // Two desktop sessions (two runtime folders) on one library folder: the second copy
    // does not start, so it never writes the folder's files.
    void oneCopyPerLibraryFolderAcrossSessions() {
        QTemporaryDir library;
        QTemporaryDir otherSession;
        TestFiles::write(library.filePath(QStringLiteral("books.dat")), "a=1\r\n");
        auto first = start(library.path());
        QCOMPARE(first->state(), QProcess::Running);
        auto second = start(library.path(), otherSession.path());
        QVERIFY(endsCleanly(*second));
        QVERIFY(!QFile::exists(library.filePath(QStringLiteral("tomeria.ini"))));
        QVERIFY(endsCleanly(*first));
        QVERIFY(QFile::exists(library.filePath(QStringLiteral("tomeria.ini"))));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
