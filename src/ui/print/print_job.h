#pragma once

#include "ui/print/book_paginator.h"

#include <QColor>
#include <QPageRanges>
#include <QString>

class BookDocument;
class QPrinter;
class QWidget;

// Printing a book: its pages, copies, collation, order and range, with a progress
// window whose «Отмена» stops at the next page (as does the end of the session). A
// stopped print leaves no PDF file behind.
namespace PrintJob {

// Where the pages go: `draw` gets each page printed (its number from 1), `goOn` is asked
// before each page with the number of pages gone out so far, and stops the job with false.
class Output {
public:
    virtual ~Output() = default;
    virtual void draw(int number, const std::vector<BookPaginator::Line>& lines) = 0;
    virtual bool goOn(int printed) = 0;
};

struct Options {
    int copies = 1;
    bool collate = false;
    bool reversed = false; // the last page first
    QPageRanges ranges;    // empty: every page
};

// Sends the pages to `out` in the order asked; false when it was stopped.
bool run(BookPaginator& paginator, Output& out, const Options& options);

// Prints the whole book on the printer, in the font and colour given; throws
// TomeriaError when the printer cannot be used, or while another print goes on.
void print(QPrinter& printer, const BookDocument& book, const QFont& font, const QColor& colour,
           const QString& title, QWidget* parent);

} // namespace PrintJob
