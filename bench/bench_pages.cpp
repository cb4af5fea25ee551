// The reading view in pages against the ribbon, on a 52 MB book of prose (the corpus
// texts named on the command line, or generated sentences) set as «Книжная» at 1920×1080:
// a page turned until painted, opening at a place, the page count in the background, the
// memory.
//
//   bench_pages [folder of code-page-1251 texts]

#include "bench_support.h"
#include "core/book/book_document.h"
#include "core/text/book_layout.h"
#include "ui/bookview/book_view.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QProcess>
#include <QTimer>

#include <cstdio>

namespace {

constexpr qsizetype kBookSize = qsizetype(52) * 1024 * 1024;

BookLayout layoutOf(BookLayout::Pages pages, bool bookish = true) {
    BookLayout layout = bookish ? BookLayout::bookish() : BookLayout();
    layout.pages = pages;
    return layout;
}

struct View {
    BookView view;
    explicit View(const BookLayout& layout) {
        view.resize(1920, 1080);
        if (layout.bookFace)
            view.setFont(BookLayout::bookFont(1920 / 2.0));
        view.setBookLayout(layout);
        view.show();
        QCoreApplication::processEvents();
    }
};

struct Figures {
    double turn = 0;     // slowest turn (PageDown) until painted
    double open = 0;     // setBook at a place until painted
    double counted = -1; // until the page count (the line count, in the ribbon) is known
};

Figures measure(BookLayout::Pages pages, const QByteArray& bytes, bool bookish = true) {
    Figures f;
    View v(layoutOf(pages, bookish));
    BookView& view = v.view;
    auto book = std::make_shared<BookDocument>(BookDocument::fromBytes(bytes));
    // Opening at a place: the book, its place at the top, the first paint.
    QElapsedTimer t;
    t.start();
    view.setBook(book);
    view.scrollOffsetToTop(bytes.size() * 9 / 10);
    view.viewport()->repaint();
    f.open = ms(t);
    // The count, from the opening.
    const auto known = [&] {
        return pages == BookLayout::Pages::Ribbon ? view.linesCounted() : view.pageCount() >= 0;
    };
    // Waited for in an event loop, as the window waits: a loop of processEvents() would
    // take a core from the count.
    {
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (known() || ms(t) >= 120000)
                loop.quit();
        });
        poll.start();
        if (!known())
            loop.exec();
    }
    f.counted = ms(t);
    // Turning: forty pages (spreads) from a place in the book.
    view.scrollOffsetToTop(bytes.size() / 3);
    view.viewport()->repaint();
    for (int i = 0; i < 40; ++i) {
        QElapsedTimer turn;
        turn.start();
        QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(&view, &down);
        view.viewport()->repaint();
        f.turn = std::max(f.turn, ms(turn));
        QCoreApplication::processEvents();
    }
    return f;
}

// Child run: one mode opens the book, counts it, turns forty pages; prints VmHWM in KB.
int peakRun(const QString& mode, const QString& folder) {
    const QByteArray bytes =
        folder == QLatin1String("-") ? QByteArray() : makeProse(folder, kBookSize);
    const auto pages =
        mode == QLatin1String("spread") ? BookLayout::Pages::Spread : BookLayout::Pages::Ribbon;
    if (mode != QLatin1String("idle"))
        measure(pages, bytes);
    std::printf("%ld\n", long(statusKb("VmHWM:")));
    return 0;
}

double peakMb(const QString& mode, const QString& folder) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--peak"), mode, folder.isEmpty() ? QStringLiteral("") : folder});
    child.waitForFinished(600000);
    return child.readAllStandardOutput().trimmed().toLong() / 1024.0;
}

// A row of the table: the label padded by its letters, not its bytes.
void row(const char* what, double ribbon, double spread, const char* unit, const char* target) {
    const int pad = std::max(0, 46 - int(QString::fromUtf8(what).size()));
    std::printf("%s%*s %9.1f %-3s %9.1f %-3s %8s\n", what, pad, "", spread, unit, ribbon, unit,
                target);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--peak")
        return peakRun(QString::fromLocal8Bit(argv[2]),
                       argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    if (argc >= 3 && QByteArray(argv[1]) == "--count") {
        // Only the count of one mode, for a profiler: bench_pages --count spread|ribbon [folder]
        const QByteArray bytes =
            makeProse(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString(), kBookSize);
        const bool spread = QByteArray(argv[2]) == "spread";
        const Figures f =
            measure(spread ? BookLayout::Pages::Spread : BookLayout::Pages::Ribbon, bytes);
        std::printf("%s counted in %.1f ms\n", argv[2], f.counted);
        return 0;
    }
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QByteArray bytes = makeProse(folder, kBookSize);
    std::printf("\nPages: «Книжная» at 1920×1080, %.0f MB%*s «Разворот»       «Лента»   target\n",
                bytes.size() / 1048576.0, 10, "");
    const Figures ribbon = measure(BookLayout::Pages::Ribbon, bytes);
    const Figures spread = measure(BookLayout::Pages::Spread, bytes);
    row("turn a page (PageDown) until painted, slowest", ribbon.turn, spread.turn, "ms", "16");
    row("open 90 % in + first paint", ribbon.open, spread.open, "ms", "40");
    row("pages (ribbon: lines) counted from the open", ribbon.counted, spread.counted, "ms",
        "3000");
    // The count follows the line count: in the plain layout, without total-fit lines.
    const Figures plainRibbon = measure(BookLayout::Pages::Ribbon, bytes, false);
    const Figures plainSpread = measure(BookLayout::Pages::Spread, bytes, false);
    row("the same, «Как в редакторе»", plainRibbon.counted, plainSpread.counted, "ms", "3000");
    row("turn a page, «Как в редакторе»", plainRibbon.turn, plainSpread.turn, "ms", "16");
    const double ribbonMb = peakMb(QStringLiteral("ribbon"), folder);
    const double spreadMb = peakMb(QStringLiteral("spread"), folder);
    row("peak memory", ribbonMb, spreadMb, "MB", "+10");
    return 0;
}
