// The reading view's layout choices on a 50 MB book, 90 % in: each change and the
// repaint after it, beside a plain repaint (the baseline). The hyphenation patterns are
// loaded first, as the reader window has them loaded in the background at start.

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/book/book_document.h"
#include "core/book/book_lines.h"
#include "core/book/book_markup.h"
#include "core/book/book_text.h"
#include "core/text/hyphenator.h"
#include "core/text/line_breaking.h"
#include "ui/bookview/book_view.h"
#include "ui/bookview/paragraph_layout.h"

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
// (every space of a justified line is widened alike, after the letter spacing a short
// line is given); the share of loose lines (over
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
                    // A no-break space is widened with the others (it only binds).
                    gaps += text->at(k) == u' ' || text->at(k) == 0xA0;
                }
                if (gaps == 0)
                    continue;
                const qreal room = from == paragraphStart ? column - rules.indent : column;
                // As drawn: the characters take their share of a short line's slack as
                // letter spacing (a space too), the spaces the rest.
                const qreal tracked = LineBreaking::tracking(room - natural, natural, gaps, space,
                                                             LineBreaking::Params());
                const double share =
                    (space + tracked / qreal(end - at) + (room - natural - tracked) / gaps) / space;
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

// Headings and emphasis on a 50 MB book: chapters of `prose` under a heading each, a
// phrase of every fifth sentence in italic and another in bold. The same book with its
// marks and without: opening at 90 % with the paint, the change to «Книжная», a
// repaint, every display line counted (the line counter's pass, in the background), the
// marks indexed for a layout (after each edit or change).
void marks(const QByteArray& prose) {
    const QByteArray italic = Cp1251::encode(QStringLiteral("высокое, чистое и бесконечное"));
    const QByteArray bold = Cp1251::encode(QStringLiteral("Князь Андрей"));
    std::vector<Emphasis> chapter; // in one chapter's prose
    for (qsizetype at = prose.indexOf(italic), n = 0; at >= 0;
         at = prose.indexOf(italic, at + 1), ++n)
        if (n % 5 == 0)
            chapter.push_back(Emphasis{at, at + italic.size(), Emphasis::Italic});
    for (qsizetype at = prose.indexOf(bold), n = 0; at >= 0; at = prose.indexOf(bold, at + 1), ++n)
        if (n % 5 == 2)
            chapter.push_back(Emphasis{at, at + bold.size(), Emphasis::Bold});
    std::sort(chapter.begin(), chapter.end(),
              [](const Emphasis& a, const Emphasis& b) { return a.from < b.from; });
    QByteArray bytes;
    BookMarkup markup;
    const qsizetype size = qsizetype(50) * 1024 * 1024;
    bytes.reserve(size + prose.size() + 64);
    for (int n = 1; bytes.size() < size; ++n) {
        if (!bytes.isEmpty())
            bytes += "\r\n";
        const QString title = QStringLiteral("Глава %1").arg(n);
        markup.headings.push_back(Heading{bytes.size(), Heading::Chapter, title});
        bytes += Cp1251::encode(title) + "\r\n\r\n";
        for (const Emphasis& e : chapter)
            markup.emphasis.push_back(Emphasis{bytes.size() + e.from, bytes.size() + e.to, e.kind});
        bytes += prose;
    }
    const auto marked = std::make_shared<const BookMarkup>(markup);
    std::printf("\n%-52s %12s %12s\n", "headings and emphasis, 50 MB book", "with marks",
                "without");
    std::printf("%-52s %12zu %12s\n", "headings, emphasised runs", markup.headings.size(), "");
    std::printf("%-52s %12zu %12s\n", "", markup.emphasis.size(), "");
    const auto book = std::make_shared<BookDocument>(BookDocument::fromBytes(bytes));
    // Each figure the best of five, the two books in turn. The reader opens a book and
    // hands the view its marks once they are read (on a worker thread): a relayout.
    double open[2] = {1e100, 1e100}, arrive = 1e100, bookish[2] = {1e100, 1e100},
           repaint[2] = {1e100, 1e100};
    for (int round = 0; round < 5; ++round)
        for (const bool withMarks : {true, false}) {
            BookView view;
            view.resize(1920, 1040);
            view.show();
            QElapsedTimer t;
            t.start();
            view.setBook(book);
            view.scrollOffsetToTop(view.textLength() / 10 * 9);
            view.viewport()->grab();
            open[withMarks] = std::min(open[withMarks], ms(t));
            if (withMarks) {
                t.restart();
                view.setMarkup(marked);
                view.viewport()->grab();
                arrive = std::min(arrive, ms(t));
            }
            t.restart();
            view.setBookLayout(BookLayout::bookish());
            view.viewport()->grab();
            bookish[withMarks] = std::min(bookish[withMarks], ms(t));
            repaint[withMarks] =
                std::min(repaint[withMarks], bestOf(5, [&] { view.viewport()->grab(); }));
        }
    // The line counter's pass (in the background) over the first 5 MB, in «Книжная».
    const QFont face = BookLayout::bookFont(1920 - 16);
    const CharWidths widths(face, *book);
    LineRules rules;
    rules.indent = 1.5 * face.pixelSize();
    rules.hyphenator = &Hyphenator::russian();
    rules.hyphenWidth = QFontMetricsF(face).horizontalAdvance(QLatin1Char('-'));
    rules.holdShortWords = true;
    rules.optimal = true;
    const qreal column = 66 * QFontMetricsF(face).averageCharWidth();
    const int paragraphs = book->paragraphAt(5 * 1024 * 1024);
    double counted[2] = {1e100, 1e100};
    for (int round = 0; round < 3; ++round)
        for (const bool withMarks : {true, false}) {
            LineMarks lineMarks;
            if (withMarks)
                lineMarks = {std::make_shared<const MarkIndex>(markup, *book),
                             markWidths(face, widths)};
            const BookLines lines(book, widths, column, rules, nullptr, 0, lineMarks);
            QElapsedTimer t;
            t.start();
            lines.walk([&](int piece, int) { return piece < paragraphs; });
            counted[withMarks] = std::min(counted[withMarks], ms(t));
        }
    const auto row = [](const char* what, const double* v) {
        std::printf("%-52s %9.1f ms %9.1f ms\n", what, v[1], v[0]);
    };
    row("open at 90 %, with its paint", open);
    std::printf("%-52s %9.1f ms\n", "its marks handed to the view, with the repaint", arrive);
    row("change to «Книжная», with its repaint", bookish);
    row("a repaint", repaint);
    row("display lines of 5 MB counted («Книжная»)", counted);
    std::printf("%-52s %9.1f ms\n", "the marks indexed for a layout",
                bestOf(3, [&] { const MarkIndex index(markup, *book); }));
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
    marks(prose);
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
