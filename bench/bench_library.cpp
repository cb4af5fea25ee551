// The library window with a big catalogue: start-up (load + list rebuild), a list
// rebuild, a search-box jump and a selection.

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

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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
    return 0;
}
