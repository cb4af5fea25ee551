#include "ui/bookview/paragraph_layout.h"

#include "core/text/line_breaking.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace {

// Pixels a shrunk justified line is left under its room, for the layout's rounding.
constexpr qreal kShrinkSlack = 2;

// A font `scale` times as large.
QFont scaled(QFont font, qreal scale) {
    if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * scale))));
    else
        font.setPointSizeF(font.pointSizeF() * scale);
    return font;
}

} // namespace

QFont headingFont(const QFont& text, int rank) {
    const qreal scale = rank <= 1 ? 1.5 : rank == 2 ? 1.4 : 1.3;
    QFont font = scaled(text, scale);
    if (rank <= Heading::Chapter)
        font.setWeight(QFont::Bold);
    return font;
}

QFont emphasisFont(const QFont& text, int style) {
    QFont font = text;
    if (style & Emphasis::Italic)
        font.setItalic(true);
    if (style & Emphasis::Bold)
        font.setWeight(QFont::Bold);
    return font;
}

qreal headingLineHeight(const ParagraphStyle& style, int rank) {
    const qreal text = QFontMetricsF(style.font).height();
    const qreal spacing = text > 0 ? style.lineHeight / text : 1;
    return std::ceil(QFontMetricsF(headingFont(style.font, rank)).height() * spacing);
}

qreal headingSpaceAbove(const ParagraphStyle& style, int) {
    return style.lineHeight;
}

std::shared_ptr<const MarkWidths> markWidths(const QFont& font, const CharWidths& plain) {
    auto widths = std::make_shared<MarkWidths>();
    for (int look = 1; look < 4; ++look)
        widths->styles[size_t(look)] = CharWidths(emphasisFont(font, look), plain);
    for (int rank = 1; rank <= MarkIndex::kLowestRank; ++rank)
        widths->headings[size_t(rank)] = CharWidths(headingFont(font, rank), plain);
    return widths;
}

std::shared_ptr<const MarkWidths> markWidthsLike(const MarkWidths& widths, const QFont& font,
                                                 const CharWidths& plain) {
    if (!plain.isWide() || (std::all_of(widths.styles.begin() + 1, widths.styles.end(),
                                        [&](const CharWidths& w) { return w.covers(plain); }) &&
                            std::all_of(widths.headings.begin() + 1, widths.headings.end(),
                                        [&](const CharWidths& w) { return w.covers(plain); })))
        return nullptr;
    auto more = std::make_shared<MarkWidths>(widths);
    bool missing = false;
    for (int look = 1; look < 4; ++look)
        missing |= more->styles[size_t(look)].measureLike(emphasisFont(font, look), plain);
    for (int rank = 1; rank <= MarkIndex::kLowestRank; ++rank)
        missing |= more->headings[size_t(rank)].measureLike(headingFont(font, rank), plain);
    return missing ? more : nullptr;
}

