#pragma once

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

// One paragraph of the book, or one piece of a long paragraph, laid out for the view:
// its characters, its display lines (given by where each starts, as the book's line
// breaker found them) and one QTextLayout holding exactly those lines, one below the
// other, `lineHeight` apart. Offsets are the book's.
class ParagraphLayout {
public:
    // `endsParagraph`: the piece is its paragraph's last (a line break follows it);
    // `startsParagraph`: its first (the first line is indented); `hyphens`: the line ends
    // (book offsets) that show a hyphen.
    ParagraphLayout(QString text, qsizetype from, const std::vector<qsizetype>& lineStarts,
                    bool endsParagraph, const ParagraphStyle& style, bool startsParagraph = true,
                    const std::vector<qsizetype>& hyphens = {});

    qsizetype from() const { return m_from; }
    qsizetype to() const { return m_from + m_text.size(); }
    int lineCount() const { return m_layout.lineCount(); }
    qreal height() const { return lineCount() * m_lineHeight; }
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
    // The rectangle of the character at the offset, relative to the layout's top left.
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
    bool m_endsParagraph;
    bool m_blank = false;
    QTextLayout m_layout;
};
