#pragma once

#include <QFont>
#include <QSizeF>

#include <memory>
#include <vector>

class BookDocument;
class QPaintDevice;
class QTextLayout;

// Lays out a book's pages straight from the document, one paragraph at a time (a long
// paragraph in segments ending at a space), over the whole printable area in the font
// given. Nothing of the book is copied beyond the paragraphs a page needs.
class BookPaginator {
public:
    // A paragraph longer than this is laid out in segments of about this many characters.
    static constexpr qsizetype kSegment = 16384;

    BookPaginator(const BookDocument& book, const QFont& font, QPaintDevice* device, QSizeF page);

    // Where a page starts: a segment of a paragraph (the offset of its first character)
    // and a line of it.
    struct Position {
        int paragraph = 0;
        qsizetype offset = 0;
        int line = 0;
    };
    struct Line {
        std::shared_ptr<const QTextLayout> layout;
        int line = 0;
        qreal y = 0;
    };
    bool atEnd(const Position& at) const;
    // The lines of the page starting at `at`, which moves past its last line. A line
    // taller than the page still gets a page of its own, so every page moves on.
    std::vector<Line> compose(Position& at);

private:
    std::shared_ptr<const QTextLayout> layoutOf(const Position& at, qsizetype* end);

    const BookDocument& m_book;
    QFont m_font;
    QPaintDevice* m_device;
    QSizeF m_page;
    struct Laid {
        qsizetype offset = -1;
        qsizetype end = 0;
        std::shared_ptr<const QTextLayout> layout;
    };
    // The last segment laid out, and the first of the page composed last.
    Laid m_last;
    Laid m_pageFirst;
};