ParagraphLayout::ParagraphLayout(QString text, qsizetype from,
                                 const std::vector<qsizetype>& lineStarts, bool endsParagraph,
                                 const ParagraphStyle& givenStyle, bool startsParagraph,
                                 const std::vector<qsizetype>& hyphens, const ParagraphMarks& marks)
    : m_text(std::move(text)), m_from(from), m_lineHeight(givenStyle.lineHeight),
      m_headingRank(marks.headingRank), m_endsParagraph(endsParagraph) {
    // A heading: its own font and line height, centred, neither indented nor justified,
    // the blanks it starts with not shown; the space above it before its first line.
    ParagraphStyle style = givenStyle;
    const bool heading = marks.headingRank > 0;
    if (heading) {
        style.font = headingFont(givenStyle.font, marks.headingRank);
        style.lineHeight = m_lineHeight = headingLineHeight(givenStyle, marks.headingRank);
        style.leading = (style.lineHeight - QFontMetricsF(style.font).height()) / 2;
        style.indent = 0;
        style.justify = false;
        if (marks.spaceAbove && startsParagraph)
            m_above = headingSpaceAbove(givenStyle, marks.headingRank);
    }
    const std::vector<StyleRun> noRuns;
    const std::vector<StyleRun>& runs = heading ? noRuns : marks.emphasis;
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
    if (startsParagraph && (style.indent > 0 || heading))
        while (hiddenTo - from < m_text.size() && (m_text[hiddenTo - from] == QLatin1Char(' ') ||
                                                   m_text[hiddenTo - from] == QLatin1Char('\t')))
            ++hiddenTo;
    m_blank = startsParagraph && endsParagraph && style.indent > 0 && hiddenTo == to();
    // Each emphasised run is drawn, and measured here, in its look.
    std::array<std::optional<QFontMetricsF>, 4> looks;
    const auto metricsAt = [&](qsizetype at) -> const QFontMetricsF& {
        int look = 0;
        for (const StyleRun& run : runs)
            if (at >= run.from && at < run.to)
                look = run.style & 3;
        if (!looks[size_t(look)])
            looks[size_t(look)].emplace(look ? emphasisFont(style.font, look) : style.font);
        return *looks[size_t(look)];
    };
    // The width of the characters [a, b) as drawn.
    const auto advance = [&](qsizetype a, qsizetype b) {
        // Each stretch of one look at once.
        qreal width = 0;
        for (qsizetype at = a; at < b;) {
            qsizetype next = b;
            for (const StyleRun& run : runs)
                if (run.from > at)
                    next = std::min(next, run.from);
                else if (run.to > at)
                    next = std::min(next, run.to);
            width += metricsAt(at).horizontalAdvance(
                QStringView(m_text).mid(at - from, next - at).toString());
            at = next;
        }
        return width;
    };
    if (hiddenTo > from || m_text.contains(QLatin1Char('\t'))) {
        const auto widen = [&](qsizetype at, qreal width) {
            QTextLayout::FormatRange range;
            range.start = display(at);
            range.length = 1;
            range.format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            range.format.setFontLetterSpacing(width - metricsAt(at).horizontalAdvance(u' '));
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
                    x += metricsAt(at).horizontalAdvance(c);
                }
            }
        }
    }
    // A justified line the breaker set tighter than its natural width (its spaces
    // shrunk, by a third at most): the text layout only widens spaces, so the line's
    // spaces are narrowed here, leaving the layout a little to widen.
    if (style.justify) {
        const qreal spaceWidth = QFontMetricsF(style.font).horizontalAdvance(QLatin1Char(' '));
        for (size_t i = 0; i + 1 < lineStarts.size() || (i < lineStarts.size() && !endsParagraph);
             ++i) {
            const qsizetype start = lineStarts[i];
            const qsizetype end = i + 1 < lineStarts.size() ? lineStarts[i + 1] : to();
            qsizetype trimmed = end;
            while (trimmed > start && m_text[trimmed - 1 - from] == QLatin1Char(' '))
                --trimmed;
            qreal natural = std::binary_search(hyphens.begin(), hyphens.end(), end)
                                ? metricsAt(end - 1).horizontalAdvance(QLatin1Char('-'))
                                : 0;
            std::vector<qsizetype> gaps;
            bool tab = false;
            const qsizetype shownStart = std::max(start, hiddenTo);
            for (qsizetype at = shownStart; at < trimmed; ++at) {
                const QChar c = m_text[at - from];
                tab = tab || c == QLatin1Char('\t');
                // A no-break space is a space the layout widens like the others.
                if (c == QLatin1Char(' ') || c == QChar::Nbsp)
                    gaps.push_back(at);
            }
            if (trimmed > shownStart)
                natural += advance(shownStart, trimmed);
            const qreal room =
                style.width - (i == 0 && startsParagraph ? style.indent : 0) - kShrinkSlack;
            if (tab)
                continue;
            if (natural < room) {
                // A line short of its room: its characters take their share of the
                // stretch as letter spacing, as the breaker weighed it; the layout widens
                // the spaces by the rest.
                const int first = display(shownStart);
                const int last = display(trimmed);
                const qreal tracked = LineBreaking::tracking(
                    room - natural, natural, int(gaps.size()), spaceWidth, LineBreaking::Params());
                if (tracked > 0 && last > first) {
                    QTextLayout::FormatRange range;
                    range.start = first;
                    range.length = last - first;
                    range.format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
                    range.format.setFontLetterSpacing(tracked / (last - first));
                    formats.append(range);
                }
                continue;
            }
            if (gaps.empty())
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
    // Emphasis over the letter spacing set above (the layout merges the formats).
    for (const StyleRun& run : runs) {
        QTextLayout::FormatRange range;
        range.start = display(run.from);
        range.length = display(run.to) - range.start;
        if (run.style & Emphasis::Italic)
            range.format.setFontItalic(true);
        if (run.style & Emphasis::Bold)
            range.format.setFontWeight(QFont::Bold);
        if (range.length > 0)
            formats.prepend(range);
    }
    m_layout.setText(shown);
    m_layout.setFont(style.font);
    m_layout.setFormats(formats);
    QTextOption option;
    // Each line takes exactly the characters the book's line breaker gave it.
    option.setWrapMode(QTextOption::WrapAnywhere);
    if (style.justify)
        option.setAlignment(Qt::AlignJustify);
    else if (heading)
        option.setAlignment(Qt::AlignHCenter);
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
        if (style.justify || heading)
            line.setNumColumns(columns, std::max<qreal>(1, style.width - x));
        else
            line.setNumColumns(columns);
        line.setPosition(QPointF(x, lineTop(int(i)) + style.leading));
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
    return QRectF(std::min(x0, x1), slotTop(line), std::abs(x1 - x0), slotHeight(line));
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
    const QRectF clip(origin.x() - 1, origin.y() + slotTop(firstLine), 1e6,
                      lineTop(lastLine) + m_lineHeight - slotTop(firstLine));
    // QTextLayout also draws the line just above its clip, which would show in the top
    // margin above the first line: the painter clips it.
    painter->save();
    painter->setClipRect(clip, Qt::IntersectClip);
    m_layout.draw(painter, origin, selections, clip);
    painter->restore();
    if (breakSelected && lastLine == m_layout.lineCount() - 1) {
        const QTextLine l = lineAt(lastLine);
        painter->fillRect(QRectF(origin.x() + l.x() + l.naturalTextWidth(),
                                 origin.y() + lineTop(lastLine),
                                 QFontMetricsF(m_layout.font()).averageCharWidth(), m_lineHeight),
                          highlight);
    }
}
