#include "ui/bookview/paragraph_layout.h"

#include <QPainter>

#include <algorithm>

ParagraphLayout::ParagraphLayout(QString text, qsizetype from,
                                 const std::vector<qsizetype>& lineStarts, bool endsParagraph,
                                 const ParagraphStyle& style)
    : m_text(std::move(text)), m_from(from), m_lineHeight(style.lineHeight),
      m_endsParagraph(endsParagraph), m_layout(m_text, style.font) {
    QTextOption option;
    // Each line takes exactly the characters the book's line breaker gave it.
    option.setWrapMode(QTextOption::WrapAnywhere);
    m_layout.setTextOption(option);
    m_layout.setCacheEnabled(true);
    m_layout.beginLayout();
    for (size_t i = 0; i < lineStarts.size(); ++i) {
        QTextLine line = m_layout.createLine();
        if (!line.isValid())
            break;
        const qsizetype end = i + 1 < lineStarts.size() ? lineStarts[i + 1] : from + m_text.size();
        line.setNumColumns(int(end - lineStarts[i]));
        line.setPosition(QPointF(0, qreal(i) * m_lineHeight));
    }
    m_layout.endLayout();
}

int ParagraphLayout::lineOf(qsizetype offset) const {
    const int inText = int(std::clamp<qsizetype>(offset - m_from, 0, m_text.size()));
    int line = 0;
    for (int i = 1; i < m_layout.lineCount(); ++i)
        if (m_layout.lineAt(i).textStart() <= inText)
            line = i;
    return line;
}

QTextLine ParagraphLayout::lineAt(int line) const {
    return m_layout.lineAt(std::clamp(line, 0, m_layout.lineCount() - 1));
}

qsizetype ParagraphLayout::lineStart(int line) const {
    return m_from + lineAt(line).textStart();
}

qsizetype ParagraphLayout::lineEnd(int line) const {
    const QTextLine l = lineAt(line);
    return m_from + l.textStart() + l.textLength();
}

qreal ParagraphLayout::xOf(qsizetype offset) const {
    const int line = lineOf(offset);
    return lineAt(line).cursorToX(int(offset - m_from));
}

qsizetype ParagraphLayout::offsetAt(int line, qreal x) const {
    const QTextLine l = lineAt(line);
    int at = l.xToCursor(x, QTextLine::CursorBetweenCharacters);
    // A wrapped line's last position is the next line's start: the caret stays on this
    // line, before its trailing space.
    const int end = l.textStart() + l.textLength();
    const bool wrapped = line + 1 < m_layout.lineCount() || !m_endsParagraph;
    if (at >= end && wrapped && end > l.textStart())
        at = end - 1;
    return m_from + at;
}

QRectF ParagraphLayout::characterRect(qsizetype offset) const {
    const QTextLine l = lineAt(lineOf(offset));
    const int at = int(offset - m_from);
    const qreal x0 = l.cursorToX(at);
    const qreal x1 = at < m_text.size() ? l.cursorToX(at + 1) : x0;
    return QRectF(std::min(x0, x1), l.y(), std::abs(x1 - x0), m_lineHeight);
}

void ParagraphLayout::draw(QPainter* painter, const QPointF& origin, int firstLine, int lastLine,
                           qsizetype selectionFrom, qsizetype selectionTo, const QColor& highlight,
                           const QColor& highlightedText) const {
    QList<QTextLayout::FormatRange> selections;
    const qsizetype from = std::max(selectionFrom, m_from) - m_from;
    const qsizetype to = std::min(selectionTo, this->to()) - m_from;
    if (to > from) {
        QTextLayout::FormatRange range;
        range.start = int(from);
        range.length = int(to - from);
        range.format.setBackground(highlight);
        range.format.setForeground(highlightedText);
        selections.append(range);
    }
    // A selection running on past the paragraph's end marks the line break too.
    const bool breakSelected =
        m_endsParagraph && selectionFrom <= this->to() && selectionTo > this->to();
    const QRectF clip(origin.x() - 1, origin.y() + firstLine * m_lineHeight, 1e6,
                      (lastLine - firstLine + 1) * m_lineHeight);
    m_layout.draw(painter, origin, selections, clip);
    if (breakSelected && lastLine == m_layout.lineCount() - 1) {
        const QTextLine l = lineAt(lastLine);
        painter->fillRect(QRectF(origin.x() + l.naturalTextWidth(), origin.y() + l.y(),
                                 QFontMetricsF(m_layout.font()).averageCharWidth(), m_lineHeight),
                          highlight);
    }
}
