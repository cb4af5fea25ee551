// The reading view's layout choices on a 50 MB book, 90 % in: each change and the
// repaint after it, beside a plain repaint (the baseline). The hyphenation patterns are
// loaded first, as the reader window has them loaded in the background at start.

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/book/book_document.h"
#include "core/book/book_lines.h"
#include "core/book/book_text.h"
#include "core/text/hyphenator.h"
#include "ui/bookview/book_view.h"

#include <QApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

// Loading the hyphenation patterns: the system's, and damaged files as big as are read.
void patternLoading() {
    QTemporaryDir dir;
    std::mt19937 random(29);
    QByteArray noise(Hyphenator::kMaxFile, Qt::Uninitialized);
    for (char& c : noise)
        c = char(random());
    QByteArray longest = "KOI8-R\n";
    for (int i = 0; i < 1200; ++i)
        longest += char(0xc0 + random() % 32);
    QByteArray many = "KOI8-R\n";
    while (many.size() + 70 < Hyphenator::kMaxFile) {
        for (int i = 0; i < Hyphenator::kMaxPattern; ++i)
            many += char(0xc0 + random() % 32);
        many += '\n';
    }
    const struct {
        const char* what;
        QString path;
    } files[] = {
        {"the system's Russian patterns", Hyphenator::defaultPatterns()},
        {"2 MB of random bytes", write(dir, QStringLiteral("noise.dic"), noise)},
        {"one pattern of 1,200 letters", write(dir, QStringLiteral("long.dic"), longest)},
        {"2 MB of 64-letter patterns", write(dir, QStringLiteral("many.dic"), many)},
    };
    std::printf("\n%-52s %12s\n", "hyphenation patterns loaded (off the window)", "measured");
    for (const auto& file : files) {
        QElapsedTimer t;
        t.start();
        const Hyphenator hyphenator(file.path);
        std::printf("%-52s %9.1f ms\n", file.what, ms(t));
    }
}

