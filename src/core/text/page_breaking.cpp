#include "core/text/page_breaking.h"

#include <algorithm>

namespace {

// Room is measured in pixels of fractional line heights: sums that should be equal may
// differ in the last bits.
constexpr double kSlack = 1e-6;

} // namespace

PageBreaker::PageBreaker(double room, std::vector<int> starts, std::vector<int> decidedBy)
    : m_room(room), m_starts(std::move(starts)), m_decidedBy(std::move(decidedBy)) {
    if (m_starts.empty() || m_decidedBy.size() != m_starts.size()) {
        m_starts = {0};
        m_decidedBy = {0};
    }
    m_pageStart = m_starts.back();
}

void PageBreaker::add(const PageLine& line) {
    m_pending.push_back(line);
    m_used += line.height;
    while (m_pending.size() > 1 && m_used > m_room + kSlack) {
        // The lines that fit; the first always counts.
        int fit = 1;
        double used = m_pending[0].height;
        while (used + m_pending[size_t(fit)].height <= m_room + kSlack) {
            used += m_pending[size_t(fit)].height;
            ++fit;
        }
        int next = breakAt(fit, true);
        if (next > 0) {
            const int whole = breakAt(fit, true, true);
            if (whole > 0 && next - whole <= kMostLinesForAWord)
                next = whole;
        }
        if (next <= 0)
            next = breakAt(fit, false);
        if (next <= 0)
            next = fit;
        m_decidedBy.push_back(lines());
        m_pending.erase(m_pending.begin(), m_pending.begin() + next);
        m_pageStart += next;
        m_starts.push_back(m_pageStart);
        m_used = 0;
        for (const PageLine& l : m_pending)
            m_used += l.height;
    }
}

int PageBreaker::breakAt(int fit, bool keepParagraphs, bool keepWords) const {
    int at = fit;
    while (at > 0) {
        // The page's last line that shows something.
        int last = at - 1;
        while (last > 0 && m_pending[size_t(last)].blank)
            --last;
        const PageLine& shown = m_pending[size_t(last)];
        if (shown.heading && !shown.blank) {
            at = last;
            continue;
        }
        if (keepParagraphs) {
            const PageLine& foot = m_pending[size_t(at) - 1];
            const PageLine& head = m_pending[size_t(at)];
            if ((foot.startsParagraph && !foot.endsParagraph) ||
                (head.endsParagraph && !head.startsParagraph)) {
                --at;
                continue;
            }
        }
        if (keepWords && endsInBrokenWord(m_pending[size_t(at) - 1])) {
            --at;
            continue;
        }
        return at;
    }
    return 0;
}

std::vector<int> breakPages(const std::vector<PageLine>& lines, double room) {
    if (lines.empty())
        return {};
    PageBreaker breaker(room);
    for (const PageLine& line : lines)
        breaker.add(line);
    return breaker.starts();
}
