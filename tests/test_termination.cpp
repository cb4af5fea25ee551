// The end of the session ends the program whatever a worker thread is doing: a child
// process whose thread never stops, and which waits for it after its event loop, still
// ends after SIGTERM, with a clean exit.

#include "ui/app/termination.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

int runStuckChild(int argc, char** argv) {
    QApplication app(argc, argv);
    Termination::install();
    std::thread worker([] {
        for (;;)
            ::pause(); // never ends by itself
    });
    std::printf("ready\n");
    std::fflush(stdout);
    const int result = app.exec();
    worker.join(); // as the windows' destructors wait for their threads
    return result;
}

} // namespace

class TestTermination : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aStuckWorkerThreadDoesNotKeepTheProgramAlive() {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--stuck-child")});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        while (!out.contains("ready") && child.waitForReadyRead(30000))
            out += child.readAllStandardOutput();
        QVERIFY(out.contains("ready"));
        QCOMPARE(::kill(pid_t(child.processId()), SIGTERM), 0);
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }
};

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--stuck-child") == 0)
        return runStuckChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestTermination test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_termination.moc"