// Justified lines of a book in «Книжная» (its face, 66 characters), greedy against total
// fit: how wide the widest space of each full line is, as a share of the normal space
// (every space of a justified line is widened alike); the share of loose lines (over
// 150 %); hyphens and the longest run of hyphenated lines; and the time the breaking of
// one page (40 lines) takes, the hyphenation points found included.
void justifiedLines(const QString& name, const QByteArray& bytes) {
    const auto text = std::make_shared<const BookDocument>(BookDocument::fromBytes(bytes));
    const BookText raw = BookText::fromBytes(bytes); // the same characters, read in place
    const BookLayout layout = BookLayout::bookish();
    const QFont face = BookLayout::bookFont(1920 - 16, layout.width);
    const CharWidths widths(face, *text);
    const QFontMetricsF metrics(face);
    const qreal column = layout.width * metrics.averageCharWidth() - 2;
    const qreal space = widths.byteWidths()[' '];
    std::printf("\n%s, %d px %s, a column of %.0f px\n", qPrintable(name), face.pixelSize(),
                qPrintable(face.family()), column);
    std::printf("%-10s %8s %8s %8s %8s %8s %10s %10s %12s\n", "breaking", "median", "99th %",
                "loose", "hyphens", "run", "page, ms", "worst, ms", "99th %, ≤2K");
    for (const bool optimal : {false, true}) {
        LineRules rules;
        rules.indent = layout.indent * face.pixelSize();
        rules.hyphenator = &Hyphenator::russian();
        rules.hyphenWidth = metrics.horizontalAdvance(QLatin1Char('-'));
        rules.holdShortWords = true;
        rules.optimal = optimal;
        const BookLines lines(text, widths, column, rules);
        std::vector<double> widest, whole, pages; // whole: paragraphs of one piece
        int loose = 0, hyphens = 0, run = 0, longestRun = 0, pageLines = 0;
        double page = 0;
        for (int n = 0; n < lines.pieceCount(); ++n) {
            QElapsedTimer t;
            t.start();
            const BookLines::Piece piece = lines.piece(n);
            const std::vector<qsizetype> starts = lines.lineStarts(piece);
            const std::vector<qsizetype> ends = lines.hyphenatedEnds(piece, starts);
            page += ms(t);
            pageLines += int(starts.size());
            if (pageLines >= 40) {
                pages.push_back(page);
                page = 0;
                pageLines = 0;
            }
            const qsizetype paragraphStart = text->paragraphStart(piece.paragraph);
            for (size_t i = 0; i < starts.size(); ++i) {
                const qsizetype from = starts[i];
                const qsizetype to = i + 1 < starts.size() ? starts[i + 1] : piece.to;
                const bool hyphen = std::binary_search(ends.begin(), ends.end(), to);
                // A line ending in the text's own hyphen («какой-») counts in a run too.
                const bool ownHyphen = to < piece.to && to - 2 >= from &&
                                       text->at(to - 1) == u'-' &&
                                       QChar(text->at(to - 2)).isLetter();
                run = hyphen || ownHyphen ? run + 1 : 0;
                hyphens += hyphen;
                longestRun = std::max(longestRun, run);
                if (i + 1 == starts.size() && piece.lastOfParagraph)
                    continue; // a paragraph's last line is not justified
                qsizetype at = from;
                if (from == paragraphStart)
                    at = lines.leadingBlanksEnd(from, to);
                qsizetype end = to;
                while (end > at && text->at(end - 1) == u' ')
                    --end;
                qreal natural = hyphen ? rules.hyphenWidth : 0;
                int gaps = 0;
                for (qsizetype k = at; k < end; ++k) {
                    natural += widths.byteWidths()[raw.bytes()[k]];
                    gaps += text->at(k) == u' ';
                }
                if (gaps == 0)
                    continue;
                const qreal room = from == paragraphStart ? column - rules.indent : column;
                const double share = (space + (room - natural) / gaps) / space;
                widest.push_back(share);
                if (piece.index == 0 && piece.lastOfParagraph)
                    whole.push_back(share);
                loose += share > 1.5;
            }
        }
        std::sort(widest.begin(), widest.end());
        std::sort(whole.begin(), whole.end());
        std::sort(pages.begin(), pages.end());
        const auto at = [](const std::vector<double>& v, double q) {
            return v.empty() ? 0.0 : v[std::min(v.size() - 1, size_t(q * double(v.size())))];
        };
        std::printf("%-10s %7.0f%% %7.0f%% %7.1f%% %8d %8d %10.2f %10.2f %11.0f%%\n",
                    optimal ? "total fit" : "greedy", 100 * at(widest, 0.5), 100 * at(widest, 0.99),
                    100.0 * loose / std::max<size_t>(1, widest.size()), hyphens, longestRun,
                    at(pages, 0.5), pages.empty() ? 0.0 : pages.back(), 100 * at(whole, 0.99));
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    patternLoading();
    // «Война и мир» and «Мёртвые души» from a folder of code-page-1251 texts, if named.
    const QDir texts(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    bool measured = false;
    if (argc > 1)
        for (const char* book : {"*voyna_i_mir*", "*myortvye_dushi*"})
            for (const QString& file : texts.entryList({QString::fromLatin1(book)}, QDir::Files)) {
                QFile f(texts.filePath(file));
                if (f.open(QIODevice::ReadOnly)) {
                    justifiedLines(file, f.readAll());
                    measured = true;
                }
            }
    const QString sentence = QStringLiteral(
        "Князь Андрей посмотрел на небо, высокое, чистое и бесконечное, и подумал о жизни "
        "с удивительной отчётливостью. ");
    QByteArray prose;
    for (int i = 0; i < 2000; ++i)
        prose += Cp1251::encode(sentence) + (i % 7 == 6 ? "\r\n" : "");
    QByteArray bytes;
    const qsizetype size = qsizetype(50) * 1024 * 1024;
    bytes.reserve(size + prose.size());
    while (bytes.size() < size)
        bytes += prose;

    if (!measured)
        justifiedLines(QStringLiteral("generated prose, 2 MB"), bytes.left(2 * 1024 * 1024));
    BookView view;
    view.resize(1920, 1040);
    view.show();
    view.setBook(std::make_shared<BookDocument>(BookDocument::fromBytes(bytes)));
    view.scrollOffsetToTop(view.textLength() / 10 * 9);
    view.viewport()->grab();

    const BookLayout plain;
    const BookLayout book = BookLayout::bookish();
    const auto change = [&](const BookLayout& layout) {
        QElapsedTimer t;
        t.start();
        view.setBookLayout(layout);
        view.viewport()->grab();
        return ms(t);
    };
    const double first = change(book);
    const double repaint = bestOf(5, [&] { view.viewport()->grab(); });
    BookLayout wider = book;
    wider.width = 80;
    BookLayout spaced = book;
    spaced.paragraphSpacing = 1;
    double worst = 0;
    for (int i = 0; i < 3; ++i)
        for (const BookLayout& layout : {wider, spaced, plain, book})
            worst = std::max(worst, change(layout));

    std::printf("\n%-52s %12s %9s\n", "book layout, 50 MB book at 90 %", "measured", "target");
    std::printf("%-52s %9.1f ms %6s ms   baseline %6.1f ms (a repaint)\n",
                "first change to «Книжная», with its repaint", first, "50", repaint);
    std::printf("%-52s %9.1f ms %6s ms   baseline %6.1f ms (a repaint)\n",
                "slowest change of a choice, with its repaint", worst, "50", repaint);
    return 0;
}
