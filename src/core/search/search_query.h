#pragma once

#include "core/search/book_words.h"

#include <QString>

#include <xapian.h>

#include <string>
#include <unordered_set>
#include <vector>

// A query as the user types it, with nothing to learn: words (matched in all their
// forms through their stems), "words in quotes" (a phrase), a trailing * (a prefix) and
// a leading minus (excluded). Any text is a valid query: a quote left open runs to the
// end, and signs that stand alone are ignored. A part repeated adds nothing and is kept
// once; words beyond the first kMaxWords are left out (`cut` tells), so a long pasted
// passage costs no more than its beginning.
struct SearchQuery {
    struct Part {
        enum class Kind { Word, Phrase, Prefix };
        Kind kind = Kind::Word;
        std::vector<std::string> terms; // stems; for a prefix, the folded prefix (UTF-8)
        bool excluded = false;
    };
    std::vector<Part> parts;
    bool cut = false; // words were left out

    static constexpr int kMaxWords = 100;

    // A prefix stands for at most this many of the index's words, the most frequent.
    static constexpr Xapian::termcount kMaxPrefixTerms = 200;

    static SearchQuery parse(const QString& text, BookWords::Stemmer& stemmer);

    // Whether some part is wanted (a query of exclusions alone finds nothing).
    bool hasWanted() const;
    // The engine's query: every wanted part in one book, none of the excluded ones.
    Xapian::Query engineQuery() const;
    // Whether a folded word of a book is one the query asks for (the bold words).
    bool wants(std::string_view folded, BookWords::Stemmer& stemmer) const;

private:
    std::unordered_set<std::string> m_wantedStems; // of the wanted words and phrases
};
