#pragma once

#include "core/book/book_markup.h"

#include <QtGlobal>

#include <vector>

class BookDocument;

// A run of characters in one look: italic, bold or both (the bits of Emphasis::Kind).
struct StyleRun {
    qsizetype from = 0;
    qsizetype to = 0;
    int style = 0;
    bool operator==(const StyleRun&) const = default;
};

// A book's headings and emphasis as its display lines see them: which paragraphs are
// headings (every paragraph of a title of several lines, whose joined lines make its
// title) and the emphasised runs of any stretch of text. Made anew for each version of
// the text (paragraph numbers move with edits); read from any thread.
class MarkIndex {
public:
    // Ranks are kept within [1, kLowestRank].
    static constexpr int kLowestRank = 6;

    MarkIndex() = default;
    MarkIndex(const BookMarkup& markup, const BookDocument& text);

    bool hasHeadings() const { return !m_headings.empty(); }
    bool isEmpty() const { return m_headings.empty() && m_italic.empty() && m_bold.empty(); }
    // The rank of the heading the paragraph belongs to; 0 for a paragraph of the text.
    int headingRank(int paragraph) const;
    // Whether the paragraph opens its heading (the heading's first line has space above).
    bool opensHeading(int paragraph) const;
    // The emphasised runs within [from, to), clipped to it, in order, none overlapping.
    std::vector<StyleRun> runs(qsizetype from, qsizetype to) const;

private:
    struct HeadingParagraph {
        int paragraph;
        int rank;
        bool opens;
    };
    const HeadingParagraph* headingOf(int paragraph) const;

    std::vector<HeadingParagraph> m_headings; // by paragraph
    std::vector<Emphasis> m_italic;           // each sorted, merged, not overlapping
    std::vector<Emphasis> m_bold;
};
