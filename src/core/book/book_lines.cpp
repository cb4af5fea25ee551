#include "core/book/book_lines.h"

#include "core/base/cp1251.h"
#include "core/text/display_text.h"
#include "core/text/line_breaking.h"

#include <QFontMetricsF>
#include <QRawFont>

#include <algorithm>

namespace {

constexpr char16_t kNulSymbol = 0x2400;
// How far a space of a justified line may shrink, as a share of itself.
constexpr qreal kShrink = 1.0 / 3;

// The break rules of one character: a space hangs and may end a line; after a hyphen
// between letters, or a dash, a line may end too; a no-break space binds what it stands
// between (a dash to its word), though a justified line widens it as any space.
enum Kind : unsigned char { Plain, Space, Tab, Hyphen, Dash, NoBreakSpace };

Kind kindOf(char16_t ch) {
    switch (ch) {
    case u' ':
        return Space;
    case u'\t':
        return Tab;
    case u'-':
        return Hyphen;
    case 0x2013: // en dash
    case 0x2014: // em dash
        return Dash;
    case 0x00A0:
        return NoBreakSpace;
    default:
        return Plain;
    }
}

struct ByteKinds {
    std::array<Kind, 256> kind{};
    std::array<bool, 256> letter{};
    ByteKinds() {
        for (int b = 0; b < 256; ++b) {
            const char16_t ch = Cp1251::toUnicode(static_cast<unsigned char>(b));
            kind[size_t(b)] = kindOf(ch);
            letter[size_t(b)] = QChar(ch).isLetter();
        }
    }
};

const ByteKinds& byteKinds() {
    static const ByteKinds kinds;
    return kinds;
}

// The greedy breaker over raw characters; `widthOf`, `kindOfAt` and `letterAt` read
// them. `holdAt(i)`: the space at i may not end a line. `hyphenAt(i, w)`: where to break
// the word that overflows at i (w wide up to i) with a hyphen, or -1.
// The blanks before `shownFrom` are not shown: they take no width and end no line.
template <class WidthOf, class KindAt, class LetterAt, class HoldAt, class HyphenAt>
qsizetype breakLine(qsizetype from, qsizetype end, qreal limit, qreal tabStop, WidthOf widthOf,
                    KindAt kindAt, LetterAt letterAt, HoldAt holdAt, HyphenAt hyphenAt,
                    qsizetype shownFrom = 0) {
    qreal w = 0;
    qsizetype opportunity = -1; // a line may end before this offset
    const qsizetype cap = std::min(end, from + BookLines::kMaxLineChars);
    for (qsizetype i = from; i < cap; ++i) {
        const Kind kind = kindAt(i);
        if (i < shownFrom && (kind == Space || kind == Tab))
            continue;
        if (kind == Space || kind == Tab) {
            // Spaces hang past the edge: they never push a line over.
            w += kind == Tab ? tabStop - std::fmod(w, tabStop) : widthOf(i);
            if (kind == Tab || !holdAt(i))
                opportunity = i + 1;
            continue;
        }
        const qreal cw = widthOf(i);
        if (w + cw > limit && i > from) {
            const qsizetype hyphen = hyphenAt(i, w);
            if (hyphen > opportunity && hyphen > from)
                return hyphen;
            return opportunity > from ? opportunity : i;
        }
        w += cw;
        if ((kind == Dash || (kind == Hyphen && i > from && letterAt(i - 1))) && i + 1 < end &&
            kindAt(i + 1) == Plain)
            opportunity = i + 1;
    }
    if (cap == end)
        return end;
    return opportunity > from ? opportunity : cap;
}

} // namespace

namespace {

// Fills out[i] with the advance of chars[i] in the font: the font's own advances for all
// the characters at once; those it lacks (drawn in another font) one by one.
void measureChars(const QFont& font, const QString& chars, float* out) {
    const QRawFont raw = QRawFont::fromFont(font);
    const QFontMetricsF metrics(font);
    const QList<quint32> glyphs = raw.glyphIndexesForString(chars);
    const QList<QPointF> advances =
        glyphs.size() == chars.size() ? raw.advancesForGlyphIndexes(glyphs) : QList<QPointF>();
    for (qsizetype i = 0; i < chars.size(); ++i)
        out[i] = i < advances.size() && glyphs[i] != 0 ? float(advances[i].x())
                                                       : float(metrics.horizontalAdvance(chars[i]));
}

} // namespace

