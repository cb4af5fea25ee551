// Adding a folder of 1,000 FB2 books of about 300 KB (prose from a folder of code page
// 1251 texts, else random words) to an empty library through the library window: 900
// files in ten subfolders, 50 books in ten ZIPs, 50 byte-identical copies. Figures:
// books added per second, the longest freeze of the window, memory above idle, and the
// load of the resulting catalogue (and of one of 10,000 books) at the next start. Beside
// them the straightforward way: one book after another on the window's thread, each
// read, converted and added with the catalogue stored each time (the add panel's way).
// Each part runs in a process of its own.
// Then 15,000 small texts of one title (the longest freeze while they are named) and one
// ZIP of 10,000 small texts (the time to add them all).
//   bench_bulk_import [FOLDER OF CP1251 TEXTS]
//   bench_bulk_import --same-title LIBRARY [COUNT]   bench_bulk_import --zip LIBRARY [COUNT]
//   bench_bulk_import --make FOLDER [FOLDER OF CP1251 TEXTS]   (only writes the books)

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/formats/book_import.h"
#include "core/library/book_preparation.h"
#include "core/library/bulk_import.h"
#include "core/library/import_source.h"
#include "core/library/library.h"
#include "support/recording_dialogs.h"
#include "support/test_books.h"
#include "support/test_files.h"
#include "ui/library/bulk_import_window.h"
#include "ui/library/library_window.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace {

constexpr int kBooks = 1000;
constexpr int kZipped = 50;
constexpr int kCopies = 50;
constexpr qsizetype kBookBytes = 300 * 1024;

QStringList prose(const QString& folder) {
    QString text;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.txt")}, QDir::Files)) {
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += Cp1251::decode(file.readAll());
    }
    if (text.isEmpty()) {
        const QString letters = QStringLiteral("оооеееаааииинннтттсссрррвввлллккмммддппуяыь");
        QRandomGenerator random(24);
        while (text.size() < 4 << 20) {
            for (int word = 0; word < 80; ++word) {
                const int length = 1 + int(random.bounded(9));
                for (int i = 0; i < length; ++i)
                    text += letters[int(random.bounded(letters.size()))];
                text += QLatin1Char(' ');
            }
            text += QStringLiteral(".\n");
        }
    }
    text.replace(QLatin1Char('&'), QStringLiteral("и"))
        .remove(QLatin1Char('<'))
        .remove(QLatin1Char('>'));
    QStringList paragraphs;
    for (const QString& p : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!p.trimmed().isEmpty())
            paragraphs.append(p.trimmed().toHtmlEscaped());
    return paragraphs;
}

// Book `number`: its own title and author, prose from its own place in the paragraphs.
QByteArray book(const QStringList& paragraphs, int number) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FictionBook "
                     "xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><description>"
                     "<title-info><author><first-name>Автор</first-name><last-name>Номер " +
                     QByteArray::number(number % 97) + "</last-name></author><book-title>Книга " +
                     QByteArray::number(number) +
                     "</book-title></title-info></description><body><section>\n";
    qsizetype i = qsizetype(number) * 7919 % paragraphs.size();
    while (out.size() < kBookBytes)
        out += "<p>" + paragraphs[i++ % paragraphs.size()].toUtf8() + "</p>\n";
    return out + "</section></body></FictionBook>\n";
}

