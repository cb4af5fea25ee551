#include "ui/bookview/paragraph_layout.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Pixels a shrunk justified line is left under its room, for the layout's rounding.
constexpr qreal kShrinkSlack = 2;

} // namespace

ParagraphLayout::ParagraphLayout(QString text, qsizetype from,
                                 const std::vector<qsizetype>& lineStarts, bool endsParagraph,
                                 const ParagraphStyle& style, bool startsParagraph,
                                 const std::vector<qsizetype>& hyphens)
    : m_text(std::move(text)), m_from(from), m_lineHeight(style.lineHeight),
      m_endsParagraph(endsParagraph) {
    // Soft hyphens where the line breaker broke words: a line ending in one shows a hyphen.
    std::vector<qsizetype> places;
    places.reserve(hyphens.size());
    for (const qsizetype at : hyphens)
        places.push_back(at - from);
    m_display = DisplayText(m_text, std::move(places));
    // A piece that does not end its paragraph goes on: one character more, in no line,
    // keeps its last line from being the layout's last, so that line is justified and a
    // soft hyphen ending it shows (a letter: after a zero-width space Qt shows none).
    QString shown = m_display.text();
    if (!endsParagraph)
        shown += QLatin1Char('x');
    // A tab stands at the next tab stop from its line's start, as the line breaker
    // measured it: it is drawn as a space widened to there (the text layout's own tabs
    // would not keep to the lines the breaker gave). With an indent, the blanks a
    // paragraph starts with are drawn as nothing: the indent stands for them.
    QList<QTextLayout::FormatRange> formats;
    qsizetype hiddenTo = from;
    if (startsParagraph && style.indent > 0)
        while (hiddenTo - from < m_text.size() && (m_text[hiddenTo - from] == QLatin1Char(' ') ||
                                                   m_text[hiddenTo - from] == QLatin1Char('\t')))
            ++hiddenTo;
    m_blank = startsParagraph && endsParagraph && style.indent > 0 && hiddenTo == to();
    if (hiddenTo > from || m_text.contains(QLatin1Char('\t'))) {
        const QFontMetricsF metrics(style.font);
        const qreal space = metrics.horizontalAdvance(QLatin1Char(' '));
        const auto widen = [&](qsizetype at, qreal width) {
            QTextLayout::FormatRange range;
            range.start = display(at);
            range.length = 1;
            range.format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            range.format.setFontLetterSpacing(width - space);
            formats.append(range);
            shown[range.start] = QLatin1Char(' ');
        };
        for (size_t i = 0; i < lineStarts.size(); ++i) {
            const qsizetype end = i + 1 < lineStarts.size() ? lineStarts[i + 1] : to();
            qreal x = 0;
            for (qsizetype at = lineStarts[i]; at < end; ++at) {
                const QChar c = m_text[at - from];
                if (at < hiddenTo) {
                    widen(at, 0);
                } else if (c == QLatin1Char('\t')) {
                    const qreal width = style.tabStop - std::fmod(x, style.tabStop);
                    widen(at, width);
                    x += width;
                } else {
                    x += metrics.horizontalAdvance(c);
                }
            }
        }
    }
    // A justified line the breaker set tighter than its natural width (its spaces
    // shrunk, by a third at most): the text layout only widens spaces, so the line's
    // spaces are narrowed here, leaving the layout a little to widen.
    if (style.justify) {
        const QFontMetricsF metrics(style.font);
        const qreal hyphen = metrics.horizontalAdvance(QLatin1Char('-'));
        for (size_t i = 0; i + 1 < lineStarts.size() || (i < lineStarts.size() && !endsParagraph);
             ++i) {
            const qsizetype start = lineStarts[i];
            const qsizetype end = i + 1 < lineStarts.size() ? lineStarts[i + 1] : to();
            qsizetype trimmed = end;
            while (trimmed > start && m_text[trimmed - 1 - from] == QLatin1Char(' '))
                --trimmed;
            qreal natural = std::binary_search(hyphens.begin(), hyphens.end(), end) ? hyphen : 0;
            std::vector<qsizetype> gaps;
            bool tab = false;
            const qsizetype shownStart = std::max(start, hiddenTo);
            for (qsizetype at = shownStart; at < trimmed; ++at) {
                const QChar c = m_text[at - from];
                tab = tab || c == QLatin1Char('\t');
                if (c == QLatin1Char(' '))
                    gaps.push_back(at);
            }
            if (trimmed > shownStart)
                natural += metrics.horizontalAdvance(
                    QStringView(m_text).mid(shownStart - from, trimmed - shownStart).toString());
            const qreal room =
                style.width - (i == 0 && startsParagraph ? style.indent : 0) - kShrinkSlack;
            if (tab || gaps.empty() || natural <= room)
                continue;
            const qreal narrower = (room - natural) / qreal(gaps.size());
            for (const qsizetype at : gaps) {
                QTextLayout::FormatRange range;
                range.start = display(at);
                range.length = 1;
                range.format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
                range.format.setFontLetterSpacing(narrower);
                formats.append(range);
            }
        }
    }
    m_layout.setText(shown);
    m_layout.setFont(style.font);
    m_layout.setFormats(formats);
    QTextOption option;
    // Each line takes exactly the characters the book's line breaker gave it.
    option.setWrapMode(QTextOption::WrapAnywhere);
    if (style.justify)
        option.setAlignment(Qt::AlignJustify);
    m_layout.setTextOption(option);
    m_layout.setCacheEnabled(true);
    m_layout.beginLayout();
    for (size_t i = 0; i < lineStarts.size(); ++i) {
        QTextLine line = m_layout.createLine();
        if (!line.isValid())
            break;
        const qsizetype end = i + 1 < lineStarts.size() ? lineStarts[i + 1] : from + m_text.size();
        const qreal x = i == 0 && startsParagraph ? style.indent : 0;
        const int columns = display(end) - display(lineStarts[i]);
        if (style.justify)
            line.setNumColumns(columns, std::max<qreal>(1, style.width - x));
        else
            line.setNumColumns(columns);
        line.setPosition(QPointF(x, qreal(i) * m_lineHeight + style.leading));
    }
    m_layout.endLayout();
}

