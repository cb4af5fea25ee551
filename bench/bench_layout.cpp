// The reading view's layout choices on a 50 MB book, 90 % in: each change and the
// repaint after it, beside a plain repaint (the baseline). The hyphenation patterns are
// loaded first, as the reader window has them loaded in the background at start.

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/book/book_text.h"
#include "core/text/hyphenator.h"
#include "ui/bookview/book_view.h"

#include <QApplication>

#include <cstdio>
#include <functional>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
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

    Hyphenator::russian();
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