void makeFolder(const QString& folder, const QString& texts) {
    const QStringList paragraphs = prose(texts);
    QDir().mkpath(folder);
    for (int n = 0; n < kBooks - kZipped - kCopies; ++n) {
        const QString sub = folder + QStringLiteral("/автор %1").arg(n % 10);
        QDir().mkpath(sub);
        TestFiles::write(sub + QStringLiteral("/книга %1.fb2").arg(n), book(paragraphs, n));
    }
    for (int z = 0; z < kZipped / 5; ++z) {
        QList<QPair<QString, QByteArray>> members;
        for (int k = 0; k < 5; ++k) {
            const int n = kBooks - kZipped - kCopies + z * 5 + k;
            members.append({QStringLiteral("книга %1.fb2").arg(n), book(paragraphs, n)});
        }
        TestFiles::write(folder + QStringLiteral("/сборник %1.zip").arg(z),
                         TestBooks::zip(members));
    }
    QDir().mkpath(folder + QStringLiteral("/копии"));
    for (int c = 0; c < kCopies; ++c) {
        const int n = c * 17;
        QFile::copy(folder + QStringLiteral("/автор %1/книга %2.fb2").arg(n % 10).arg(n),
                    folder + QStringLiteral("/копии/книга %1.fb2").arg(n));
    }
}

// 15,000 small texts whose first line is the same title, their bodies different.
void makeSameTitle(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int n = 0; n < count; ++n)
        TestFiles::write(folder + QStringLiteral("/%1.txt").arg(n, 5, 10, QLatin1Char('0')),
                         Cp1251::encode(QStringLiteral("Глава 1\r\nТекст номер %1.\r\n").arg(n)));
}

// One ZIP of `count` small texts, each its own title.
void makeZip(const QString& folder, int count) {
    QDir().mkpath(folder);
    QList<QPair<QString, QByteArray>> members;
    for (int n = 0; n < count; ++n)
        members.append({QStringLiteral("книга %1.txt").arg(n),
                        Cp1251::encode(QStringLiteral("Книга %1\r\nТекст книги.\r\n").arg(n))});
    TestFiles::write(folder + QStringLiteral("/много.zip"), TestBooks::zip(members));
}

