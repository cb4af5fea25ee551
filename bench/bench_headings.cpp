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
#include "bench_support.h"

#include "core/base/cp1251.h"
#include "core/book/book_text.h"
#include "core/book/headings.h"
#include "core/formats/book_import.h"
#include "core/library/book_companions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
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
    return 0;
}
