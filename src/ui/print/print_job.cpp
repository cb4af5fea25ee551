#include "ui/print/print_job.h"

#include "core/base/tomeria_error.h"
#include "core/book/book_document.h"
#include "ui/dialogs/print_progress.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QTextLayout>

#include <limits>

namespace PrintJob {

bool run(BookPaginator& paginator, Output& out, const Options& options) {
    const int copies = std::max(1, options.copies);
    const bool collate = options.collate;
    const int lastPage =
        options.ranges.isEmpty() ? std::numeric_limits<int>::max() : options.ranges.lastPage();
    int printed = 0;
    bool stopped = false;
    const auto goOn = [&] {
        stopped = stopped || !out.goOn(printed);
        return !stopped;
    };
    // Collated, the whole document again and again; else each page as many times in a row.
    const auto printPage = [&](int number, const std::vector<BookPaginator::Line>& lines) {
        for (int copy = 0; copy < (collate ? 1 : copies) && goOn(); ++copy) {
            out.draw(number, lines);
            ++printed;
        }
    };
    // Pages in order, each handed to `use` with its number and where it starts; pages
    // outside the range are composed (to find where the next starts) but not used.
    const auto eachPage = [&](auto use) {
        BookPaginator::Position at;
        for (int number = 1; number <= lastPage && !paginator.atEnd(at) && !stopped; ++number) {
            const BookPaginator::Position start = at;
            const std::vector<BookPaginator::Line> lines = paginator.compose(at);
            if (options.ranges.isEmpty() || options.ranges.contains(number))
                use(number, start, lines);
            else
                goOn();
        }
    };
    struct Start {
        int number;
        BookPaginator::Position at;
    };
    std::vector<Start> starts; // of the pages to print, when printed last first
    if (options.reversed)
        eachPage([&](int number, const BookPaginator::Position& start, const auto&) {
            starts.push_back({number, start});
            goOn();
        });
    for (int pass = 0; pass < (collate ? copies : 1) && !stopped; ++pass) {
        if (!options.reversed) {
            eachPage([&](int number, const BookPaginator::Position&, const auto& lines) {
                printPage(number, lines);
            });
            continue;
        }
        for (auto start = starts.rbegin(); start != starts.rend() && !stopped; ++start) {
            BookPaginator::Position at = start->at;
            printPage(start->number, paginator.compose(at));
        }
    }
    return !stopped;
}

namespace {

class PrinterOutput : public Output {
public:
    PrinterOutput(QPrinter& printer, QPainter& painter, PrintProgress& progress)
        : m_printer(printer), m_painter(painter), m_progress(progress) {}
    void draw(int, const std::vector<BookPaginator::Line>& lines) override {
        if (m_pagePrinted)
            m_printer.newPage();
        for (const BookPaginator::Line& placed : lines)
            placed.layout->lineAt(placed.line).draw(&m_painter, QPointF(0, placed.y));
        m_pagePrinted = true;
    }
    bool goOn(int printed) override {
        m_progress.setPage(printed + 1);
        return !m_progress.stopRequested();
    }

private:
    QPrinter& m_printer;
    QPainter& m_painter;
    PrintProgress& m_progress;
    bool m_pagePrinted = false;
};

} // namespace

void print(QPrinter& printer, const BookDocument& book, const QFont& font, const QColor& colour,
           const QString& title, QWidget* parent) {
    // Between pages the window answers: a print asked for meanwhile is refused.
    static bool printing = false;
    if (printing)
        throw TomeriaError(QStringLiteral("Printing in progress"));
    printing = true;
    struct Reset {
        ~Reset() { printing = false; }
    } reset;
    printer.setDocName(title);
    printer.setFullPage(false);
    QPainter painter;
    if (!painter.begin(&printer))
        throw TomeriaError(QStringLiteral("Operation not supported on selected printer"));
    // Pixel sizes are screen pixels: in points the text keeps its size on paper.
    QFont base = font;
    if (base.pixelSize() > 0) {
        const qreal dpi = QApplication::primaryScreen()
                              ? QApplication::primaryScreen()->logicalDotsPerInch()
                              : 96.0;
        base.setPointSizeF(base.pixelSize() * 72.0 / dpi);
    }
    painter.setPen(colour);
    BookPaginator paginator(book, base, &printer, QSizeF(printer.width(), printer.height()));
    // A printer that makes copies itself gets the document once; for any other (a PDF
    // file) the copies and the reversed order are made here.
    Options options;
    const bool printerMakesCopies = printer.supportsMultipleCopies();
    options.copies = printerMakesCopies ? 1 : std::max(1, printer.copyCount());
    options.collate = printer.collateCopies();
    options.reversed = !printerMakesCopies && printer.pageOrder() == QPrinter::LastPageFirst;
    if (printer.printRange() == QPrinter::PageRange)
        options.ranges = printer.pageRanges();
    PrintProgress progress(parent ? parent->window() : nullptr);
    PrinterOutput out(printer, painter, progress);
    if (run(paginator, out, options)) {
        painter.end();
        return;
    }
    // A stopped print leaves no half document: a printer drops the job where it can, a
    // PDF file written so far is removed.
    if (!printer.abort()) {
        painter.end();
        const QString output = printer.outputFileName();
        if (printer.outputFormat() == QPrinter::PdfFormat && !output.isEmpty() &&
            QFileInfo(output).isFile() && !QFileInfo(output).isSymLink())
            QFile::remove(output);
    }
}

} // namespace PrintJob