// The longest stretch of processor time the window's thread spent between two turns of
// its event loop: the freeze the window's own work causes, whatever else the machine
// runs (on a loaded machine the wall-clock gaps also hold the waits for a core).
class ProcessorFreezeMeter {
public:
    ProcessorFreezeMeter() {
        m_last = threadMs();
        QObject::connect(&m_ticker, &QTimer::timeout, &m_ticker, [this] { tick(); });
        m_ticker.start(10);
    }
    double longest() {
        tick();
        return m_longest;
    }

private:
    static double threadMs() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
    }
    void tick() {
        const double now = threadMs();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_ticker;
    double m_last = 0;
    double m_longest = 0;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void newLibrary(const QString& library) {
    QDir(library).removeRecursively();
    QDir().mkpath(library);
    TestFiles::write(library + QStringLiteral("/books.dat"), "\r\n");
    QDir::setCurrent(library);
}

// The import through the window, as the user starts it.
int measureImport(const QString& source, const QString& library) {
    newLibrary(library);
    DialogsScope dialogs;
    TForm1 form;
    form.show();
    [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(&form);
    QTest::qWait(300);
    const qint64 idle = statusKb("VmRSS:");
    qint64 peak = idle;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler,
                     [&] { peak = std::max(peak, statusKb("VmRSS:")); });
    sampler.start(20);
    FreezeMeter freeze;
    ProcessorFreezeMeter processorFreeze;
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    form.startBulkImport({source});
    BulkImportWindow* window = form.bulkImportWindow();
    // How often the list takes new books: the longest time between two batches.
    qint64 lastBatch = -1;
    qint64 longestBetween = 0;
    QObject::connect(window->import(), &BulkImport::booksAdded, window, [&] {
        const qint64 now = clock.elapsed();
        if (lastBatch >= 0)
            longestBetween = std::max(longestBetween, now - lastBatch);
        lastBatch = now;
    });
    QEventLoop loop;
    QObject::connect(window->import(), &BulkImport::finished, &loop, &QEventLoop::quit);
    if (!window->import()->isFinished())
        loop.exec();
    const double seconds = ms(clock) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const qint64 longest = freeze.longest();
    const BulkImport::Counts counts = window->import()->counts();
    std::printf("  folder import: %d files, %d added, %d repeats, %d not books, %s\n", counts.found,
                counts.added, counts.duplicates, counts.notBooks,
                qPrintable(window->import()->error()));
    std::printf("  books per second (%d cores):            %8.1f   (%.1f s for %d books, "
                "target >= 40)\n",
                QThread::idealThreadCount(), (counts.added + counts.duplicates) / seconds, seconds,
                counts.added + counts.duplicates);
    // On a machine shared with other work the time taken says little: the processor time
    // per book gives what two free cores would do.
    std::printf("  processor time per book:                %8.1f ms (two free cores: %.0f "
                "books/s)\n",
                1000.0 * cpu / (counts.added + counts.duplicates),
                2.0 * (counts.added + counts.duplicates) / cpu);
    std::printf("  longest freeze of the window:           %8lld ms (target <= 100), of it "
                "the window's own processor time %.0f ms\n",
                static_cast<long long>(longest), processorFreeze.longest());
    std::printf("  memory above idle:                      %8lld MB (target <= 200)\n",
                static_cast<long long>((peak - idle) / 1024));
    std::printf("  longest time between list updates:      %8lld ms (target <= 1000)\n",
                static_cast<long long>(longestBetween));
    std::printf("  list items after the import:            %8d\n", int(form.ListBox1->count()));
    return counts.added;
}

// The import alone, without the window and its search indexer: what compares with the
// straightforward way below.
void measureImportAlone(const QString& source, const QString& library) {
    newLibrary(library);
    Library lib;
    lib.folder().setProgramFolder(library + QLatin1Char('/'));
    lib.load(nullptr);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    FreezeMeter freeze;
    BulkImport import(lib, {source});
    QEventLoop loop;
    QObject::connect(&import, &BulkImport::finished, &loop, &QEventLoop::quit);
    import.start();
    if (!import.isFinished())
        loop.exec();
    const int books = import.counts().added + import.counts().duplicates;
    std::printf("  the import alone, no window or index:   %8.1f books/s (%.1f ms of processor "
                "time a book), freeze %lld ms\n",
                books / (ms(clock) / 1000.0), 1000.0 * (cpuSeconds() - cpuBefore) / books,
                static_cast<long long>(freeze.longest()));
}

// One book after another on the window's thread, the catalogue stored each time.
void measureStraightforward(const QString& source, const QString& library, int books) {
    newLibrary(library);
    Library lib;
    lib.folder().setProgramFolder(library + QLatin1Char('/'));
    lib.load(nullptr);
    const QStringList files = ImportSource::scan({source});
    double longest = 0;
    QElapsedTimer clock;
    clock.start();
    int done = 0;
    for (const QString& file : files) {
        if (done == books)
            break;
        QElapsedTimer one;
        one.start();
        const ImportedBook imported = BookImport::readFile(file);
        if (imported.kind == ImportedBook::Kind::PlainText ||
            imported.kind == ImportedBook::Kind::Formatted) {
            const QString name = BookPreparation::proposedName(imported, file);
            try {
                lib.addBook(name, imported.author, BookPreparation::storedBytes(imported));
            } catch (...) {
            }
        }
        ++done;
        longest = std::max(longest, ms(one));
    }
    const double seconds = ms(clock) / 1000.0;
    std::printf("  baseline, one by one on the window's thread, no index: %.1f books/s, "
                "freeze %.0f ms (first %d books)\n",
                done / seconds, longest, done);
}

// The catalogue left by the import, and one ten times longer, loaded as at a start.
void measureLoad(const QString& library) {
    const QString path = library + QStringLiteral("/books.dat");
    const QByteArray rows = TestFiles::read(path);
    QByteArray tenfold;
    int count = 0;
    for (int copy = 0; count < 10000; ++copy) {
        for (const QByteArray& line : rows.split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0 && count++ < 10000)
                tenfold +=
                    line.left(eq) + " (" + QByteArray::number(copy) + ")" + line.mid(eq) + "\n";
        }
    }
    const QString tenPath = library + QStringLiteral("/ten.dat");
    TestFiles::write(tenPath, tenfold);
    for (const auto& [file, label] :
         {std::pair{path, "the import's"}, std::pair{tenPath, "a longer"}}) {
        Catalogue catalogue;
        const double load = bestOf(5, [&] { catalogue.LoadCatalogue(file); });
        std::printf("  catalogue load, %-12s %5d books: %8.1f ms (target <= 50)\n", label,
                    catalogue.rowCount(), load);
        // An import stores the catalogue every 1.5 s on the window's thread.
        const QString copy = library + QStringLiteral("/stored.dat");
        const double store = bestOf(5, [&] { catalogue.SaveCatalogue(copy); });
        std::printf("  catalogue store, %-12s %5d books: %7.1f ms\n", label, catalogue.rowCount(),
                    store);
    }
    // The whole start of the window with the 10,000 books: load and the sorted list.
    QFile::remove(path);
    QFile::rename(tenPath, path);
    QDir::setCurrent(library);
    DialogsScope dialogs;
    QElapsedTimer clock;
    clock.start();
    TForm1 form;
    std::printf("  library window created with %5d books:  %8.1f ms\n", form.ListBox1->count(),
                ms(clock));
}

