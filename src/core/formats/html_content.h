#pragma once

#include "core/formats/book_builder.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

// What the elements of an HTML or XHTML page mean for a book: paragraphs, headings,
// emphasis, lists, table cells, footnotes (moved to the notes), and the parts that hold
// no text of the book (scripts, styles, the head). Both the HTML parser's tree and the
// XML reader's events are fed through it, so every page reads alike.
class HtmlContent {
public:
    // The value of the element's attribute of that name ("role", "epub:type").
    using Attributes = std::function<QString(QLatin1StringView name)>;

    explicit HtmlContent(BookBuilder& builder) : m_builder(builder) {}

    // Element names are lower case, without a namespace prefix.
    void start(QStringView name, const Attributes& attributes);
    void end();
    void text(QStringView text);

    // From the head: <title> and <meta name="author">.
    const QString& title() const { return m_title; }
    const QString& author() const { return m_author; }

private:
    enum Action : unsigned {
        Block = 1,
        Bold = 2,
        Italic = 4,
        Notes = 8,
        Skip = 16,
        Head = 32,
        Title = 64,
        Preformatted = 128,
        NoteReference = 256,
        OrderedList = 512,
        List = 1024,
        Row = 2048,
        Cell = 4096,
    };
    struct Frame {
        unsigned actions = 0;
        BookBuilder::Style style = BookBuilder::Style::Body; // its own or inherited
        int level = 0; // of a heading of the contents (h1-h6), its own or inherited
    };
    struct Counter {
        std::size_t depth; // of the list or row element
        bool ordered = false;
        int count = 0; // list items, or cells of a row, so far
    };

    BookBuilder::Style currentStyle() const;
    int currentLevel() const;

    BookBuilder& m_builder;
    std::vector<Frame> m_stack;
    std::vector<Counter> m_lists;
    std::vector<Counter> m_rows;
    int m_skip = 0;
    int m_head = 0;
    int m_titleDepth = 0;
    int m_preformatted = 0;
    int m_cells = 0;            // table cells open: their paragraphs stay on the row's line
    bool m_cellHasText = false; // the innermost cell's first paragraph has begun
    QString m_itemPrefix;
    QString m_title;
    QString m_author;
};
