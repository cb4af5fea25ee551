#include "core/book/headings.h"

#include "core/book/book_text.h"

#include <QChar>
#include <QStringList>

#include <algorithm>
#include <array>

namespace HeadingDetector {

namespace {

// A heading is at most about this long.
constexpr qsizetype kMaxLength = 84;
// Lines that may stand right under a heading as its name.
constexpr int kMaxNameLines = 2;
// Marks a word of structure that takes the rank of the book's top level (a prologue, an
// epilogue: «Эпилог» of a book in volumes stands beside the volumes).
constexpr int kTopRank = 100;

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == 0xA0 || c == 0x2007 || c == 0x202F || c == 0xFEFF;
}

bool isDash(char16_t c) {
    return c == u'-' || c == 0x2013 || c == 0x2014 || c == 0x2012 || c == 0x2015;
}

bool isSentenceEnd(char16_t c) {
    return c == u'.' || c == u'!' || c == u'?' || c == 0x2026;
}

struct StructureWord {
    const char16_t* word;
    int rank;
    bool takesNumber; // «Глава» needs what follows it to be a number; «Эпилог» stands alone
};

constexpr std::array<StructureWord, 14> kStructureWords{{
    {u"том", Heading::Volume, true},
    {u"часть", Heading::Part, true},
    {u"книга", Heading::Book, true},
    {u"действие", Heading::Part, true},
    {u"глава", Heading::Chapter, true},
    {u"явление", Heading::Chapter, true},
    {u"сцена", Heading::Chapter, true},
    {u"пролог", kTopRank, false},
    {u"эпилог", kTopRank, false},
    {u"предисловие", kTopRank, false},
    {u"послесловие", kTopRank, false},
    {u"вступление", kTopRank, false},
    {u"заключение", kTopRank, false},
    {u"примечания", kTopRank, false},
}};

bool isRomanLetter(char16_t c) {
    switch (c) {
    case u'I':
    case u'V':
    case u'X':
    case u'L':
    case u'C':
    case u'D':
    case u'M':
    case u'i':
    case u'v':
    case u'x':
    case u'l':
    case u'c':
        return true;
    default:
        return false;
    }
}

// A Roman numeral in one letter case, or one to four Arabic digits.
bool isNumber(QStringView word) {
    if (word.isEmpty())
        return false;
    if (std::all_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); }))
        return word.size() <= 4;
    if (!std::all_of(word.begin(), word.end(), [](QChar c) { return isRomanLetter(c.unicode()); }))
        return false;
    const bool upper = word[0].isUpper();
    return std::all_of(word.begin(), word.end(), [upper](QChar c) { return c.isUpper() == upper; });
}

// An ordinal in words: «первая», «ВТОРОЙ», «третье», «двадцать», «сороковая»…
bool isOrdinal(QStringView word) {
    static const std::array<const char16_t*, 12> endings{u"ая", u"ый", u"ой", u"ое", u"ий",  u"ья",
                                                         u"ье", u"ей", u"ть", u"ок", u"сто", u"то"};
    if (word.size() < 3)
        return false;
    const QString lower = word.toString().toLower();
    if (!std::all_of(lower.begin(), lower.end(),
                     [](QChar c) { return c.unicode() >= 0x430 && c.unicode() <= 0x451; }))
        return false;
    return std::any_of(endings.begin(), endings.end(),
                       [&](const char16_t* e) { return lower.endsWith(QStringView(e)); });
}

// The leading run of letters.
QStringView firstWord(QStringView s) {
    qsizetype n = 0;
    while (n < s.size() && s[n].isLetter())
        ++n;
    return s.left(n);
}

QStringView trimmedStart(QStringView s) {
    qsizetype i = 0;
    while (i < s.size() && (isBlank(s[i].unicode()) || s[i].isSpace()))
        ++i;
    return s.mid(i);
}

// Whether a sentence ends inside the text: a full stop, «!», «?» or «…» followed by
// more words.
bool sentenceEndsInside(QStringView s) {
    for (qsizetype i = 0; i + 1 < s.size(); ++i) {
        if (!isSentenceEnd(s[i].unicode()))
            continue;
        qsizetype j = i + 1;
        while (j < s.size() && isSentenceEnd(s[j].unicode()))
            ++j;
        if (j < s.size() && (s[j].isSpace() || isBlank(s[j].unicode()))) {
            const QStringView rest = trimmedStart(s.mid(j));
            if (!rest.isEmpty() && rest[0].isLetterOrNumber())
                return true;
        }
    }
    return false;
}

