#include "core/book/mark_index.h"

#include "core/book/book_document.h"

#include <algorithm>

namespace {

// A title of several lines joins them: «Глава 1» and «Начало» make «Глава 1. Начало»
// (as the importers and the heading detector join them).
QString joined(const QString& title, const QString& line) {
    const QChar last = title.back();
    const bool closed =
        last == u'.' || last == u'!' || last == u'?' || last == u':' || last == QChar(0x2026);
    return title + (closed ? QStringLiteral(" ") : QStringLiteral(". ")) + line;
}

// The spans of one kind in order, those that touch or overlap made one, empty ones and
// those outside the text left out.
std::vector<Emphasis> merged(const std::vector<Emphasis>& all, int kind, qsizetype length) {
    std::vector<Emphasis> spans;
    for (const Emphasis& e : all)
        if ((e.kind & kind) && e.from < e.to && e.to > 0 && e.from < length)
            spans.push_back(Emphasis{std::max<qsizetype>(0, e.from), std::min(e.to, length), kind});
    const auto byStart = [](const Emphasis& a, const Emphasis& b) { return a.from < b.from; };
    if (!std::is_sorted(spans.begin(), spans.end(), byStart))
        std::sort(spans.begin(), spans.end(), byStart);
    std::vector<Emphasis> out;
    for (const Emphasis& e : spans) {
        if (!out.empty() && e.from <= out.back().to)
            out.back().to = std::max(out.back().to, e.to);
        else
            out.push_back(e);
    }
    return out;
}

// The spans of `spans` reaching into [from, to): the first that ends after `from`, on.
std::vector<Emphasis>::const_iterator firstAfter(const std::vector<Emphasis>& spans,
                                                 qsizetype from) {
    return std::upper_bound(spans.begin(), spans.end(), from,
                            [](qsizetype at, const Emphasis& e) { return at < e.to; });
}

} // namespace

MarkIndex::MarkIndex(const BookMarkup& markup, const BookDocument& text) {
    const qsizetype length = text.length();
    const int count = text.paragraphCount();
    // The longest title line looked at, and the most lines a title joins.
    constexpr qsizetype kLongestLine = 512;
    constexpr int kMostLines = 8;
    for (const Heading& h : markup.headings) {
        if (h.offset < 0 || h.offset >= length)
            continue;
        const int paragraph = text.paragraphAt(h.offset);
        if (!m_headings.empty() && m_headings.back().paragraph >= paragraph)
            continue; // in book order, one heading a paragraph
        const int rank = std::clamp(h.rank, 1, kLowestRank);
        m_headings.push_back({paragraph, rank, true});
        // The lines under it that its title joins are headings too.
        const auto line = [&](int p) {
            const qsizetype from = text.paragraphStart(p);
            const qsizetype to = std::min(text.paragraphEnd(p), from + kLongestLine);
            return text.text(from, to).simplified();
        };
        QString title = line(paragraph);
        if (title.isEmpty() || !h.title.startsWith(title))
            continue;
        for (int p = paragraph + 1, taken = 1;
             p < count && taken < kMostLines && title.size() < h.title.size(); ++p) {
            const QString next = line(p);
            if (next.isEmpty())
                continue; // an empty line inside a title
            const QString longer = joined(title, next);
            if (!h.title.startsWith(longer) ||
                (longer.size() < h.title.size() && !h.title[longer.size()].isSpace() &&
                 h.title[longer.size()] != u'.'))
                break;
            m_headings.push_back({p, rank, false});
            title = longer;
            ++taken;
        }
    }
    m_italic = merged(markup.emphasis, Emphasis::Italic, length);
    m_bold = merged(markup.emphasis, Emphasis::Bold, length);
}

const MarkIndex::HeadingParagraph* MarkIndex::headingOf(int paragraph) const {
    const auto it =
        std::lower_bound(m_headings.begin(), m_headings.end(), paragraph,
                         [](const HeadingParagraph& h, int p) { return h.paragraph < p; });
    return it != m_headings.end() && it->paragraph == paragraph ? &*it : nullptr;
}

int MarkIndex::headingRank(int paragraph) const {
    const HeadingParagraph* h = headingOf(paragraph);
    return h ? h->rank : 0;
}

bool MarkIndex::opensHeading(int paragraph) const {
    const HeadingParagraph* h = headingOf(paragraph);
    return h && h->opens;
}

std::vector<StyleRun> MarkIndex::runs(qsizetype from, qsizetype to) const {
    std::vector<StyleRun> out;
    if (from >= to)
        return out;
    auto i = firstAfter(m_italic, from);
    auto b = firstAfter(m_bold, from);
    // Walks the places where a look changes, in order.
    qsizetype at = from;
    while (at < to) {
        while (i != m_italic.end() && i->to <= at)
            ++i;
        while (b != m_bold.end() && b->to <= at)
            ++b;
        const bool inItalic = i != m_italic.end() && i->from <= at;
        const bool inBold = b != m_bold.end() && b->from <= at;
        qsizetype next = to;
        if (i != m_italic.end())
            next = std::min(next, inItalic ? i->to : i->from);
        if (b != m_bold.end())
            next = std::min(next, inBold ? b->to : b->from);
        const int style = (inItalic ? Emphasis::Italic : 0) | (inBold ? Emphasis::Bold : 0);
        if (style != 0) {
            if (!out.empty() && out.back().to == at && out.back().style == style)
                out.back().to = next;
            else
                out.push_back(StyleRun{at, next, style});
        }
        at = next;
    }
    return out;
}
