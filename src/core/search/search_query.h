#pragma once

#include "core/search/book_words.h"

#include <QString>

#include <xapian.h>

#include <string>
#include <unordered_set>
#include <vector>

// A query as the user types it, with nothing to learn: words (matched in all their
// forms through their stems), "words in quotes" (a phrase), a trailing * (a prefix: every
// word that begins with it, so a whole word with a * finds all its forms too) and a
// leading minus (excluded; exclusions alone leave every book without them). Any text is a
// valid query: a quote left open runs to the end, and signs that stand alone are ignored. A part
// repeated adds nothing and is kept once; words beyond the first kMaxWords are left out (`cut`
// tells), so a long pasted passage costs no more than its beginning.
struct SearchQuery {
    struct Part {
        enum class Kind { Word, Phrase, Prefix };
        Kind kind = Kind::Word;
        // For a word, the stems of its forms (`Stemmer::formStems`), any of which it
        // matches. For a prefix, the folded prefix (UTF-8), which the index's stems that
        // begin with it match, then the stems shorter than it of the words beginning with
        // it (the index holds «мирные» as «мирн»). Empty for a phrase.
        std::vector<std::string> terms;
        // For a phrase, the stems of each word's forms, in order.
        std::vector<std::vector<std::string>> words;
        bool excluded = false;
    };
    std::vector<Part> parts;
    bool cut = false; // words were left out

    static constexpr int kMaxWords = 100;

    // A prefix stands for at most this many of the index's stems that begin with it, the
    // most frequent (besides its few shorter stems).
    static constexpr Xapian::termcount kMaxPrefixTerms = 200;

    // `isSurname` tells whether a surname stem is some book's surname (see
    // `Stemmer::formStems`).
    static SearchQuery parse(const QString& text, BookWords::Stemmer& stemmer,
                             const BookWords::Stemmer::SurnameCheck& isSurname = {});

    // Whether some part is wanted (else the query finds the books without the excluded).
    bool hasWanted() const;
    // The engine's query: every wanted part in one book (any book when none is), none of
    // the excluded ones.
    Xapian::Query engineQuery() const;
    // Whether a folded word of a book is one the query asks for (the bold words).
    bool wants(std::string_view folded, BookWords::Stemmer& stemmer) const;

private:
    std::unordered_set<std::string> m_wantedStems; // of the wanted words and phrases
};
