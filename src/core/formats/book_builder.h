#pragma once

#include "core/rtf/rtf_reader.h"

#include <QList>
#include <QString>

// A paragraph of the finished book that is a heading of its contents, and its level
// (1 for the top: a part, a first-level section).
struct HeadingPlace {
    qsizetype paragraph = 0;
    int level = 1;
    int paragraphs = 1; // a title of several lines: their number
    bool operator==(const HeadingPlace&) const = default;
};

// Collects the text of an imported book as formatted paragraphs: the readers of the
// book formats call it as they meet paragraphs, headings and emphasis. Footnote bodies
// go to a list of their own that follows the text; the title and author from the
// book's metadata open the result.
class BookBuilder {
public:
    enum class Style { Body, Title, Heading, Subheading };

    // Starts a paragraph (ending any open one). A `level` above 0 makes it a heading
    // of the contents at that level (the style alone does not: an FB2 subtitle is
    // set as a heading but is none of the contents); a level below 0 is a further line
    // of the heading at level −`level` just begun (an FB2 title of two lines is one
    // heading).
    void beginParagraph(Style style = Style::Body, int level = 0);
    void endParagraph();
    // Appends text to the open paragraph, opening a body paragraph when none is open.
    // With `collapse` runs of white space (line breaks included) become one space, as
    // in HTML and XML books; leading space of a paragraph is dropped.
    void addText(QStringView text, bool collapse = true);
    // An empty line of its own.
    void emptyLine();

    // Bold and italic for the text that follows (counted, so nesting works).
    void pushBold() { ++m_bold; }
    void popBold() { m_bold = qMax(0, m_bold - 1); }
    void pushItalic() { ++m_italic; }
    void popItalic() { m_italic = qMax(0, m_italic - 1); }

    // Text added between these goes to the notes that follow the book's text; a
    // paragraph of the text left open goes on after the note.
    void beginNotes() { ++m_inNotes; }
    void endNotes();
    bool inNotes() const { return m_inNotes > 0; }

    void setTitle(const QString& title) { m_title = title.simplified(); }
    void setAuthor(const QString& author) { m_author = author.simplified(); }
    const QString& title() const { return m_title; }
    const QString& author() const { return m_author; }

    // A point to go back to when a part of the book turns out unreadable, taken
    // between parts (no paragraph open, no emphasis, not in the notes).
    struct Mark {
        qsizetype text = 0;
        qsizetype notes = 0;
        qsizetype size = 0;
        int inNotes = 0;
    };
    Mark mark();
    void rollback(const Mark& mark);

    // Characters of text collected so far (a reader stops at its limit).
    qsizetype size() const { return m_size; }
    bool hasText() const;

    // The book: title and author lines, the text (without a first paragraph that only
    // repeats the title or author), then the notes.
    RtfDocument finish();
    // Paragraphs of the text so far, and whether any is a heading of the contents.
    qsizetype paragraphCount() const { return m_text.document.paragraphs.size(); }
    bool hasHeadings() const { return !m_text.headings.isEmpty(); }
    // Makes the first paragraph with text at or after `paragraph` a heading at `level`
    // (a book's navigation naming a page: its first paragraph).
    void addHeading(qsizetype paragraph, int level);
    // The headings of the book finish() gave, in its paragraphs' numbers.
    const QList<HeadingPlace>& headings() const { return m_headings; }

private:
    struct Stream {
        RtfDocument document;
        bool open = false;
        Style style = Style::Body;
        bool pendingSpace = false;
        bool hasText = false; // the open paragraph has a visible character
        QList<HeadingPlace> headings;
    };
    Stream& stream() { return m_inNotes ? m_notes : m_text; }
    RtfCharFormat currentFormat(Style style) const;

    Stream m_text;
    Stream m_notes;
    int m_bold = 0;
    int m_italic = 0;
    int m_inNotes = 0;
    qsizetype m_size = 0;
    QString m_title;
    QString m_author;
    QList<HeadingPlace> m_headings;
};
