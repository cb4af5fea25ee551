// Searching inside every book: indexing speed and size, the longest pause of the event
// loop while the worker thread indexes, memory, query times, and re-indexing one saved
// book; `grep -c` over the same files beside them.
//   bench_search [FOLDER_OF_CP1251_TEXTS] (TOMERIA_BENCH_MB sets the library size, 100)

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/search/index_writer.h"
#include "core/search/search_index.h"
#include "core/search/search_indexer.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

qint64 folderBytes(const QString& path) {
    qint64 total = 0;
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

// Texts to fill the library with: the given folder's, or made-up Russian prose.
QList<QByteArray> sourceTexts(const QString& folder) {
    QList<QByteArray> texts;
    if (!folder.isEmpty()) {
        for (const QFileInfo& info :
             QDir(folder).entryInfoList({QStringLiteral("*.txt")}, QDir::Files)) {
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadOnly))
                texts << file.readAll();
        }
    }
    if (texts.isEmpty()) {
        const QStringList words =
            QStringLiteral(
                "война войны войне войной мир мира князь Андрей читал читала книга книги дом "
                "дороге сказал она он они было была время жизнь человек глаза рука слово день "
                "ночь город поле лес солдат полк генерал письмо сердце любовь снова тогда")
                .split(QLatin1Char(' '));
        std::mt19937 random(7);
        QString text;
        while (text.size() < 3'000'000) {
            for (int i = 0; i < 12; ++i)
                text += words[int(random() % words.size())] + QLatin1Char(' ');
            text += QStringLiteral("снова.\r\n");
        }
        texts << Cp1251::encode(text);
    }
    return texts;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double msOf(const std::function<void()>& action, int repeats = 5) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        action();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// grep -c over every book for a pattern, as code page 1251 bytes.