bool hasLetterOrDigit(QStringView s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.isLetterOrNumber(); });
}

// Every letter in capitals, at least two of them.
bool inCapitals(QStringView s) {
    int letters = 0;
    for (QChar c : s) {
        if (!c.isLetter())
            continue;
        if (!c.isUpper())
            return false;
        ++letters;
    }
    return letters >= 2;
}

bool endsBadly(QStringView s) {
    const char16_t last = s.back().unicode();
    return last == u',' || last == u';' || last == u':' || isDash(last);
}

// A word of structure and what follows it; 0 when the text is none.
int structureRank(QStringView s) {
    const QStringView word = firstWord(s);
    if (word.size() < 3 || !word[0].isUpper())
        return 0;
    const QString lower = word.toString().toLower();
    const auto found = std::find_if(kStructureWords.begin(), kStructureWords.end(),
                                    [&](const StructureWord& w) { return lower == w.word; });
    if (found == kStructureWords.end())
        return 0;
    // The word in one case: «Глава», «ГЛАВА», not «ГЛава».
    const QStringView tail = word.mid(1);
    if (!std::all_of(tail.begin(), tail.end(), [](QChar c) { return c.isLower(); }) &&
        !std::all_of(tail.begin(), tail.end(), [](QChar c) { return c.isUpper(); }))
        return 0;
    QStringView rest = s.mid(word.size());
    if (!rest.isEmpty() &&
        !(rest[0].isSpace() || isBlank(rest[0].unicode()) || rest[0] == u'.' || rest[0] == u':'))
        return 0;
    rest = trimmedStart(rest);
    if (!found->takesNumber) {
        // «Эпилог», «Эпилог. Часть первая», «Пролог в театре».
        if (rest.startsWith(u'.') || rest.startsWith(u':'))
            rest = trimmedStart(rest.mid(1));
        return sentenceEndsInside(rest) ? 0 : found->rank;
    }
    if (rest.isEmpty() || rest == u".")
        return found->rank;
    // The number: «I», «12», «первая», «двадцать первая».
    qsizetype n = 0;
    while (n < rest.size() && rest[n].isLetterOrNumber())
        ++n;
    QStringView number = rest.left(n);
    if (!isNumber(number) && !isOrdinal(number))
        return 0;
    rest = rest.mid(n);
    if (isOrdinal(number)) {
        // A second word of a compound ordinal («двадцать первая»).
        const QStringView next = trimmedStart(rest);
        const QStringView second = firstWord(next);
        if (!second.isEmpty() && isOrdinal(second) && second[0].isLower() == number[0].isLower())
            rest = next.mid(second.size());
    }
    // What follows the number: nothing, or a name after a full stop or a colon.
    rest = trimmedStart(rest);
    if (rest.startsWith(u'.') || rest.startsWith(u':'))
        rest = trimmedStart(rest.mid(1));
    return sentenceEndsInside(rest) ? 0 : found->rank;
}

// A Roman or Arabic numeral alone, with or without a dot; or followed by a name in
// capitals («I. ФЕДОР ПАВЛОВИЧ КАРАМАЗОВ»).
bool isNumeralHeading(QStringView s) {
    qsizetype n = 0;
    while (n < s.size() && s[n].isLetterOrNumber())
        ++n;
    if (!isNumber(s.left(n)))
        return false;
    QStringView rest = s.mid(n);
    if (rest.startsWith(u'.'))
        rest = rest.mid(1);
    if (rest.isEmpty())
        return true;
    if (!(rest[0].isSpace() || isBlank(rest[0].unicode())))
        return false;
    rest = trimmedStart(rest);
    return inCapitals(rest) && !sentenceEndsInside(rest);
}

// Whether a line right under a heading is its name: short, no sentence inside, no line
// of dialogue.
bool isNameLine(QStringView s) {
    return !s.isEmpty() && s.size() <= kMaxLength && !isDash(s[0].unicode()) &&
           hasLetterOrDigit(s) && !sentenceEndsInside(s) && !endsBadly(s);
}

// An Arabic numeral alone: in a book whose chapters are numbered otherwise, the number
// of a note («1», «2»… after the text).
bool isArabicAlone(QStringView s) {
    if (s.endsWith(u'.'))
        s.chop(1);
    return !s.isEmpty() && s.size() <= 4 &&
           std::all_of(s.begin(), s.end(), [](QChar c) { return c.isDigit(); });
}

