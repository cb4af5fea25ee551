// The contents of plain texts: how long the heading scan of a 52 MB book takes, and, on a
// folder of code-page-1251 books with their real lists of chapters beside them
// (NAME.txt and NAME.toc, one heading a line, cp1251), how many real headings are found
// and how many found are none.
//
//   bench_headings [--list] [FOLDER [LISTS]]
//
// FB2 and EPUB books in the folder (NAME.fb2, NAME.epub, made from NAME.txt) are
// imported, and the headings the import keeps are judged against NAME.toc the same way.
//
// LISTS is the folder of the .toc files when they are not beside the books
// (bench/headings holds those of the corpus classics, made from their printed chapters).
//
// A heading found counts as real when its title begins with the next real heading's
// words (letter case, blanks and punctuation aside), in book order.
//
// Then the reader window's side panel on a 52 MB book of 2,000 chapters in 20 parts:
// how long the window waits while the contents are found and listed, how long showing
// the panel (Ctrl+T) takes up to its paint, and how long the window waits when a
// heading typed while editing is found.
#include "bench_support.h"

#include "core/base/cp1251.h"
#include "core/book/book_text.h"
#include "core/book/headings.h"
#include "core/formats/book_import.h"
#include "core/library/book_companions.h"
#include "ui/bookview/book_view.h"
#include "ui/reader/navigation_panel.h"
#include "ui/reader/reader_navigation.h"
#include "ui/reader/reader_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QTreeWidget>

#include <cstdio>

