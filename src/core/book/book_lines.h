#pragma once

#include "core/book/book_document.h"
#include "core/book/mark_index.h"

#include <QFont>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The width of every character in a font, as the line breaker adds them up. Kerning is
// left out (the view draws without it), so a line's width is the sum of its characters.
class CharWidths {
public:
    CharWidths() { m_bytes.fill(0); }
    // The widths of the code page's 256 characters, and for a wide book of each
    // character it holds.
    CharWidths(const QFont& font, const BookDocument& text);
    // The widths in `font` of the characters `like` has measured (another look of the
    // same book's text).
    CharWidths(const QFont& font, const CharWidths& like);
    // Measures the characters of `text` not measured yet (for a wide book); false when
    // there were none.
    bool measureMissing(const QFont& font, QStringView text);
    // Measures in `font` the characters `like` has measured and these widths have not;
    // false when there were none.
    bool measureLike(const QFont& font, const CharWidths& like);
    // Whether every character `like` has measured is measured here too.
    bool covers(const CharWidths& like) const;

    const float* byteWidths() const { return m_bytes.data(); }
    float of(char16_t ch) const { return m_wide.empty() ? 0 : m_wide[ch]; }
    bool isWide() const { return !m_wide.empty(); }
    // Where tabs stop: every this many pixels from the line's start.
    qreal tabStop() const { return m_tabStop; }

private:
    std::array<float, 256> m_bytes;
    void measureWide(const QFont& font, const std::vector<bool>& present);
    std::vector<float> m_wide; // by UTF-16 unit, for a wide book
    std::vector<bool> m_measured;
    qreal m_tabStop = 80;
};

// The widths of the looks a book's marks give its characters: each emphasis (by the bits
// of Emphasis::Kind: italic, bold, both) and each heading rank (1…MarkIndex::kLowestRank).
struct MarkWidths {
    std::array<CharWidths, 4> styles;
    std::array<CharWidths, MarkIndex::kLowestRank + 1> headings;
};

// A book's marks for its lines: a heading's paragraph is wrapped in its rank's widths,
// never hyphenated; an emphasised run is measured in its look.
struct LineMarks {
    std::shared_ptr<const MarkIndex> index;
    std::shared_ptr<const MarkWidths> widths;
    bool isEmpty() const { return !index || !widths || index->isEmpty(); }
};

class Hyphenator;

// How lines are set beyond their width: the first line of a paragraph `indent` pixels
// narrower; words broken at the hyphenation points of `hyphenator`, when given (the line
// then ends in a hyphen `hyphenWidth` wide); a one-letter preposition or conjunction
// never left at a line's end.
struct LineRules {
    qreal indent = 0;
    const Hyphenator* hyphenator = nullptr;
    qreal hyphenWidth = 0;
    bool holdShortWords = false;
    // Justified lines: each paragraph (or piece) broken by total fit, the lines chosen
    // together (LineBreaking::optimal), not one by one.
    bool optimal = false;
    bool operator==(const LineRules&) const = default;
};

// The display lines of a book at one width: greedy word wrap at spaces (which hang past
// the line's end), after a hyphen or dash, and inside a word too long for a line.
//
// A paragraph longer than kPieceSpan characters is laid out in pieces, so that any place
// of it can be shown without wrapping all that comes before: piece k starts at the last
// line start at or before the paragraph's start + k * kPieceSpan. walk() (the line
// counter's pass, in order) finds these starts exactly; until it has reached a piece,
// its start is found by wrapping from kWarmUp characters before that point, which
// nearly always meets the wrapping of the whole paragraph a few lines on (where it does
// not, a piece's last line is short until the walk has passed).
class BookLines {
public:
    static constexpr qsizetype kPieceSpan = 2048;
    static constexpr qsizetype kWarmUp = 2048;
    // No line is longer (characters without width would make one endless).
    static constexpr qsizetype kMaxLineChars = 1024;

    struct Piece {
        int number = 0; // counted over the whole book
        int paragraph = 0;
        int index = 0; // within its paragraph
        qsizetype from = 0;
        qsizetype to = 0;
        bool lastOfParagraph = true;
    };

    // `previous`: the lines of the same book before an edit at this width and rules;
    // the exact starts of its first `keepPieces` pieces (all before the edit) are kept.
    // `marks`: the book's headings and emphasis (lines are then measured as drawn).
    BookLines(std::shared_ptr<const BookDocument> text, CharWidths widths, qreal width,
              LineRules rules = {}, const BookLines* previous = nullptr, int keepPieces = 0,
              LineMarks marks = {});

    const BookDocument& text() const { return *m_text; }
    const std::shared_ptr<const BookDocument>& sharedText() const { return m_text; }
    const CharWidths& widths() const { return m_widths; }
    qreal width() const { return m_width; }
    const LineRules& rules() const { return m_rules; }
    // The book's marks, or nullptr when it has none.
    const MarkIndex* marks() const { return m_marks.isEmpty() ? nullptr : m_marks.index.get(); }
    // The rank of the heading the paragraph belongs to, 0 for a paragraph of the text.
    int headingRank(int paragraph) const {
        return m_marks.isEmpty() ? 0 : m_marks.index->headingRank(paragraph);
    }

    int pieceCount() const { return m_pieceCount; }
    int piecesOf(int paragraph) const;
    Piece piece(int number) const;
    // The piece holding the offset (a line start belongs to the line it starts).
    Piece pieceAt(qsizetype offset) const;