// «Остановить» and the end of the program while a ZIP of 10,000 books is read, and
// while its books are written: how long until the import has ended.
void measureZipStop(const QString& source, const QString& library, bool whileWriting,
                    bool byClosing) {
    newLibrary(library);
    DialogsScope dialogs;
    TForm1 form;
    form.show();
    [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(&form);
    form.startBulkImport({source});
    BulkImportWindow* window = form.bulkImportWindow();
    BulkImport* import = window->import();
    QEventLoop loop;
    QElapsedTimer clock;
    const auto end = [&] {
        if (clock.isValid())
            return;
        clock.start();
        if (byClosing) {
            // As the library window's close does, once the signal being sent is done.
            QTimer::singleShot(0, &loop, [&] {
                delete window;
                loop.quit();
            });
        } else {
            import->stop();
        }
    };
    if (whileWriting)
        QObject::connect(import, &BulkImport::booksAdded, window, end);
    else
        QObject::connect(import, &BulkImport::progress, window, [&] {
            if (import->currentFile().endsWith(QLatin1String(".zip")))
                end();
        });
    QObject::connect(import, &BulkImport::finished, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("  %s %-22s %6.0f ms (target <= 1000)\n",
                byClosing ? "the program ends" : "«Остановить»     ",
                whileWriting ? "while books are written:" : "while the ZIP is read:", ms(clock));
}

// A books.dat of one line of 100 MB (a name of 100 MB, or no '=' at all): the time and
// the memory its load takes, beside the file's size, and that it is stored byte for byte.
void measureLongLine(const QString& folder, bool withName) {
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/books.dat");
    {
        QByteArray line(100 << 20, 'a');
        if (withName)
            line[line.size() - 3] = '=';
        TestFiles::write(path, line + "\r\n");
    }
    {
        // The peak so far (the line written) is forgotten.
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
    }
    const qint64 before = statusKb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    Catalogue catalogue;
    catalogue.LoadCatalogue(path);
    const Catalogue::Match match = catalogue.FindName(QStringLiteral("b"));
    const double load = ms(clock);
    const qint64 peak = statusKb("VmHWM:");
    catalogue.SaveCatalogue(folder + QStringLiteral("/copy.dat"));
    const bool same =
        TestFiles::read(folder + QStringLiteral("/copy.dat")) == TestFiles::read(path);
    std::printf("  books.dat of one 100 MB line (%s): load %.0f ms, peak memory %lld MB above "
                "the start (target <= 200), stored byte for byte: %s%s\n",
                withName ? "a name of 100 MB" : "no '='", load,
                static_cast<long long>((peak - before) / 1024), same ? "yes" : "NO",
                match.found ? " (found?)" : "");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == QLatin1String("--import"))
        return measureImport(args[2], args[3]) > 0 ? 0 : 1;
    if (args.size() >= 4 && args[1] == QLatin1String("--alone")) {
        measureImportAlone(args[2], args[3]);
        return 0;
    }
    if (args.size() >= 4 && args[1] == QLatin1String("--baseline")) {
        measureStraightforward(args[2], args[3], 100);
        return 0;
    }
    if (args.size() >= 5 && args[1] == QLatin1String("--zip-stop")) {
        QTemporaryDir dir;
        qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
        makeZip(dir.filePath(QStringLiteral("source")), 10000);
        for (const bool byClosing : {false, true})
            for (const bool whileWriting : {false, true})
                if (QString::number(int(byClosing) * 2 + int(whileWriting)) == args[3])
                    measureZipStop(dir.filePath(QStringLiteral("source")), args[2], whileWriting,
                                   byClosing);
        return 0;
    }
    if (args.size() >= 3 && args[1] == QLatin1String("--long-line")) {
        measureLongLine(args[2], args.value(3) == QLatin1String("name"));
        return 0;
    }
    if (args.size() >= 3 && args[1] == QLatin1String("--same-title")) {
        QTemporaryDir dir;
        qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
        const int count = args.size() >= 4 ? args[3].toInt() : 15000;
        std::printf("bench_bulk_import: %d texts of one title\n", count);
        std::fflush(stdout);
        makeSameTitle(dir.filePath(QStringLiteral("source")), count);
        return measureImport(dir.filePath(QStringLiteral("source")), args[2]) > 0 ? 0 : 1;
    }
    if (args.size() >= 3 && args[1] == QLatin1String("--zip")) {
        QTemporaryDir dir;
        qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
        const int count = args.size() >= 4 ? args[3].toInt() : 10000;
        std::printf("bench_bulk_import: one ZIP of %d small texts (target: under 10 s)\n", count);
        std::fflush(stdout);
        makeZip(dir.filePath(QStringLiteral("source")), count);
        return measureImport(dir.filePath(QStringLiteral("source")), args[2]) > 0 ? 0 : 1;
    }
    // The folder alone, for trying the real program with it.
    if (args.size() >= 3 && args[1] == QLatin1String("--make")) {
        makeFolder(args[2], args.value(3));
        return 0;
    }
    if (args.size() >= 3 && args[1] == QLatin1String("--load")) {
        measureLoad(args[2]);
        return 0;
    }
    QTemporaryDir dir;
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
    const QString source = dir.filePath(QStringLiteral("source"));
    const QString library = dir.filePath(QStringLiteral("library"));
    std::printf("bench_bulk_import: %d FB2 books of %lld KB (%d zipped, %d copies)\n", kBooks,
                static_cast<long long>(kBookBytes / 1024), kZipped, kCopies);
    std::fflush(stdout);
    makeFolder(source, args.value(1));
    auto part = [&](const QStringList& partArgs) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QCoreApplication::applicationFilePath(), partArgs);
        process.waitForFinished(-1);
    };
    part({QStringLiteral("--import"), source, library});
    part({QStringLiteral("--load"), library});
    part({QStringLiteral("--alone"), source, dir.filePath(QStringLiteral("alone"))});
    part({QStringLiteral("--baseline"), source, dir.filePath(QStringLiteral("baseline"))});
    part({QStringLiteral("--same-title"), dir.filePath(QStringLiteral("same-title"))});
    part({QStringLiteral("--zip"), dir.filePath(QStringLiteral("zip"))});
    for (const char* which : {"0", "1", "2", "3"})
        part({QStringLiteral("--zip-stop"), dir.filePath(QStringLiteral("zip-stop")),
              QString::fromLatin1(which), QString()});
    part({QStringLiteral("--long-line"), dir.filePath(QStringLiteral("long")),
          QStringLiteral("name")});
    part({QStringLiteral("--long-line"), dir.filePath(QStringLiteral("long2"))});
    return 0;
}