CharWidths::CharWidths(const QFont& font, const BookDocument& text) {
    QString bytes(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        bytes[b] = QChar(b == 0 ? kNulSymbol : Cp1251::toUnicode(static_cast<unsigned char>(b)));
    measureChars(font, bytes, m_bytes.data());
    m_tabStop = 80;
    if (!text.isWide())
        return;
    std::vector<bool> present(0x10000, false);
    std::u16string scratch;
    constexpr qsizetype kRun = 1 << 20;
    for (qsizetype a = 0; a < text.length(); a += kRun) {
        const qsizetype b = std::min(text.length(), a + kRun);
        const char16_t* d = text.chars(a, b, scratch);
        for (qsizetype i = 0; i < b - a; ++i)
            present[d[i]] = true;
    }
    m_wide.assign(0x10000, 0.0f);
    m_measured.assign(0x10000, false);
    measureWide(font, present);
}

void CharWidths::measureWide(const QFont& font, const std::vector<bool>& present) {
    const QFontMetricsF metrics(font);
    std::vector<bool> wanted = present;
    if (wanted[0]) // NUL shows as its symbol
        wanted[kNulSymbol] = true;
    QString chars;
    for (int ch = 1; ch < 0x10000; ++ch)
        if (wanted[size_t(ch)] && !m_measured[size_t(ch)] && !QChar::isSurrogate(char16_t(ch)))
            chars += QChar(char16_t(ch));
    std::vector<float> widths(size_t(chars.size()));
    measureChars(font, chars, widths.data());
    for (qsizetype i = 0; i < chars.size(); ++i) {
        m_wide[chars[i].unicode()] = widths[size_t(i)];
        m_measured[chars[i].unicode()] = true;
    }
    m_wide[0] = m_wide[kNulSymbol];
    // A character beyond the first plane: its high half carries an average width.
    for (int ch = 0xD800; ch < 0xDC00; ++ch)
        if (wanted[size_t(ch)] && !m_measured[size_t(ch)]) {
            m_wide[size_t(ch)] = float(metrics.averageCharWidth());
            m_measured[size_t(ch)] = true;
        }
    m_measured[0] = true;
}

CharWidths::CharWidths(const QFont& font, const CharWidths& like) {
    QString bytes(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        bytes[b] = QChar(b == 0 ? kNulSymbol : Cp1251::toUnicode(static_cast<unsigned char>(b)));
    measureChars(font, bytes, m_bytes.data());
    m_tabStop = like.m_tabStop;
    if (like.isWide())
        measureLike(font, like);
}

bool CharWidths::measureLike(const QFont& font, const CharWidths& like) {
    if (!like.isWide())
        return false;
    if (m_wide.empty()) {
        m_wide.assign(0x10000, 0.0f);
        m_measured.assign(0x10000, false);
    }
    std::vector<bool> present(0x10000, false);
    bool missing = false;
    for (size_t ch = 0; ch < present.size(); ++ch)
        if (like.m_measured[ch] && !m_measured[ch]) {
            present[ch] = true;
            missing = true;
        }
    if (missing)
        measureWide(font, present);
    return missing;
}

bool CharWidths::covers(const CharWidths& like) const {
    if (!like.isWide())
        return true;
    if (m_measured.empty())
        return false;
    for (size_t ch = 0; ch < m_measured.size(); ++ch)
        if (like.m_measured[ch] && !m_measured[ch])
            return false;
    return true;
}

bool CharWidths::measureMissing(const QFont& font, QStringView text) {
    if (m_wide.empty()) {
        m_wide.assign(0x10000, 0.0f);
        m_measured.assign(0x10000, false);
    }
    std::vector<bool> present(0x10000, false);
    bool missing = false;
    for (const QChar ch : text)
        if (!m_measured[ch.unicode()]) {
            present[ch.unicode()] = true;
            missing = true;
        }
    if (missing)
        measureWide(font, present);
    return missing;
}

BookLines::BookLines(std::shared_ptr<const BookDocument> text, CharWidths widths, qreal width,
                     LineRules rules, const BookLines* previous, int keepPieces, LineMarks marks)
    : m_text(std::move(text)), m_widths(std::move(widths)), m_width(std::max<qreal>(1, width)),
      m_rules(rules), m_marks(std::move(marks)) {
    const int paragraphs = m_text->paragraphCount();
    if (m_text->longestParagraph() <= kPieceSpan) {
        m_pieceCount = paragraphs;
        return;
    }
    m_pieceBase.resize(size_t(paragraphs));
    int next = 0;
    m_text->forEachParagraph([&](int p, qsizetype start, qsizetype end) {
        m_pieceBase[size_t(p)] = next;
        next += end - start <= kPieceSpan ? 1 : int((end - start + kPieceSpan - 1) / kPieceSpan);
    });
    m_pieceCount = next;
    m_exact.assign(size_t(next), 0);
    if (previous && !previous->m_exact.empty()) {
        const int keep = std::min({keepPieces, previous->exactPieces(), next});
        std::copy(previous->m_exact.begin(), previous->m_exact.begin() + keep, m_exact.begin());
        m_exactPieces.store(keep, std::memory_order_release);
    }
}

int BookLines::paragraphOfPiece(int number) const {
    if (m_pieceBase.empty())
        return std::clamp(number, 0, m_pieceCount - 1);
    return int(std::upper_bound(m_pieceBase.begin(), m_pieceBase.end(), number) -
               m_pieceBase.begin()) -
           1;
}

int BookLines::piecesOf(int paragraph) const {
    const qsizetype length = m_text->paragraphEnd(paragraph) - m_text->paragraphStart(paragraph);
    return length <= kPieceSpan ? 1 : int((length + kPieceSpan - 1) / kPieceSpan);
}

QString BookLines::wordContext(qsizetype offset, qsizetype* base) const {
    // The run of letters holding the offset (no longer than a word hyphenation takes, and
    // one letter more), with the character on either side.
    const auto letter = [this](qsizetype i) { return Hyphenator::isLetter(QChar(m_text->at(i))); };
    const qsizetype reach = Hyphenator::kMaxWord + 1;
    qsizetype from = offset;
    while (from > 0 && offset - from < reach && letter(from - 1))
        --from;
    qsizetype to = offset;
    while (to < m_text->length() && to - offset < reach && letter(to))
        ++to;
    from = std::max<qsizetype>(0, from - 1);
    to = std::min(m_text->length(), to + 1);
    *base = from;
    QString context(to - from, Qt::Uninitialized);
    for (qsizetype i = from; i < to; ++i)
        context[i - from] = QChar(m_text->at(i));
    return context;
}

namespace {

template <class Code> float widthIn(const CharWidths& widths, Code c) {
    if constexpr (sizeof(Code) == 1)
        return widths.byteWidths()[c];
    else
        return widths.of(c);
}

} // namespace

BookLines::Looks BookLines::looksOf(qsizetype lo, qsizetype hi, int paragraph,
                                    qreal* hyphen) const {
    Looks looks;
    if (m_marks.isEmpty() || lo >= hi)
        return looks;
    looks.widths = m_marks.widths.get();
    if (const int rank = headingRank(paragraph)) {
        looks.heading = &looks.widths->headings[size_t(rank)];
        *hyphen = looks.heading->byteWidths()['-'];
        return looks;
    }
    looks.runs = m_marks.index->runs(lo, hi);
    // A hyphen after an emphasised letter is drawn in its look.
    for (const StyleRun& run : looks.runs)
        *hyphen =
            std::max(*hyphen, qreal(looks.widths->styles[size_t(run.style)].byteWidths()['-']));
    return looks;
}

qsizetype BookLines::nextLineStart(qsizetype from, qsizetype end) const {
    // The first line of a paragraph is indented; the blanks it starts with are then not
    // shown (the indent stands for them). A heading's lines are centred, never indented
    // or hyphenated, its leading blanks not shown either.
    qreal limit = m_width;
    qsizetype shownFrom = 0;
    const int paragraph = m_rules.indent > 0 || !m_marks.isEmpty() ? m_text->paragraphAt(from) : -1;
    const bool heading = paragraph >= 0 && headingRank(paragraph) > 0;
    if ((m_rules.indent > 0 || heading) && from == m_text->paragraphStart(paragraph)) {
        if (!heading)
            limit = std::max<qreal>(1, m_width - m_rules.indent);
        shownFrom = leadingBlanksEnd(from, end);
    }
    const Hyphenator* hyphenator = heading ? nullptr : m_rules.hyphenator;
    const bool holdShortWords = !heading && m_rules.holdShortWords;
    qreal hyphenWidth = m_rules.hyphenWidth;
    const qreal tab = m_widths.tabStop();
    // The characters the breaker reads, in one run: two before `from` (a short word
    // held at a line's end), the line at its longest and one more.
    const qsizetype lo = std::max<qsizetype>(0, from - 2);
    const qsizetype hi = std::min(m_text->length(), std::min(end, from + kMaxLineChars) + 1);
    const auto hyphenAt = [this, from, limit, hyphenator, &hyphenWidth](qsizetype i, qreal w,
                                                                        auto widthOf) -> qsizetype {
        if (!hyphenator || !Hyphenator::isLetter(QChar(m_text->at(i))))
            return -1;
        qsizetype base = 0;
        const QString context = wordContext(i, &base);
        const std::vector<qsizetype> places =
            DisplayText::hyphenPlaces(context, i - base, *hyphenator);
        // The last place before i where the line, its hyphen included, still fits.
        qsizetype at = i;
        for (auto place = places.rbegin(); place != places.rend(); ++place) {
            const qsizetype p = base + *place;
            if (p > i)
                continue;
            if (p <= from)
                break;
            for (; at > p; --at)
                w -= widthOf(at - 1);
            if (w + hyphenWidth <= limit)
                return p;
        }
        return -1;
    };
    if (!m_text->isWide()) {
        std::string scratch;
        const unsigned char* d = m_text->bytes(lo, hi, scratch) - lo;
        const float* w = m_widths.byteWidths();
        const ByteKinds& kinds = byteKinds();
        const Looks looks = looksOf(lo, hi, paragraph, &hyphenWidth);
        const bool marked = looks.marked();
        const auto widthOf = [&](qsizetype i) {
            return marked ? qreal(looks.of(i, m_widths).byteWidths()[d[i]]) : qreal(w[d[i]]);
        };
        const auto holdAt = [&](qsizetype i) {
            if (!holdShortWords || i < 1)
                return false;
            return DisplayText::isShortWord(QChar(Cp1251::toUnicode(d[i - 1]))) &&
                   (i < 2 || !QChar(Cp1251::toUnicode(d[i - 2])).isLetterOrNumber());
        };
        return breakLine(
            from, end, limit, tab, widthOf, [&](qsizetype i) { return kinds.kind[d[i]]; },
            [&](qsizetype i) { return kinds.letter[d[i]]; }, holdAt,
            [&](qsizetype i, qreal width) { return hyphenAt(i, width, widthOf); }, shownFrom);
    }
    std::u16string scratch;
    const char16_t* d = m_text->chars(lo, hi, scratch) - lo;
    const Looks looks = looksOf(lo, hi, paragraph, &hyphenWidth);
    const auto widthOf = [&](qsizetype i) { return qreal(looks.of(i, m_widths).of(d[i])); };
    const auto holdAt = [&](qsizetype i) {
        if (!holdShortWords || i < 1)
            return false;
        return DisplayText::isShortWord(QChar(d[i - 1])) &&
               (i < 2 || !QChar(d[i - 2]).isLetterOrNumber());
    };
    qsizetype next = breakLine(
        from, end, limit, tab, widthOf, [&](qsizetype i) { return kindOf(d[i]); },
        [&](qsizetype i) { return QChar(d[i]).isLetter(); }, holdAt,
        [&](qsizetype i, qreal width) { return hyphenAt(i, width, widthOf); }, shownFrom);
    // Never between the two halves of a surrogate pair.
    if (next < end && QChar::isLowSurrogate(d[next]))
        next = next - 1 > from ? next - 1 : next + 1;
    return next;
}

qsizetype BookLines::leadingBlanksEnd(qsizetype from, qsizetype end) const {
    qsizetype at = from;
    while (at < end && at - from < kMaxLineChars &&
           (m_text->at(at) == u' ' || m_text->at(at) == u'\t'))
        ++at;
    return at;
}

std::vector<qsizetype> BookLines::hyphenatedEnds(const Piece& piece,
                                                 const std::vector<qsizetype>& starts) const {
    std::vector<qsizetype> ends;
    if (!m_rules.hyphenator || headingRank(piece.paragraph) > 0)
        return ends;
    const auto inWord = [this](qsizetype at) {
        return at > 0 && at < m_text->length() && Hyphenator::isLetter(QChar(m_text->at(at - 1))) &&
               Hyphenator::isLetter(QChar(m_text->at(at)));
    };
    const auto check = [&](qsizetype at) {
        if (!inWord(at))
            return;
        qsizetype base = 0;
        const QString context = wordContext(at, &base);
        const std::vector<qsizetype> places =
            DisplayText::hyphenPlaces(context, at - base, *m_rules.hyphenator);
        if (std::find(places.begin(), places.end(), at - base) != places.end())
            ends.push_back(at);
    };
    for (size_t i = 1; i < starts.size(); ++i)
        check(starts[i]);
    if (!piece.lastOfParagraph)
        check(piece.to);
    return ends;
}

qsizetype BookLines::pieceStart(int paragraph, int index) const {
    const qsizetype start = m_text->paragraphStart(paragraph);
    if (index == 0)
        return start;
    const int number = firstPieceOf(paragraph) + index;
    if (number < exactPieces())
        return m_exact[size_t(number)];
    const qsizetype end = m_text->paragraphEnd(paragraph);
    const qsizetype anchor = start + index * kPieceSpan;
    qsizetype line = std::max(start, anchor - kWarmUp);
    for (;;) {
        const qsizetype next = nextLineStart(line, end);
        if (next > anchor || next >= end)
            return line;
        line = next;
    }
}

BookLines::Piece BookLines::piece(int number) const {
    number = std::clamp(number, 0, m_pieceCount - 1);
    Piece piece;
    piece.number = number;
    if (m_pieceBase.empty()) {
        piece.paragraph = number;
    } else {
        piece.paragraph = int(std::upper_bound(m_pieceBase.begin(), m_pieceBase.end(), number) -
                              m_pieceBase.begin()) -
                          1;
        piece.index = number - m_pieceBase[size_t(piece.paragraph)];
    }
    const int count = m_pieceBase.empty() ? 1 : piecesOf(piece.paragraph);
    piece.from = pieceStart(piece.paragraph, piece.index);
    piece.lastOfParagraph = piece.index + 1 >= count;
    piece.to = piece.lastOfParagraph ? m_text->paragraphEnd(piece.paragraph)
                                     : pieceStart(piece.paragraph, piece.index + 1);
    return piece;
}

BookLines::Piece BookLines::pieceAt(qsizetype offset) const {
    const int paragraph = m_text->paragraphAt(offset);
    const int count = piecesOf(paragraph);
    if (count == 1)
        return piece(firstPieceOf(paragraph));
    const qsizetype start = m_text->paragraphStart(paragraph);
    int index = int(std::clamp<qsizetype>((offset - start) / kPieceSpan, 0, count - 1));
    while (index + 1 < count && pieceStart(paragraph, index + 1) <= offset)
        ++index;
    while (index > 0 && pieceStart(paragraph, index) > offset)
        --index;
    return piece(firstPieceOf(paragraph) + index);
}

namespace {

// What the total-fit breaker asks of a character, for every UTF-16 unit at once.
enum Trait : unsigned char {
    KindBits = 7, // the Kind
    Letter = 8,
    LetterOrNumber = 16,
    WordCharacter = 32, // a letter, number or mark: a word goes on through it
    RussianLetter = 64, // one the hyphenator breaks words of
    ShortWord = 128,    // a one-letter word held to the next
};

struct Traits {
    std::vector<unsigned char> of = std::vector<unsigned char>(0x10000);
    std::array<char16_t, 256> byteChar{}; // a byte as the document gives it (at())
    Traits() {
        for (int u = 0; u < 0x10000; ++u) {
            const QChar c(static_cast<char16_t>(u));
            unsigned char t = kindOf(char16_t(u));
            if (c.isLetter())
                t |= Letter;
            if (c.isLetterOrNumber())
                t |= LetterOrNumber | WordCharacter;
            if (c.isMark())
                t |= WordCharacter;
            if (Hyphenator::isLetter(c))
                t |= RussianLetter;
            if (DisplayText::isShortWord(c))
                t |= ShortWord;
            of[size_t(u)] = t;
        }
        for (int b = 0; b < 256; ++b)
            byteChar[size_t(b)] =
                b == 0 ? kNulSymbol : Cp1251::toUnicode(static_cast<unsigned char>(b));
    }
};

const Traits& traits() {
    static const Traits t;
    return t;
}

} // namespace

std::optional<std::vector<qsizetype>> BookLines::optimalStarts(const Piece& piece,
                                                               std::uint32_t* brokenEnds) const {
    if (headingRank(piece.paragraph) > 0)
        return std::nullopt; // a heading is centred, wrapped greedily
    const qsizetype from = piece.from, to = piece.to;
    const qsizetype paragraphStart = m_text->paragraphStart(piece.paragraph);
    const qsizetype paragraphEnd = m_text->paragraphEnd(piece.paragraph);
    const bool first = from == paragraphStart;
    // The words around the piece are seen whole for their hyphenation points: the context
    // reaches a longest word past either end, within the paragraph.
    const bool hyphenate = m_rules.hyphenator && m_rules.hyphenator->available();
    const qsizetype contextFrom = std::max(paragraphStart, from - Hyphenator::kMaxWord - 1);
    const qsizetype contextTo = std::min(paragraphEnd, to + Hyphenator::kMaxWord + 1);
    // Every character read, once, as the document gives it: the context, two before the
    // piece (a held short word) and one after it (a word going on).
    const qsizetype lo = std::max<qsizetype>(0, std::min(contextFrom, from - 2));
    const qsizetype hi = std::min(m_text->length(), std::max(contextTo, to + 1));
    thread_local std::string byteScratch;
    thread_local std::u16string charScratch;
    thread_local std::u16string shownScratch;
    const bool wide = m_text->isWide();
    const Traits& tr = traits();
    const unsigned char* windowBytes = wide ? nullptr : m_text->bytes(lo, hi, byteScratch);
    const char16_t* windowChars = wide ? m_text->chars(lo, hi, charScratch) : nullptr;
    shownScratch.resize(size_t(hi - lo));
    for (qsizetype k = 0; k < hi - lo; ++k) {
        const char16_t ch = wide ? windowChars[k] : tr.byteChar[windowBytes[k]];
        shownScratch[size_t(k)] = ch == 0 ? kNulSymbol : ch;
    }
    const char16_t* c = shownScratch.data() - lo; // c[i]: the character at offset i
    const auto trait = [&](qsizetype i) { return tr.of[c[i]]; };
    const auto kind = [&](qsizetype i) { return Kind(trait(i) & KindBits); };
    qsizetype shownFrom = from;
    if (first && m_rules.indent > 0)
        while (shownFrom < to && shownFrom - from < kMaxLineChars &&
               (c[shownFrom] == u' ' || c[shownFrom] == u'\t'))
            ++shownFrom;
    thread_local LineBreaking::Paragraph scratch;
    LineBreaking::Paragraph& p = scratch;
    p.widths.resize(size_t(to - from));
    p.spaces.resize(size_t(to - from));
    p.breaks.clear();
    // Emphasised runs measured in their looks, their hyphens too.
    qreal hyphenWidth = m_rules.hyphenWidth;
    const Looks looks = looksOf(from, to, piece.paragraph, &hyphenWidth);
    const unsigned char* pieceBytes = wide ? nullptr : windowBytes + (from - lo);
    const char16_t* pieceChars = wide ? windowChars + (from - lo) : nullptr;
    const float* plainBytes = m_widths.byteWidths();
    const bool marked = looks.marked();
    for (qsizetype i = from; i < to; ++i) {
        const char16_t ch = c[i];
        if (ch == u'\t')
            return std::nullopt;
        const size_t k = size_t(i - from);
        if (i < shownFrom) {
            p.widths[k] = 0;
        } else if (!marked && !wide) {
            p.widths[k] = qreal(plainBytes[pieceBytes[k]]);
        } else {
            const CharWidths& widths = marked ? looks.of(i, m_widths) : m_widths;
            p.widths[k] =
                wide ? qreal(widths.of(pieceChars[k])) : qreal(widths.byteWidths()[pieceBytes[k]]);
        }
        p.spaces[k] = (ch == u' ' || ch == 0x00A0) && i >= shownFrom;
    }
    p.width = m_width;
    p.firstWidth =
        first && m_rules.indent > 0 ? std::max<qreal>(1, m_width - m_rules.indent) : m_width;
    p.hyphenWidth = hyphenWidth;
    p.endsParagraph = piece.lastOfParagraph;
    p.spaceWidth = wide ? qreal(m_widths.of(u' ')) : qreal(m_widths.byteWidths()[' ']);
    // A piece that starts inside a word goes on from a hyphenated line: its first line
    // then ends without a hyphen, so no run grows past two across pieces.
    LineBreaking::Params params;
    params.shrink = kShrink;
    const auto inWord = [&](qsizetype at) {
        return at > 0 && at < m_text->length() && (trait(at - 1) & RussianLetter) &&
               (trait(at) & RussianLetter);
    };
    p.hyphenRunBefore = !first && inWord(from) ? params.maxHyphenRun : 0;
    p.endsInHyphen = !piece.lastOfParagraph && inWord(to);
    // The words of Russian letters standing alone (a run not joined to other letters,
    // numbers or marks) that may be broken inside the piece, and where.
    struct Word {
        qsizetype from, to;
    };
    thread_local std::vector<Word> words;
    thread_local std::vector<QStringView> wordViews;
    thread_local std::vector<std::uint64_t> wordBreaks;
    words.clear();
    wordViews.clear();
    if (hyphenate) {
        for (qsizetype at = contextFrom; at < contextTo;) {
            if (!(trait(at) & RussianLetter)) {
                ++at;
                continue;
            }
            const qsizetype start = at;
            while (at < contextTo && (trait(at) & RussianLetter))
                ++at;
            if (at - start >= 4 && at - start <= Hyphenator::kMaxWord && at - 1 > from &&
                start + 1 < to && (start == contextFrom || !(trait(start - 1) & WordCharacter)) &&
                (at == contextTo || !(trait(at) & WordCharacter))) {
                words.push_back({start, at});
                wordViews.emplace_back(c + start, at - start);
            }
        }
        wordBreaks.resize(words.size());
        m_rules.hyphenator->breaks(wordViews.data(), wordViews.size(), wordBreaks.data());
    }
    size_t w = 0;
    const auto hyphenAt = [&](qsizetype i) {
        while (w < words.size() && words[w].to <= i)
            ++w;
        return w < words.size() && words[w].from < i && (wordBreaks[w] >> (i - words[w].from) & 1);
    };
    for (qsizetype i = from + 1; i < to; ++i) {
        const char16_t before = c[i - 1];
        if (before == u' ') {
            const bool held = m_rules.holdShortWords && i >= 2 && (trait(i - 2) & ShortWord) &&
                              (i < 3 || !(trait(i - 3) & LetterOrNumber));
            if (i - 1 >= shownFrom && c[i] != u' ' && !held)
                p.breaks.push_back({i - from, false});
        } else if (kind(i - 1) == Dash && kind(i) == Plain) {
            p.breaks.push_back({i - from, false});
        } else if (kind(i - 1) == Hyphen && i - 2 >= from && (trait(i - 2) & Letter) &&
                   kind(i) == Plain) {
            p.breaks.push_back({i - from, true, true}); // the text's own hyphen ends the line
        } else if (hyphenate && (trait(i) & RussianLetter) && hyphenAt(i)) {
            p.breaks.push_back({i - from, true});
        }
    }
    std::optional<std::vector<qsizetype>> starts = LineBreaking::optimal(p, params);
    if (starts && brokenEnds) {
        // A line ends inside a word only where the word may be broken (the breaks at
        // spaces, dashes and the text's own hyphens stand outside words); the piece's own
        // end, inside a word the next piece goes on with, where the word may be broken.
        std::uint32_t ends = 0;
        const size_t lines = starts->size();
        if (lines > 31) {
            ends = kEndsUnknown;
        } else if (m_rules.hyphenator) {
            size_t b = 0;
            for (size_t i = 1; i < lines; ++i) {
                const qsizetype at = (*starts)[i];
                while (b < p.breaks.size() && p.breaks[b].at < at)
                    ++b;
                if (b < p.breaks.size() && p.breaks[b].at == at && p.breaks[b].hyphen &&
                    !p.breaks[b].inText)
                    ends |= 1u << (i - 1);
            }
            if (!piece.lastOfParagraph && inWord(to))
                for (size_t k = words.size(); k-- > 0;)
                    if (words[k].from < to) {
                        if (to < words[k].to && (wordBreaks[k] >> (to - words[k].from) & 1))
                            ends |= 1u << (lines - 1);
                        break;
                    }
        }
        *brokenEnds = ends;
    }
    if (starts)
        for (qsizetype& at : *starts)
            at += from;
    return starts;
}

std::vector<qsizetype> BookLines::lineStarts(const Piece& piece) const {
    if (m_rules.optimal)
        if (std::optional<std::vector<qsizetype>> starts = optimalStarts(piece))
            return *starts;
    std::vector<qsizetype> starts{piece.from};
    for (qsizetype at = nextLineStart(piece.from, piece.to); at < piece.to;
         at = nextLineStart(at, piece.to))
        starts.push_back(at);
    return starts;
}

int BookLines::lineCount(const Piece& piece, std::uint32_t* brokenEnds) const {
    *brokenEnds = kEndsUnknown;
    if (m_rules.optimal)
        if (std::optional<std::vector<qsizetype>> starts = optimalStarts(piece, brokenEnds))
            return int(starts->size());
    *brokenEnds = kEndsUnknown;
    return lineCount(piece);
}

int BookLines::lineCount(const Piece& piece) const {
    if (m_rules.optimal)
        if (std::optional<std::vector<qsizetype>> starts = optimalStarts(piece))
            return int(starts->size());
    int count = 1;
    for (qsizetype at = nextLineStart(piece.from, piece.to); at < piece.to;
         at = nextLineStart(at, piece.to))
        ++count;
    return count;
}

template <class Found>
int BookLines::wrapParagraph(qsizetype start, qsizetype end, int pieces, Found found,
                             int* last) const {
    // Piece k + 1 starts at the last line start at or before its anchor.
    int k = 0;
    int lines = 0;
    for (qsizetype at = start;;) {
        const qsizetype next = nextLineStart(at, end);
        const qsizetype anchor = start + (k + 1) * kPieceSpan;
        if (k + 1 < pieces && at <= anchor && (next > anchor || next >= end)) {
            if (!found(k, at, lines))
                return -1;
            ++k;
            lines = 0;
        }
        ++lines;
        if (next >= end)
            break;
        at = next;
    }
    *last = k;
    return lines;
}

std::vector<qsizetype> BookLines::pieceStartsOf(int paragraph) const {
    const qsizetype start = m_text->paragraphStart(paragraph);
    const qsizetype end = m_text->paragraphEnd(paragraph);
    std::vector<qsizetype> starts{start};
    const int pieces = m_pieceBase.empty() ? 1 : piecesOf(paragraph);
    int last = 0;
    if (pieces > 1)
        wrapParagraph(
            start, end, pieces,
            [&](int, qsizetype next, int) {
                starts.push_back(next);
                return true;
            },
            &last);
    if (last != pieces - 1)
        return {};
    starts.push_back(end);
    return starts;
}

void BookLines::walk(const std::function<bool(int, int)>& counted, int fromParagraph,
                     const std::function<int(int)>& known,
                     const std::function<qsizetype(int)>& knownStart,
                     const std::function<void(int, std::uint32_t)>& brokenEnds) const {
    // A piece's lines counted here, its broken-word ends told when asked for.
    const auto count = [&](int number) {
        const Piece counted = piece(number);
        if (!brokenEnds)
            return lineCount(counted);
        std::uint32_t ends = kEndsUnknown;
        const int lines = lineCount(counted, &ends);
        brokenEnds(number, ends);
        return lines;
    };
    const int paragraphs = m_text->paragraphCount();
    for (int p = std::max(0, fromParagraph); p < paragraphs; ++p) {
        const int first = firstPieceOf(p);
        const int pieces = m_pieceBase.empty() ? 1 : piecesOf(p);
        if (pieces == 1) {
            if (!m_exact.empty())
                m_exactPieces.store(first + 1, std::memory_order_release);
            const int ahead = known ? known(first) : 0;
            if (!counted(first, ahead > 0 ? ahead : count(first)))
                return;
            continue;
        }
        if (known && knownStart && known(first + pieces - 1) > 0) {
            // Found by another thread: its starts made exact here, its counts taken.
            for (int k = 0; k < pieces; ++k) {
                if (k + 1 < pieces)
                    m_exact[size_t(first + k + 1)] = std::uint32_t(knownStart(first + k + 1));
                m_exactPieces.store(std::min(first + k + 2, first + pieces),
                                    std::memory_order_release);
                if (!counted(first + k, known(first + k)))
                    return;
            }
            continue;
        }
        // The whole paragraph wrapped in order, each piece's start made exact as found.
        int lastPiece = 0;
        const int lines = wrapParagraph(
            m_text->paragraphStart(p), m_text->paragraphEnd(p), pieces,
            [&](int k, qsizetype next, int lines) {
                m_exact[size_t(first + k + 1)] = std::uint32_t(next);
                m_exactPieces.store(first + k + 2, std::memory_order_release);
                return counted(first + k, m_rules.optimal ? count(first + k) : lines);
            },
            &lastPiece);
        if (lines < 0)
            return;
        m_exactPieces.store(first + pieces, std::memory_order_release);
        if (!counted(first + lastPiece, m_rules.optimal ? count(first + lastPiece) : lines))
            return;
    }
}