int ParagraphLayout::lineOf(qsizetype offset) const {
    const int inText = display(offset);
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
    return book(lineAt(line).textStart());
}

qsizetype ParagraphLayout::lineEnd(int line) const {
    const QTextLine l = lineAt(line);
    return book(l.textStart() + l.textLength());
}

qreal ParagraphLayout::xOf(qsizetype offset) const {
    const int line = lineOf(offset);
    return lineAt(line).cursorToX(display(offset));
}

qsizetype ParagraphLayout::offsetAt(int line, qreal x, bool* atEnd) const {
    const QTextLine l = lineAt(line);
    int at = l.xToCursor(x, QTextLine::CursorBetweenCharacters);
    // A wrapped line's last position is the next line's start: the caret stays on this
    // line, before its trailing space (or, unless the caller keeps it at the line's end,
    // before the last letter of a broken word).
    const int end = l.textStart() + l.textLength();
    const bool wrapped = line + 1 < m_layout.lineCount() || !m_endsParagraph;
    if (atEnd)
        *atEnd = false;
    if (hyphenated(line) && at >= end - 1) {
        if (atEnd)
            *atEnd = true;
        at = atEnd ? end - 1 : end - 2;
    } else if (at >= end && wrapped && end > l.textStart()) {
        at = end - 1;
    }
    return book(at);
}

bool ParagraphLayout::hyphenated(int line) const {
    const QTextLine l = lineAt(line);
    const int end = l.textStart() + l.textLength();
    return end > l.textStart() + 1 && m_layout.text()[end - 1] == DisplayText::kSoftHyphen;
}

qreal ParagraphLayout::endX(int line) const {
    const QTextLine l = lineAt(line);
    return l.cursorToX(l.textStart() + l.textLength() - (hyphenated(line) ? 1 : 0));
}

QRectF ParagraphLayout::characterRect(qsizetype offset) const {
    const int line = lineOf(offset);
    const QTextLine l = lineAt(line);
    const int at = display(offset);
    const qreal x0 = l.cursorToX(at);
    const qreal x1 = offset - m_from < m_text.size() ? l.cursorToX(at + 1) : x0;
    return QRectF(std::min(x0, x1), qreal(line) * m_lineHeight, std::abs(x1 - x0), m_lineHeight);
}

void ParagraphLayout::draw(QPainter* painter, const QPointF& origin, int firstLine, int lastLine,
                           qsizetype selectionFrom, qsizetype selectionTo, const QColor& highlight,
                           const QColor& highlightedText) const {
    QList<QTextLayout::FormatRange> selections;
    const int from = display(std::max(selectionFrom, m_from));
    const int to = display(std::min(selectionTo, this->to()));
    if (selectionTo > m_from && to > from) {
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
    // QTextLayout also draws the line just above its clip, which would show in the top
    // margin above the first line: the painter clips it.
    painter->save();
    painter->setClipRect(clip, Qt::IntersectClip);
    m_layout.draw(painter, origin, selections, clip);
    painter->restore();
    if (breakSelected && lastLine == m_layout.lineCount() - 1) {
        const QTextLine l = lineAt(lastLine);
        painter->fillRect(QRectF(origin.x() + l.x() + l.naturalTextWidth(),
                                 origin.y() + qreal(lastLine) * m_lineHeight,
                                 QFontMetricsF(m_layout.font()).averageCharWidth(), m_lineHeight),
                          highlight);
    }
}
