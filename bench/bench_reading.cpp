// What the reader remembers, for a library of 10,000 books: loading reading.dat at
// start and saving one book's place, beside QSettings keeping the same in an INI file.
// Then a reading.dat grown to 71 MB (2.5 million places of books long gone) beside a
// library of 1,000 books: the time and memory of loading it at start.

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/library/reading_state.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

QString name(int i) {
    return QStringLiteral("Книга номер %1 о чём-то важном").arg(i);
}

// Loads a 71 MB reading.dat first, while the process is small, so that its peak is the
// load's own.
void hugeFile() {
    QTemporaryDir dir;
    const QString books = dir.filePath(QStringLiteral("books")) + QLatin1Char('/');
    QDir().mkpath(books);
    const QString file = dir.filePath(QStringLiteral("reading.dat"));
    constexpr int kEntries = 2500000;
    constexpr int kBooks = 1000;
    {
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write("[Reader]\r\n[Books]\r\n; offset, file size in bytes, book\r\n");
        QByteArray block;
        for (int i = 0; i < kEntries; ++i) {
            // Every 2,500th entry is a book of the library; the rest are gone.
            const bool real = i % (kEntries / kBooks) == 0;
            const int n = real ? i / (kEntries / kBooks) : i;
            const QString name =
                real ? QStringLiteral("Книга %1").arg(n) : QStringLiteral("Старая %1").arg(n);
            block += QByteArray::number(n * 13) + ' ' + QByteArray::number(real ? 100 : 999) + ' ' +
                     Cp1251::encode(name) + "\r\n";
            if (block.size() > (1 << 20)) {
                out.write(block);
                block.clear();
            }
        }
        out.write(block);
    }
    for (int n = 0; n < kBooks; ++n) {
        QFile book(books + QStringLiteral("Книга %1.boo").arg(n));
        book.open(QIODevice::WriteOnly);
        book.write(QByteArray(100, 'a'));
    }
    const double before = (statusKb("VmRSS:") / 1024.0);
    QElapsedTimer t;
    t.start();
    ReadingState state;
    state.load(file, books);
    const double loadMs = ms(t);
    const double peak = (statusKb("VmHWM:") / 1024.0) - before;
    const double kept = (statusKb("VmRSS:") / 1024.0) - before;
    int found = 0;
    for (int n = 0; n < kBooks; ++n)
        found += state.position(books + QStringLiteral("Книга %1.boo").arg(n)) == n * 13;
    std::printf("\n%-52s %12s %9s\n", "reading.dat of 71 MB, 2.5 million entries", "measured",
                "target");
    std::printf("%-52s %9.1f ms %6s ms\n", "load at start", loadMs, "200");
    std::printf("%-52s %9.1f MB %6s MB\n", "memory: peak while loading", peak, "100");
    std::printf("%-52s %9.1f MB %6s MB\n", "memory: kept after loading", kept, "10");
    std::printf("%-52s %9d    %9d\n", "places of the library's books kept", found, kBooks);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    hugeFile();
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