double grepMs(const QString& books, const QString& pattern, const QTemporaryDir& dir) {
    const QString patternFile = dir.filePath(QStringLiteral("pattern"));
    QFile file(patternFile);
    file.open(QIODevice::WriteOnly);
    file.write(Cp1251::encode(pattern) + '\n');
    file.close();
    return msOf(
        [&] {
            QProcess grep;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
            grep.setProcessEnvironment(env);
            grep.start(QStringLiteral("grep"),
                       {QStringLiteral("-c"), QStringLiteral("-r"), QStringLiteral("-F"),
                        QStringLiteral("-f"), patternFile, books});
            grep.waitForFinished(-1);
        },
        3);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
    const qint64 target = qEnvironmentVariableIntValue("TOMERIA_BENCH_MB") > 0
                              ? qEnvironmentVariableIntValue("TOMERIA_BENCH_MB") * 1'000'000LL
                              : 100'000'000LL;
    const QList<QByteArray> texts =
        sourceTexts(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    const QString library = dir.filePath(QStringLiteral("library"));
    const QString books = library + QStringLiteral("/books");
    QDir().mkpath(books);
    SearchIndexer::Books list;
    qint64 total = 0;
    int largest = 0;
    for (int i = 0; total < target; ++i) {
        const QByteArray& text = texts[i % texts.size()];
        const QString name = QStringLiteral("Книга %1").arg(i);
        const QString path = books + QLatin1Char('/') + name + QStringLiteral(".boo");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        list.append({name, path});
        if (text.size() > texts[largest % texts.size()].size())
            largest = i;
        total += text.size();
    }
    const QString location = SearchIndex::locationFor(library);

    // Index the whole library in the worker thread, the event loop watched meanwhile.
    const qint64 idleKb = statusKb("VmRSS:");
    double longestPause = 0;
    double indexMs = 0;
    double indexCpu = cpuSeconds();
    {
        SearchIndexer indexer(location);
        QElapsedTimer t;
        t.start();
        FreezeMeter freeze;
        QEventLoop loop;
        QObject::connect(&indexer, &SearchIndexer::idle, &loop, &QEventLoop::quit);
        indexer.follow(list);
        loop.exec();
        longestPause = double(freeze.longest());
        indexMs = t.nsecsElapsed() / 1e6;
    }
    indexCpu = cpuSeconds() - indexCpu;
    const qint64 peakKb = statusKb("VmHWM:");
    const qint64 indexSize = folderBytes(location);

    SearchIndex index(location);
    int found = 0;
    const double oneWord =
        msOf([&] { found = int(index.search(QStringLiteral("войной")).books.size()); });
    const double phrase = msOf([&] { index.search(QStringLiteral("\"князь андрей\"")); });
    const double twoWords = msOf([&] { index.search(QStringLiteral("война мир")); });
    const double prefix = msOf([&] { index.search(QStringLiteral("войн*")); });
    const QString bigName = list[largest].first;
    int places = 0;
    const double allPlaces =
        msOf([&] { places = int(index.places(QStringLiteral("войной"), bigName).count); });
    // A pasted passage of 1,000 common words (only its first 100 are searched), and the
    // listing of its places in the largest book (the first few thousand are listed).
    QStringList passageWords;
    const QStringList common = QStringLiteral("война мир князь Андрей читал книга дом сказал она "
                                              "он было время жизнь человек глаза рука слово день")
                                   .split(QLatin1Char(' '));
    for (int i = 0; i < 1000; ++i)
        passageWords << common[(i * 7 + i / 5) % common.size()];
    const QString passage = passageWords.join(QLatin1Char(' '));
    const qint64 beforeLongKb = statusKb("VmRSS:");
    const double longQuery = msOf([&] { index.search(passage); }, 3);
    qint64 longPlaces = 0;
    const double longListing =
        msOf([&] { longPlaces = index.places(passage, list[largest].first).count; }, 3);
    const qint64 longKb = statusKb("VmHWM:") - beforeLongKb;
    double reindex = 0;
    qint64 bigSize = QFileInfo(list[largest].second).size();
    {
        IndexWriter writer(location);
        reindex = msOf(
            [&] {
                writer.indexBook(bigName, list[largest].second);
                writer.commit();
            },
            3);
    }
    const double grepWord = grepMs(books, QStringLiteral("войной"), dir);
    const double grepPhrase = grepMs(books, QStringLiteral("князь Андрей"), dir);

    const double mb = double(total) / 1e6;
    std::printf("\n%-62s %12s\n",
                qPrintable(QStringLiteral("search inside %1 books, %2 MB of text")
                               .arg(list.size())
                               .arg(mb, 0, 'f', 0)),
                "measured");
    std::printf("%-62s %9.1f MB/s\n", "index every book: text per second of CPU time",
                mb / indexCpu);
    std::printf("%-62s %9.1f MB/s\n", "  the same per second of wall time (a low-priority thread)",
                mb / (indexMs / 1000));
    std::printf("%-62s %9.2f x text\n", "index size", double(indexSize) / double(total));
    std::printf("%-62s %9.1f ms\n", "longest event-loop pause while indexing", longestPause);
    std::printf("%-62s %9.1f MB\n", "memory above idle while indexing (peak RSS)",
                (peakKb - idleKb) / 1024.0);
    std::printf(
        "%-62s %9.1f ms\n",
        qPrintable(QStringLiteral("one word «войной», %1 books, snippets of 50").arg(found)),
        oneWord);
    std::printf("%-62s %9.1f ms\n", "phrase \"князь андрей\"", phrase);
    std::printf("%-62s %9.1f ms\n", "two words: война мир", twoWords);
    std::printf("%-62s %9.1f ms\n", "prefix войн*", prefix);
    std::printf(
        "%-62s %9.1f ms\n",
        qPrintable(QStringLiteral("every place in the largest book (%1 places)").arg(places)),
        allPlaces);
    std::printf("%-62s %9.1f ms\n", "a pasted passage of 1,000 common words", longQuery);
    std::printf("%-62s %9.1f ms\n",
                qPrintable(QStringLiteral("  its places in the largest book (%1, first %2 listed)")
                               .arg(longPlaces)
                               .arg(SearchIndex::kMaxListedPlaces)),
                longListing);
    std::printf("%-62s %9.1f MB\n", "  memory for both (peak RSS growth)", longKb / 1024.0);
    std::printf(
        "%-62s %9.1f ms\n",
        qPrintable(
            QStringLiteral("re-index one saved book of %1 MB").arg(bigSize / 1e6, 0, 'f', 1)),
        reindex);
    std::printf("%-62s %9.1f ms\n", "  baseline: grep -c войной (exact form only)", grepWord);
    std::printf("%-62s %9.1f ms\n", "  baseline: grep -c \"князь Андрей\"", grepPhrase);
    return 0;
}
