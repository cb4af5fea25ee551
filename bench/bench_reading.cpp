// What the reader remembers, for a library of 10,000 books: loading reading.dat at
// start and saving one book's place, beside QSettings keeping the same in an INI file.

#include "bench_support.h"
#include "core/library/reading_state.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

QString name(int i) {
    return QStringLiteral("Книга номер %1 о чём-то важном").arg(i);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    constexpr int kBooks = 10000;
    QTemporaryDir dir;
    const QString books = dir.filePath(QStringLiteral("books")) + QLatin1Char('/');
    QDir().mkpath(books);
    const QString file = dir.filePath(QStringLiteral("reading.dat"));
    {
        ReadingState state;
        state.load(file, books);
        for (int i = 0; i < kBooks; ++i) {
            QFile book(books + name(i) + QStringLiteral(".boo"));
            book.open(QIODevice::WriteOnly);
            book.write(QByteArray(100 + i % 50, 'a'));
            book.close();
            state.remember(book.fileName(), i * 7);
        }
        QFont font(QStringLiteral("Liberation Serif"));
        font.setPixelSize(20);
        state.setFont(font, Qt::darkBlue);
        state.setBackground(Qt::yellow);
        state.save();
    }

    const double load = bestOf(5, [&] {
        ReadingState state;
        state.load(file, books);
    });
    ReadingState state;
    state.load(file, books);
    int n = 0;
    const double save = bestOf(10, [&] {
        state.remember(books + name(n % kBooks) + QStringLiteral(".boo"), n);
        ++n;
        state.save();
    });

    // The straightforward alternative: one INI key per book.
    const QString ini = dir.filePath(QStringLiteral("reading.ini"));
    {
        QSettings settings(ini, QSettings::IniFormat);
        for (int i = 0; i < kBooks; ++i)
            settings.setValue(QStringLiteral("Books/") + name(i),
                              QStringLiteral("%1 %2").arg(i * 7).arg(100));
    }
    const double iniLoad = bestOf(5, [&] {
        QSettings settings(ini, QSettings::IniFormat);
        settings.value(QStringLiteral("Books/") + name(kBooks / 2));
    });
    QSettings settings(ini, QSettings::IniFormat);
    const double iniSave = bestOf(10, [&] {
        settings.setValue(QStringLiteral("Books/") + name(n % kBooks),
                          QStringLiteral("%1 100").arg(n));
        ++n;
        settings.sync();
    });

    std::printf("\n%-52s %12s %9s\n", "reading.dat, 10,000 books", "measured", "target");
    std::printf("%-52s %9.1f ms %6s ms   baseline %8.1f ms (QSettings INI)\n", "load at start",
                load, "20", iniLoad);
    std::printf("%-52s %9.1f ms %6s ms   baseline %8.1f ms (QSettings INI)\n",
                "remember one book's place + save", save, "10", iniSave);
    return 0;
}
