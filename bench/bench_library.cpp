// The library window with a big catalogue: start-up (load + list rebuild), a list
// rebuild, a search-box jump and a selection; and a start with a books.dat of one line
// of 100 MB (its time and the peak memory so far).

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "ui/library/library_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

namespace {

// The window on a catalogue of one row whose name is 100 MB: ms to create and show it.
double startWithOneLongLine() {
    QTemporaryDir dir;
    QByteArray line(100 * 1024 * 1024, '\xc0');
    line += "=\xe7\xe0\xec\xe5\xf2\xea\xe0\r\n";
    write(dir, QStringLiteral("books.dat"), line);
    line = QByteArray();
    QDir().mkpath(dir.filePath(QStringLiteral("books")));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QElapsedTimer t;
    t.start();
    {
        TForm1 form;
        form.show();
        QCoreApplication::processEvents();
    }
    const double elapsed = ms(t);
    QDir::setCurrent(previous);
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const qint64 before = statusKb("VmHWM:");
    const double longLine = startWithOneLongLine();
    const qint64 longLinePeak = statusKb("VmHWM:");
    QTemporaryDir dir;
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
    {
        QFile file(dir.filePath(QStringLiteral("books.dat")));
        file.open(QIODevice::WriteOnly);
        QByteArray rows;
        for (int i = 0; i < 100000; ++i)
            rows += Cp1251::encode(
                QStringLiteral("Книга %1 о чём-то=заметка\r\n").arg((i * 7919) % 100000));
        file.write(rows);
    }
    QDir().mkpath(dir.filePath(QStringLiteral("books")));
    QDir::setCurrent(dir.path());

    QElapsedTimer t;
    t.start();
    TForm1 form;
    const double start = t.nsecsElapsed() / 1e6;
    form.show();
    QCoreApplication::processEvents();
    t.restart();
    form.Obnov();
    const double rebuild = t.nsecsElapsed() / 1e6;
    t.restart();
    form.pb->setText(QStringLiteral("Книга 99"));
    const double search = t.nsecsElapsed() / 1e6;
    t.restart();
    form.ListBox1->setCurrentRow(form.ListBox1->count() - 1, QItemSelectionModel::ClearAndSelect);
    const double select = t.nsecsElapsed() / 1e6;

    std::printf("\n%-58s %12s\n", "library window, 100,000 books", "measured");
    std::printf("%-58s %9.1f ms\n", "create the window: load books.dat + sorted list", start);
    std::printf("%-58s %9.1f ms\n", "rebuild the list (after an add or delete)", rebuild);
    std::printf("%-58s %9.1f ms\n", "search box jump to a name near the end", search);
    std::printf("%-58s %9.1f ms\n", "select a book: details and status panels", select);
    std::printf("%-58s %9.1f ms\n", "start with one 100 MB books.dat line (window shown)",
                longLine);
    const std::string peakLabel =
        "  its peak memory (" + std::to_string(before / 1024) + " MB before it)";
    std::printf("%-58s %9lld MB\n", peakLabel.c_str(), longLinePeak / 1024);
    return 0;
}