// A character of the text as shown.
struct Reader {
    const BookText& text;
    char16_t operator()(qsizetype i) const { return text.at(i); }
};

QString simplified(QString s) {
    return s.simplified();
}

} // namespace

int rankOf(QStringView s) {
    if (s.isEmpty() || s.size() > kMaxLength)
        return 0;
    if (isDash(s[0].unicode()) || !hasLetterOrDigit(s) || endsBadly(s))
        return 0;
    if (const int rank = structureRank(s))
        return rank;
    if (isNumeralHeading(s))
        return Heading::Numbered;
    if (sentenceEndsInside(s))
        return 0;
    if (inCapitals(s)) {
        // A shout in capitals is no heading.
        const char16_t last = s.back().unicode();
        if (last == u'!' || last == u'?' || last == 0x2026)
            return 0;
        return Heading::Chapter;
    }
    return 0;
}

std::vector<Heading> detect(const BookText& text, const std::atomic<bool>* stop) {
    std::vector<Heading> found;
    const int count = text.paragraphCount();
    const Reader at{text};
    // The paragraph's visible characters [from, to); from == to for a blank one.
    const auto visible = [&](int p, qsizetype& from, qsizetype& to) {
        from = text.paragraphStart(p);
        to = text.paragraphEnd(p);
        while (from < to && isBlank(at(from)))
            ++from;
        while (to > from && isBlank(at(to - 1)))
            --to;
    };
    bool afterBlank = true; // the book's start counts as one
    bool hasStructure = false;
    bool chaptersNumberedOtherwise = false;
    std::vector<bool> arabic;
    int topRank = Heading::Chapter;
    for (int p = 0; p < count; ++p) {
        if (stop && (p & 4095) == 0 && stop->load(std::memory_order_relaxed))
            return {};
        qsizetype from = 0;
        qsizetype to = 0;
        visible(p, from, to);
        if (from == to) {
            afterBlank = true;
            continue;
        }
        const bool candidate = afterBlank && to - from <= kMaxLength;
        afterBlank = false;
        if (!candidate)
            continue;
        const QString line = text.text(from, to);
        const int rank = rankOf(line);
        if (rank == 0)
            continue;
        Heading heading;
        heading.offset = from;
        heading.rank = rank;
        heading.title = simplified(line);
        const int structure = structureRank(line);
        if (rank != kTopRank && structure) {
            hasStructure = true;
            topRank = std::min(topRank, rank);
        }
        arabic.push_back(isArabicAlone(line));
        if (structure == Heading::Chapter || (rank == Heading::Numbered && !arabic.back()))
            chaptersNumberedOtherwise = true;
        // Lines right under it that name it: in capitals, or closed by an empty line.
        QStringList names;
        int q = p + 1;
        for (; q < count && names.size() < kMaxNameLines; ++q) {
            qsizetype a = 0;
            qsizetype b = 0;
            visible(q, a, b);
            if (a == b || b - a > kMaxLength)
                break;
            const QString next = text.text(a, b);
            if (!isNameLine(next) || rankOf(next) == Heading::Numbered || structureRank(next))
                break;
            names.append(simplified(next));
        }
        if (!names.isEmpty()) {
            qsizetype a = 0;
            qsizetype b = 0;
            const bool closed = q >= count || (visible(q, a, b), a == b);
            const bool capitals = std::all_of(names.begin(), names.end(),
                                              [](const QString& n) { return inCapitals(n); });
            if (!closed && !capitals)
                names.clear();
            // A name in capitals under a heading in capitals: only the first line is sure.
            if (!closed && capitals)
                names = names.mid(0, 1);
        }
        for (const QString& name : std::as_const(names)) {
            const QChar last = heading.title.back();
            if (!isSentenceEnd(last.unicode()) && last != u':')
                heading.title += u'.';
            heading.title += u' ' + name;
        }
        p += int(names.size());
        found.push_back(std::move(heading));
    }
    if (chaptersNumberedOtherwise) {
        size_t kept = 0;
        for (size_t i = 0; i < found.size(); ++i)
            if (!arabic[i])
                found[kept++] = std::move(found[i]);
        found.resize(kept);
    }
    // A prologue or an epilogue stands beside the book's top level.
    const int top = hasStructure ? topRank : Heading::Chapter;
    for (Heading& h : found)
        if (h.rank == kTopRank)
            h.rank = top;
    return found;
}

} // namespace HeadingDetector
