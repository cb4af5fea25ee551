// The real program's end while its search indexer is busy with big books: from SIGTERM
// to the moment a new copy may start (the session lock is free), beside the time until
// the process has ended (the baseline: the locks held to the very end).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool lockFree(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir library;
    QTemporaryDir runtime;
    QTemporaryDir cache;
    QDir().mkpath(library.filePath(QStringLiteral("books")));
    QByteArray text;
    for (int i = 0; i < 300000; ++i)
        text += "\xea\xed\xe8\xe3\xe0 \xf1\xeb\xee\xe2\xee line " + QByteArray::number(i) + "\r\n";
    QByteArray rows;
    for (int b = 0; b < 4; ++b) {
        QFile book(library.filePath(QStringLiteral("books/b%1.boo").arg(b)));
        book.open(QIODevice::WriteOnly);
        book.write(text);
        rows += "b" + QByteArray::number(b) + "=\r\n";
    }
    QFile catalogue(library.filePath(QStringLiteral("books.dat")));
    catalogue.open(QIODevice::WriteOnly);
    catalogue.write(rows);
    catalogue.close();

    const QByteArray lock = QFile::encodeName(runtime.filePath(QStringLiteral("Tomeria.lock")));
    double lockMs = 0;
    double endMs = 0;
    const int runs = 3;
    for (int run = 0; run < runs; ++run) {
        QDir(cache.filePath(QStringLiteral("tomeria"))).removeRecursively();
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), cache.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(library.path());
        process.start(QStringLiteral(TOMERIA_BINARY), {});
        process.waitForStarted();
        while (lockFree(lock))
            QThread::msleep(10);
        QThread::msleep(1500); // the indexer is at work
        QElapsedTimer t;
        t.start();
        ::kill(pid_t(process.processId()), SIGTERM);
        while (!lockFree(lock))
            QThread::usleep(500);
        lockMs += t.nsecsElapsed() / 1e6;
        process.waitForFinished(30000);
        endMs += t.nsecsElapsed() / 1e6;
    }
    std::printf("\n%-58s %12s %12s\n", "program end, indexer busy (4 books of 9 MB)", "measured",
                "baseline");
    std::printf("%-58s %9.1f ms %9.1f ms\n", "SIGTERM to a new start accepted / process ended",
                lockMs / runs, endMs / runs);
    return 0;
}