    // Where each display line of the piece starts; the first is the piece's start.
    std::vector<qsizetype> lineStarts(const Piece& piece) const;
    int lineCount(const Piece& piece) const;
    // The line count, and in *brokenEnds which of the piece's lines end in a broken word
    // (as hyphenatedEnds() finds them): bit i for line i, or kEndsUnknown when the lines
    // are not set by total fit or are more than 31.
    static constexpr std::uint32_t kEndsUnknown = 1u << 31;
    int lineCount(const Piece& piece, std::uint32_t* brokenEnds) const;

    // Wraps the whole book in order (on the line counter's thread), making the pieces'
    // starts exact as it goes; after each piece, counted(piece, its line count) says
    // what it found, and false from it stops the walk. The pieces below exactPieces()
    // start where the walk found. `known`, when given, may answer the line count of a
    // paragraph held in one piece (by its piece's number; 0 when it does not know), as
    // another thread counted it ahead.
    //
    // `knownStart`, when given with `known`, may answer for a paragraph of several pieces
    // too: its pieces' starts (by number, the first piece's aside) and line counts, once
    // known(its last piece) is not 0, as another thread found them with pieceStartsOf().
    // `brokenEnds`, when given, is told the broken-word ends (as lineCount() gives them)
    // of each piece the walk sets itself.
    void walk(const std::function<bool(int, int)>& counted, int fromParagraph = 0,
              const std::function<int(int)>& known = {},
              const std::function<qsizetype(int)>& knownStart = {},
              const std::function<void(int, std::uint32_t)>& brokenEnds = {}) const;
    // The exact starts of the paragraph's pieces, as walk() finds them, and its end
    // after them (none should the wrapping not reach every piece); nothing is kept (any
    // thread may ask).
    std::vector<qsizetype> pieceStartsOf(int paragraph) const;
    // The number of the paragraph's first piece, and the paragraph of a piece.
    int firstPieceOf(int paragraph) const {
        return m_pieceBase.empty() ? paragraph : m_pieceBase[size_t(paragraph)];
    }
    int paragraphOfPiece(int number) const;
    int exactPieces() const { return m_exactPieces.load(std::memory_order_acquire); }
    // The start of the line after the one starting at `from`, wrapping the characters up
    // to `end`; `end` when they all fit.
    qsizetype nextLineStart(qsizetype from, qsizetype end) const;
    // The ends of the piece's lines (given by `starts`) that break a word at a hyphenation
    // point, so show a hyphen; the piece's own end among them when the next piece goes
    // on with the word.
    std::vector<qsizetype> hyphenatedEnds(const Piece& piece,
                                          const std::vector<qsizetype>& starts) const;

    // Where the blanks (spaces and tabs) starting at `from` end, before `end`: with an
    // indent, a paragraph's leading blanks are not shown.
    qsizetype leadingBlanksEnd(qsizetype from, qsizetype end) const;

private:
    // The piece's line starts by total fit; none for a piece with a tab (whose width
    // depends on where its line starts) or one that cannot be set without an overfull line.
    // With `brokenEnds`, also which lines end in a broken word (see lineCount()).
    std::optional<std::vector<qsizetype>> optimalStarts(const Piece& piece,
                                                        std::uint32_t* brokenEnds = nullptr) const;
    qsizetype pieceStart(int paragraph, int index) const;
    // Wraps the paragraph [start, end) of `pieces` pieces whole, in order: for each piece k
    // but the last, found(k, where piece k + 1 starts, the lines of piece k); false from
    // it stops. Returns the lines of the piece it ended in (*last), or -1 when stopped.
    template <class Found>
    int wrapParagraph(qsizetype start, qsizetype end, int pieces, Found found, int* last) const;
    // The text around the offset as shown, [*base, *base + size): enough for the word
    // holding it and a character on either side.
    QString wordContext(qsizetype offset, qsizetype* base) const;
    // How the characters of a stretch of one paragraph are measured: all in a heading's
    // widths, or each emphasised run in its look's and the rest plain. `of` is asked
    // about characters mostly in order (a cursor walks the runs).
    struct Looks {
        const CharWidths* heading = nullptr;
        const MarkWidths* widths = nullptr;
        std::vector<StyleRun> runs;
        mutable size_t at = 0;
        bool marked() const { return heading || !runs.empty(); }
        const CharWidths& of(qsizetype i, const CharWidths& plain) const {
            if (heading)
                return *heading;
            while (at < runs.size() && runs[at].to <= i)
                ++at;
            while (at > 0 && runs[at - 1].to > i)
                --at;
            return at < runs.size() && runs[at].from <= i ? widths->styles[size_t(runs[at].style)]
                                                          : plain;
        }
    };
    // The looks of the characters [lo, hi) of the paragraph; *hyphen becomes the widest
    // hyphen of their looks.
    Looks looksOf(qsizetype lo, qsizetype hi, int paragraph, qreal* hyphen) const;

    std::shared_ptr<const BookDocument> m_text;
    CharWidths m_widths;
    qreal m_width;
    LineRules m_rules;
    LineMarks m_marks;
    int m_pieceCount = 0;
    // The number of each paragraph's first piece, when some paragraph has several.
    std::vector<int> m_pieceBase;
    // The pieces' exact starts as walk() finds them, valid below m_exactPieces.
    mutable std::vector<std::uint32_t> m_exact;
    mutable std::atomic<int> m_exactPieces{0};
};