namespace {

QString key(const QString& title) {
    QString out;
    for (QChar c : title)
        if (c.isLetterOrNumber())
            out += c.toLower() == u'ё' ? QChar(u'е') : c.toLower();
    return out;
}

struct Score {
    int real = 0;
    int found = 0;
    int matched = 0;
};

// Matches found headings to real ones in order: each real heading takes the first
// unmatched found one at or after the last match whose key begins with its key.
Score score(const std::vector<Heading>& found, const QStringList& real, bool list) {
    Score s;
    s.real = int(real.size());
    s.found = int(found.size());
    std::vector<bool> used(found.size(), false);
    size_t from = 0;
    for (const QString& r : real) {
        const QString k = key(r);
        bool hit = false;
        for (size_t i = from; i < found.size() && i < from + 40; ++i) {
            if (!used[i] && key(found[i].title).startsWith(k)) {
                used[i] = true;
                from = i + 1;
                ++s.matched;
                hit = true;
                break;
            }
        }
        if (!hit && list)
            std::printf("    missed: %s\n", qPrintable(r));
    }
    if (list)
        for (size_t i = 0; i < found.size(); ++i)
            if (!used[i])
                std::printf("    false: %s\n", qPrintable(found[i].title));
    return s;
}

// Runs the event loop until `done`, at most a minute.
template <class F> bool waitFor(F done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// The side panel of the reader window on a 52 MB book of 2,000 chapters. `baseline`:
// the panel with its percentages' column sized by the tree to its rows, as a tree widget
// does by itself (and the panel did), showing alone measured (in a process of its own,
// so that its first showing in the session is its own too).
void panelFigures(bool baseline) {
    QByteArray book;
    const QByteArray prose = makeProse(QString(), 26 * 1024);
    int chapter = 0;
    for (int part = 1; part <= 20; ++part) {
        book += Cp1251::encode(QStringLiteral("\r\nЧасть %1\r\n\r\n").arg(part));
        for (int c = 0; c < 100; ++c)
            book += Cp1251::encode(QStringLiteral("\r\nГлава %1\r\n\r\n").arg(++chapter)) + prose +
                    "\r\n";
    }
    QTemporaryDir dir;
    const QString path = write(dir, QStringLiteral("book.boo"), book);
    if (!baseline)
        std::printf("\nthe side panel, a book of %.0f MB, %d chapters in 20 parts\n",
                    book.size() / 1048576.0, chapter);

    TMainForm reader;
    reader.resize(1280, 1000);
    reader.show();
    QCoreApplication::processEvents();
    NavigationPanel* panel = reader.Navigation;
    QElapsedTimer t;
    t.start();
    qint64 frozen = 0;
    {
        FreezeMeter meter;
        reader.openBook(path);
        waitFor([&] { return panel->headingsKnown(); });
        frozen = meter.longest();
    }
    if (!baseline)
        std::printf("  opening to the contents known: %.0f ms (%zu headings); longest wait of "
                    "the window meanwhile (the opening itself included) %lld ms\n",
                    ms(t), panel->headings().size(), qint64(frozen));
    if (baseline)
        panel->findChild<QTreeWidget*>(QStringLiteral("Contents"))
            ->header()
            ->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    // The panel shown (Ctrl+T) and hidden again, in the middle of the book, up to its
    // paint: the first showing of the session, then the median of five more.
    reader.navigation()->jumpTo(panel->headings()[panel->headings().size() / 2].offset);
    QCoreApplication::processEvents();
    std::vector<double> opened;
    for (int run = 0; run < 6; ++run) {
        t.restart();
        reader.navigation()->toggleContents(); // Ctrl+T
        QCoreApplication::sendPostedEvents();  // the window's layout: the text narrower
        reader.repaint();
        opened.push_back(ms(t));
        reader.navigation()->toggleContents();
        QCoreApplication::processEvents();
    }
    const double first = opened.front();
    opened.erase(opened.begin());
    std::sort(opened.begin(), opened.end());
    std::printf(baseline
                    ? "    baseline, the column sized to its rows: first %.1f ms, then %.1f ms\n"
                    : "  showing the panel (Ctrl+T) up to its paint: first in the session "
                      "%.1f ms, then %.1f ms (median; target 50 ms)\n",
                first, opened[opened.size() / 2]);
    if (baseline)
        return;
    std::fflush(stdout);
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedChannels);
    other.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--panel-baseline")});
    other.waitForFinished(-1);

    // A heading typed while editing: the window's longest wait until it is listed.
    reader.ToolButton7Click(); // editing
    QCoreApplication::processEvents();
    BookView* view = reader.Editor;
    const qsizetype before = qsizetype(panel->headings().size());
    {
        FreezeMeter meter;
        t.restart();
        view->setSelectionStart(panel->headings()[10].offset);
        view->insertText(QStringLiteral("\r\nГлава новая\r\n\r\n"), true);
        waitFor([&] { return qsizetype(panel->headings().size()) == before + 1; });
        std::printf("  a heading typed while editing, listed after %.0f ms (a pause of %d ms "
                    "first); longest wait of the window meanwhile %lld ms\n",
                    ms(t), ReaderNavigation::kEditPause, qint64(meter.longest()));
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--panel-baseline"))) {
        panelFigures(true);
        return 0;
    }
    const bool list = args.removeAll(QStringLiteral("--list")) > 0;
    const QString folder = args.value(0);
    const QString lists = args.value(1, folder);

    // The scan of a 52 MB book: the folder's texts repeated, else made-up chapters.
    QByteArray big;
    QStringList books;
    if (!folder.isEmpty())
        books = QDir(folder).entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
    QByteArray prose;
    for (const QString& b : books) {
        QFile f(QDir(folder).filePath(b));
        if (f.open(QIODevice::ReadOnly))
            prose += f.readAll() + "\r\n";
    }
    if (prose.isEmpty()) {
        for (int c = 1; c <= 200; ++c) {
            prose += Cp1251::encode(QStringLiteral("\r\n\r\nГлава %1\r\n\r\n").arg(c));
            for (int p = 0; p < 200; ++p)
                prose += Cp1251::encode(QStringLiteral(
                    "    — Да, — сказал он. Проза тянулась долго, строка за строкой, и никто "
                    "не знал, где ей конец.\r\n"));
        }
    }
    while (big.size() < 52 * 1024 * 1024)
        big += prose;
    big.truncate(52 * 1024 * 1024);
    const BookText text = BookText::fromBytes(big);
    size_t count = 0;
    const double scan = bestOf(3, [&] { count = HeadingDetector::detect(text).size(); });
    std::printf("Heading scan of a 52 MB book: %.0f ms (%zu headings)\n", scan, count);

    Score total;
    for (const QString& b : books) {
        const QString base = QDir(folder).filePath(b.chopped(4));
        QFile truthFile(QDir(lists).filePath(b.chopped(4) + QStringLiteral(".toc")));
        const std::vector<Heading> found =
            HeadingDetector::detect(BookText::readFile(base + QStringLiteral(".txt")));
        if (!truthFile.open(QIODevice::ReadOnly)) {
            std::printf("  %s: %zu headings (no real list)\n", qPrintable(b), found.size());
            if (list)
                for (const Heading& h : found)
                    std::printf("    %d %s\n", h.rank, qPrintable(h.title));
            continue;
        }
        QStringList real;
        for (const QByteArray& line : truthFile.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                real.append(Cp1251::decode(line.trimmed()));
        std::printf("  %s\n", qPrintable(b));
        const Score s = score(found, real, list);
        std::printf("  %-44s real %4d, found %4d: %5.1f %% of real found, %5.1f %% false\n",
                    qPrintable(b), s.real, s.found, 100.0 * s.matched / qMax(1, s.real),
                    100.0 * (s.found - s.matched) / qMax(1, s.found));
        total.real += s.real;
        total.found += s.found;
        total.matched += s.matched;
    }
    // Imported books: the headings their import keeps.
    Score imported;
    Score scannedTotal;
    const QStringList formatted =
        folder.isEmpty()
            ? QStringList()
            : QDir(folder).entryList({QStringLiteral("*.fb2"), QStringLiteral("*.epub")},
                                     QDir::Files, QDir::Name);
    for (const QString& b : formatted) {
        QFile truthFile(QDir(lists).filePath(b.section(u'.', 0, 0) + QStringLiteral(".toc")));
        if (!truthFile.open(QIODevice::ReadOnly))
            continue;
        QStringList real;
        for (const QByteArray& line : truthFile.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                real.append(Cp1251::decode(line.trimmed()));
        const ImportedBook book = BookImport::readFile(QDir(folder).filePath(b));
        const BookCompanions::Pending pending = BookCompanions::pendingOf(book);
        std::vector<Heading> found = pending.markup.headings;
        // The notes' own heading is none of the book's chapters.
        const auto notes = [](const Heading& h) { return h.title == u"Примечания"; };
        std::erase_if(found, notes);
        const Score s = score(found, real, list);
        // The same book with its kept headings lost: the scan of its stored text.
        std::vector<Heading> scanned = HeadingDetector::detect(BookText::fromBytes(pending.text));
        std::erase_if(scanned, notes);
        const Score t = score(scanned, real, false);
        std::printf("  %-44s real %4d, kept %4d: %5.1f %% of real kept, %5.1f %% false; "
                    "scanned %4d: %5.1f %% found, %5.1f %% false\n",
                    qPrintable(b), s.real, s.found, 100.0 * s.matched / qMax(1, s.real),
                    100.0 * (s.found - s.matched) / qMax(1, s.found), t.found,
                    100.0 * t.matched / qMax(1, t.real),
                    100.0 * (t.found - t.matched) / qMax(1, t.found));
        scannedTotal.real += t.real;
        scannedTotal.found += t.found;
        scannedTotal.matched += t.matched;
        imported.real += s.real;
        imported.found += s.found;
        imported.matched += s.matched;
    }
    if (imported.real > 0)
        std::printf("  all imported books: real %d, kept %d: %.1f %% of real kept, %.1f %% false\n",
                    imported.real, imported.found, 100.0 * imported.matched / imported.real,
                    100.0 * (imported.found - imported.matched) / qMax(1, imported.found));
    if (scannedTotal.real > 0)
        std::printf(
            "  their stored texts scanned: real %d, found %d: %.1f %% of real found, "
            "%.1f %% false\n",
            scannedTotal.real, scannedTotal.found, 100.0 * scannedTotal.matched / scannedTotal.real,
            100.0 * (scannedTotal.found - scannedTotal.matched) / qMax(1, scannedTotal.found));
    if (total.real > 0)
        std::printf("  all books: real %d, found %d: %.1f %% of real found, %.1f %% false\n",
                    total.real, total.found, 100.0 * total.matched / total.real,
                    100.0 * (total.found - total.matched) / qMax(1, total.found));
    panelFigures(false);
    return 0;
}
