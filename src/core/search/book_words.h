#pragma once

#include <QByteArrayView>
#include <QString>

#include <xapian.h>

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The words of a book as the search index sees them. A book's text is code page 1251
// bytes; a word is a run of letters and digits. Each word is folded (lower case, ё as е)
// and reported with its byte in the text and its CR LF offset, the reader's position
// model, in which every line break (CR LF, a lone CR, a lone LF) counts two characters.
namespace BookWords {

struct Word {
    std::string_view folded; // code page 1251 bytes
    qint64 byte = 0;         // first byte in the text
    qint64 offset = 0;       // CR LF offset of the first character
    int length = 0;          // characters (a word holds no line break)
    bool capital = false;    // written with a capital first letter
};

// Words longer than this are not indexed (the engine limits a term's length).
constexpr int kMaxWordBytes = 64;

// Calls `visit(const Word&)` for each word of `text`, whose first byte stands at byte
// `byteBase` and CR LF offset `offsetBase` of the book, and which starts at a word or at
// the book's beginning. Returning false from `visit` stops the walk.
template <class Visit>
void split(QByteArrayView text, qint64 byteBase, qint64 offsetBase, Visit&& visit);

// Folds a query's text into the same code page 1251 bytes (characters without a code page
// form are word separators).
QByteArray encodeQuery(const QString& text);

// The Russian stem of a folded word, as UTF-8 (the index's terms). Repeated words are
// looked up in a cache, which makes stemming a book several times faster.
class Stemmer {
public:
    const std::string& stem(std::string_view folded);
    static std::string utf8(std::string_view folded);
    // The stems of the words beginning with a folded prefix that end inside it, shorter
    // than the prefix: «мирн» and «мирны» for «мирные», whose own stem is «мирн». Found by
    // stemming the prefix followed by each ending the stemmer can take off (and each tail
    // of one), so every word beginning with the prefix has its stem either here or
    // beginning with the prefix.
    std::vector<std::string> shorterStems(std::string_view prefix);

    // Whether a folded word ends in «ов» or «ев» and the stemmer cuts that off with its
    // ending: «базаров», which the stemmer takes for a plural of «базар», while it keeps
    // «базаров» in «Базарова», «Базаровым». Such a word used as a surname is indexed by
    // `surnameStem`.
    bool cutsSurnameSuffix(std::string_view folded);
    // The stem a surname's other forms have: that of its form in «а» («базаров»).
    std::string surnameStem(std::string_view folded);
    // The index's stems of every inflected form of a folded query word, its own stem
    // first, whichever way the stemmer cut each form: «андр» and «андре» for «Андрей»
    // («Андрея» is held as «андре»); for a word that may be a surname («базаров») its
    // surname stem too when `isSurname` tells that some book uses it as one (an empty
    // `isSurname` says yes), and then only that when the query wrote it with a capital
    // («Базаров»: not the forms of «базар»); a word no book uses as a surname gets it
    // only with a capital (no «столовая» for «столов»). Found by stemming the word with each of its
    // nominal endings replaced by another; a stem found so is kept when it begins the
    // word («иван» for «Иван», which the stemmer cuts to «ива» as if a verb's form, while
    // «Ивану» is held as «иван»), so no other word's stem is added.
    using SurnameCheck = std::function<bool(const std::string& surnameStem)>;
    std::vector<std::string> formStems(std::string_view folded, bool capital,
                                       const SurnameCheck& isSurname = {});

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    Xapian::Stem m_stem{"russian"};
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> m_cache;
};

// The index terms of one book's words: each word's stem, except that a word the stemmer
// would cut as a plural in «ов»/«ев» which the book writes with a capital more often than
// without, and at least three times (a surname, «Базаров»), gets its surname stem, the stem of its
// other forms; so «Базаров» is found with «Базарова», and «базар» does not find it.
class BookTerms {
public:
    BookTerms(Stemmer& stemmer, QByteArrayView text);
    const std::string& term(std::string_view folded);
    // The surname stems of the book's surnames in «ов»/«ев».
    std::vector<std::string> surnameStems() const;

private:
    Stemmer& m_stemmer;
    std::unordered_map<std::string, std::string> m_surnames; // folded word, its stem
};

// ---- implementation of split ----------------------------------------------------------

const unsigned char* foldTable();
const bool* wordTable();

template <class Visit>
void split(QByteArrayView text, qint64 byteBase, qint64 offsetBase, Visit&& visit) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const qsizetype n = text.size();
    const unsigned char* fold = foldTable();
    const bool* isWord = wordTable();
    char buffer[kMaxWordBytes];
    qint64 offset = offsetBase;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (!isWord[c]) {
            // A lone CR or a lone LF is one line break: two characters, like CR LF.
            if ((c == '\r' && (i + 1 >= n || p[i + 1] != '\n')) ||
                (c == '\n' && (i == 0 || p[i - 1] != '\r')))
                offset += 2;
            else
                offset += 1;
            ++i;
            continue;
        }
        const qsizetype start = i;
        int length = 0;
        while (i < n && isWord[p[i]]) {
            if (length < kMaxWordBytes)
                buffer[length] = char(fold[p[i]]);
            ++length;
            ++i;
        }
        if (length <= kMaxWordBytes) {
            const Word word{std::string_view(buffer, size_t(length)), byteBase + start, offset,
                            length, fold[p[start]] != p[start]};
            if (!visit(word))
                return;
        }
        offset += length;
    }
}

} // namespace BookWords
