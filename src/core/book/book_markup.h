#pragma once

#include "core/book/headings.h"
#include "core/book/text_change.h"

#include <vector>

// What a book's plain text loses of its original: its headings (the contents) and its
// emphasis, as places in the stored text.
struct Emphasis {
    enum Kind { Italic = 1, Bold = 2 };
    qsizetype from = 0;
    qsizetype to = 0;
    int kind = Italic;
    bool operator==(const Emphasis&) const = default;
};

struct BookMarkup {
    std::vector<Heading> headings;  // in book order
    std::vector<Emphasis> emphasis; // in book order, not overlapping per kind

    bool isEmpty() const { return headings.empty() && emphasis.empty(); }
    bool operator==(const BookMarkup&) const = default;

    // Follows an edit: places move with the text; a heading whose first character was
    // taken away goes, and so does emphasis left with no character.
    void apply(const TextChange& change);
    // Whether the edit takes away what following it back cannot tell again: a heading's
    // first character, or characters of an emphasised span.
    bool losesBy(const TextChange& change) const;
};
