#pragma once

#include "core/book/book_lines.h"
#include "core/book/mark_index.h"
#include "core/text/display_text.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QTextLayout>

#include <algorithm>
#include <memory>
#include <vector>

class QPainter;

// How the view lays out a paragraph: the font, the width of a line, the height of one;
// the first line's indent, justified lines, the space above the text in each line.
struct ParagraphStyle {
    QFont font;
    qreal width = 0;
    qreal lineHeight = 0;
    qreal indent = 0;
    bool justify = false;
    qreal leading = 0;
    // Where tabs stop: every this many pixels from a line's start (as the line breaker's
    // CharWidths::tabStop()).
    qreal tabStop = 80;
};

// A heading's look, by its rank (1 the highest): larger than the text (1.5, 1.4, then
// 1.3 times), bold down to chapters.
QFont headingFont(const QFont& text, int rank);
// An emphasised run's font: italic, bold or both (the bits of Emphasis::Kind).
QFont emphasisFont(const QFont& text, int style);
// The height of a heading's display line (its font's height, spaced as the text's lines
// are), and the space above a heading's first line (a line of the text). The one rule
// for the view, its pages and their count.
qreal headingLineHeight(const ParagraphStyle& style, int rank);
qreal headingSpaceAbove(const ParagraphStyle& style, int rank);

// The widths, for the book's line breaking, of every look its marks give a text in
// `font` (each emphasis, each heading rank), for the characters `plain` has measured;
// markWidthsLike: the same for characters measured since (a wide book edited), or
// nullptr when `widths` has them all.
std::shared_ptr<const MarkWidths> markWidths(const QFont& font, const CharWidths& plain);
std::shared_ptr<const MarkWidths> markWidthsLike(const MarkWidths& widths, const QFont& font,
                                                 const CharWidths& plain);

// What a book's marks make of one paragraph (or piece): a heading of a rank (0 for a
// paragraph of the text), with the space above it when it opens the heading; the
// emphasised runs of a paragraph of the text (book offsets).
struct ParagraphMarks {
    int headingRank = 0;
    bool spaceAbove = false;
    std::vector<StyleRun> emphasis;
};

// One paragraph of the book, or one piece of a long paragraph, laid out for the view:
// its characters, its display lines (given by where each starts, as the book's line
// breaker found them) and one QTextLayout holding exactly those lines, one below the
// other, `lineHeight` apart (a heading's lines its own height apart, centred, below the
// space above it). Offsets are the book's.
class ParagraphLayout {
public:
    // `endsParagraph`: the piece is its paragraph's last (a line break follows it);
    // `startsParagraph`: its first (the first line is indented); `hyphens`: the line ends
    // (book offsets) that show a hyphen.
    ParagraphLayout(QString text, qsizetype from, const std::vector<qsizetype>& lineStarts,
                    bool endsParagraph, const ParagraphStyle& style, bool startsParagraph = true,
                    const std::vector<qsizetype>& hyphens = {}, const ParagraphMarks& marks = {});

    qsizetype from() const { return m_from; }
    qsizetype to() const { return m_from + m_text.size(); }
    int lineCount() const { return m_layout.lineCount(); }
    qreal height() const { return m_above + lineCount() * m_lineHeight; }
    // Where the display line's box starts, from the layout's top; its height.
    qreal lineTop(int line) const { return m_above + line * m_lineHeight; }
    qreal lineHeight() const { return m_lineHeight; }
    // The room the line takes: the first line's includes the space above a heading.
    qreal slotTop(int line) const { return line <= 0 ? 0 : lineTop(line); }
    qreal slotHeight(int line) const { return m_lineHeight + (line <= 0 ? m_above : 0); }
    // The rank of the heading it shows, 0 for a paragraph of the text.
    int headingRank() const { return m_headingRank; }
    // The layout itself (its lines and formats), for checks.
    const QTextLayout& textLayout() const { return m_layout; }
    const QString& text() const { return m_text; }
    bool endsParagraph() const { return m_endsParagraph; }
    // A whole paragraph of blanks (or none) under an indent: nothing of it is drawn.
    bool blank() const { return m_blank; }

    // The display line holding the offset (a line start belongs to the line it starts).
    int lineOf(qsizetype offset) const;
    qsizetype lineStart(int line) const;
    // The end of the line's characters (the next line's start, or the piece's end).
    qsizetype lineEnd(int line) const;
    // Where the caret at the offset stands, from the layout's left edge.
    qreal xOf(qsizetype offset) const;
    // The offset nearest to x on the line. Past the last letter of a line that ends in a
    // broken word, that offset is the next line's start: with `atEnd` given, it is
    // returned and *atEnd set (the caret then stands at this line's end); without, the
    // offset before the last letter, which stays on this line.
    qsizetype offsetAt(int line, qreal x, bool* atEnd = nullptr) const;
    // Whether the line ends in a broken word (a hyphen shows at its end).
    bool hyphenated(int line) const;
    // Where the caret after the line's last letter stands, before the hyphen.
    qreal endX(int line) const;
    // The rectangle of the character at the offset, relative to the layout's top left
    // (over its line's room).
    QRectF characterRect(qsizetype offset) const;

    // Draws the lines [firstLine, lastLine] with the top of the layout at `origin`; the
    // characters [selectionFrom, selectionTo) (book offsets) in the selection's colours.
    void draw(QPainter* painter, const QPointF& origin, int firstLine, int lastLine,
              qsizetype selectionFrom, qsizetype selectionTo, const QColor& highlight,
              const QColor& highlightedText) const;

private:
    // A book offset in the layout's string (with its soft hyphens), and back.
    int display(qsizetype offset) const {
        return int(m_display.toDisplay(std::clamp<qsizetype>(offset - m_from, 0, m_text.size())));
    }
    qsizetype book(int position) const { return m_from + m_display.toText(position); }
    // The line, or the nearest one there is.
    QTextLine lineAt(int line) const;

    QString m_text;
    DisplayText m_display;
    qsizetype m_from;
    qreal m_lineHeight;
    qreal m_above = 0;
    int m_headingRank = 0;
    bool m_endsParagraph;
    bool m_blank = false;
    QTextLayout m_layout;
};
