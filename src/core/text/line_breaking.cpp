#include "core/text/line_breaking.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace LineBreaking {

namespace {

constexpr qreal kInfiniteBadness = 10000;
constexpr qreal kEpsilon = 1e-3;

// Sums over the paragraph, so that any line is measured in constant time.
struct Sums {
    std::vector<qreal> width;       // width[i]: the advances of characters [0, i)
    std::vector<int> spaces;        // spaces[i]: the spaces among them
    std::vector<qsizetype> trimmed; // trimmed[i]: i less the spaces just before it

    explicit Sums(const Paragraph& p) {
        const size_t n = p.widths.size();
        width.assign(n + 1, 0);
        spaces.assign(n + 1, 0);
        trimmed.assign(n + 1, 0);
        for (size_t i = 0; i < n; ++i) {
            width[i + 1] = width[i] + p.widths[i];
            spaces[i + 1] = spaces[i] + (p.spaces[i] ? 1 : 0);
            trimmed[i + 1] = p.spaces[i] ? trimmed[i] : qsizetype(i + 1);
        }
    }

    // `added`: a hyphen is added at the line's end (not the text's own).
    Line line(const Paragraph& p, qsizetype from, qsizetype to, bool hyphen, bool last,
              bool added) const {
        Line l;
        l.from = from;
        l.to = to;
        l.hyphen = hyphen;
        l.last = last;
        const qsizetype end = std::max(from, trimmed[size_t(to)]);
        l.natural = width[size_t(end)] - width[size_t(from)] + (added ? p.hyphenWidth : 0);
        l.gaps = spaces[size_t(end)] - spaces[size_t(from)];
        return l;
    }
};

// How far a line may stretch before it counts as loose: its spaces' and its letters'.
qreal stretchOf(qreal natural, int gaps, qreal spaceWidth, const Params& params) {
    return gaps * params.stretch * spaceWidth + params.letterStretch * natural;
}

// Tight, decent, loose, very loose.
int fitnessOf(const Line& line, const Paragraph& p, const Params& params) {
    if (line.last)
        return 1;
    const qreal slack = line.room - line.natural;
    if (slack < 0)
        return line.gaps > 0 && params.shrink > 0 &&
                       -slack / (line.gaps * params.shrink * p.spaceWidth) > 0.5
                   ? 0
                   : 1;
    const qreal stretch = stretchOf(line.natural, line.gaps, p.spaceWidth, params);
    if (stretch <= 0)
        return 1;
    const qreal ratio = slack / stretch;
    return ratio <= 0.5 ? 1 : ratio <= 1 ? 2 : 3;
}

qreal lineDemerits(qreal bad, const Line& line, int index, bool previousHyphen, int fitness,
                   int previousFitness, const Params& params) {
    qreal d = (params.linePenalty + bad) * (params.linePenalty + bad);
    if (line.hyphen) {
        d += params.hyphenPenalty * params.hyphenPenalty;
        if (previousHyphen)
            d += params.doubleHyphenDemerits;
        if (index == params.pageLastLine)
            d += params.pageHyphenDemerits;
    }
    if (previousFitness >= 0 && std::abs(fitness - previousFitness) > 1)
        d += params.fitnessDemerits;
    return d;
}

} // namespace

std::vector<Line> lines(const Paragraph& paragraph, const std::vector<qsizetype>& starts) {
    const Sums sums(paragraph);
    const qsizetype size = qsizetype(paragraph.widths.size());
    std::vector<Line> out;
    size_t b = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
        const qsizetype to = i + 1 < starts.size() ? starts[i + 1] : size;
        while (b < paragraph.breaks.size() && paragraph.breaks[b].at < to)
            ++b;
        const bool at = b < paragraph.breaks.size() && paragraph.breaks[b].at == to;
        const bool hyphen = to < size ? at && paragraph.breaks[b].hyphen : paragraph.endsInHyphen;
        const bool added = hyphen && !(to < size && paragraph.breaks[b].inText);
        Line l = sums.line(paragraph, starts[i], to, hyphen, to >= size && paragraph.endsParagraph,
                           added);
        l.room = i == 0 ? paragraph.firstWidth : paragraph.width;
        out.push_back(l);
    }
    return out;
}

std::optional<qreal> badness(const Line& line, const Paragraph& paragraph, const Params& params) {
    const qreal slack = line.room - line.natural;
    if (slack < -kEpsilon) {
        // Spaces shrink, within their limit; a last line is set at its natural width.
        const qreal shrinkable = line.last ? 0 : line.gaps * params.shrink * paragraph.spaceWidth;
        if (-slack > shrinkable + kEpsilon)
            return std::nullopt;
        const qreal ratio = shrinkable > 0 ? -slack / shrinkable : 0;
        return 100 * ratio * ratio * ratio;
    }
    if (line.last || slack <= kEpsilon)
        return 0;
    const qreal stretch = stretchOf(line.natural, line.gaps, paragraph.spaceWidth, params);
    // Letters alone stretch no further than their limit.
    if (stretch <= 0 || (line.gaps == 0 && slack > stretch + kEpsilon))
        return kInfiniteBadness;
    const qreal ratio = slack / stretch;
    return std::min(kInfiniteBadness, 100 * ratio * ratio * ratio);
}

qreal tracking(qreal slack, qreal natural, int gaps, qreal spaceWidth, const Params& params) {
    if (slack <= 0 || params.letterStretch <= 0 || natural <= 0)
        return 0;
    const qreal letters = params.letterStretch * natural;
    const qreal share = letters / stretchOf(natural, gaps, spaceWidth, params);
    return std::min(letters, slack * share);
}

std::optional<qreal> demerits(const Paragraph& paragraph, const std::vector<qsizetype>& starts,
                              const Params& params) {
    qreal total = 0;
    int run = paragraph.hyphenRunBefore, previousFitness = -1;
    bool previousHyphen = false;
    const std::vector<Line> all = lines(paragraph, starts);
    for (size_t i = 0; i < all.size(); ++i) {
        const std::optional<qreal> bad = badness(all[i], paragraph, params);
        if (!bad)
            return std::nullopt;
        run = all[i].hyphen ? run + 1 : 0;
        if (run > params.maxHyphenRun)
            return std::nullopt;
        const int fitness = fitnessOf(all[i], paragraph, params);
        total +=
            lineDemerits(*bad, all[i], int(i), previousHyphen, fitness, previousFitness, params);
        previousHyphen = all[i].hyphen;
        previousFitness = fitness;
    }
    return total;
}

namespace {

// Total fit over the lines no looser than `tolerance` (a badness): a line looser than that
// ends at no candidate, though the node it starts from stays for longer lines.
std::optional<std::vector<qsizetype>> optimalWithin(const Paragraph& p, const Params& params,
                                                    const Sums& sums, qreal tolerance) {
    const qsizetype size = qsizetype(p.widths.size());
    struct Node {
        qsizetype at;
        int line; // lines before it
        int run;  // hyphenated lines just before it
        int fitness;
        bool hyphen;
        qreal total;
        int previous;
    };
    std::vector<Node> nodes{{0, 0, p.hyphenRunBefore, -1, p.hyphenRunBefore > 0, 0, -1}};
    std::vector<int> active{0};
    std::vector<Opportunity> candidates = p.breaks;
    candidates.push_back({size, false});
    const int runs = params.maxHyphenRun + 1;
    std::vector<int> best; // by (run, fitness) at one candidate: node index or -1
    std::vector<int> stillActive;
    for (const Opportunity& candidate : candidates) {
        if (candidate.at <= 0 || candidate.at > size)
            continue;
        const bool last = candidate.at >= size && p.endsParagraph;
        const bool hyphen = candidate.at < size ? candidate.hyphen : p.endsInHyphen;
        const bool added = hyphen && !(candidate.at < size && candidate.inText);
        best.assign(size_t(runs * 4), -1);
        stillActive.clear();
        for (size_t k = 0; k < active.size(); ++k) {
            const int index = active[k];
            const Node& from = nodes[size_t(index)];
            if (from.at >= candidate.at) {
                stillActive.push_back(index);
                continue;
            }
            Line line = sums.line(p, from.at, candidate.at, hyphen, last, added);
            line.room = from.line == 0 ? p.firstWidth : p.width;
            // A line from here that is already too wide without a hyphen, its spaces
            // shrunk, only grows.
            const qreal plain = line.natural - (added ? p.hyphenWidth : 0);
            if (plain - line.gaps * params.shrink * p.spaceWidth > line.room + kEpsilon)
                continue;
            stillActive.push_back(index);
            const std::optional<qreal> bad = badness(line, p, params);
            if (bad && *bad > tolerance) {
                // The nodes are in the order of their places: a line from a later one is
                // shorter still, so looser. They wait for later candidates.
                stillActive.insert(stillActive.end(), active.begin() + qsizetype(k) + 1,
                                   active.end());
                break;
            }
            if (!bad)
                continue;
            const int run = hyphen ? from.run + 1 : 0;
            if (run > params.maxHyphenRun)
                continue;
            const int fitness = fitnessOf(line, p, params);
            const qreal total = from.total + lineDemerits(*bad, line, from.line, from.hyphen,
                                                          fitness, from.fitness, params);
            int& slot = best[size_t(run * 4 + fitness)];
            if (slot < 0 || total < nodes[size_t(slot)].total) {
                if (slot < 0) {
                    slot = int(nodes.size());
                    nodes.push_back({});
                }
                nodes[size_t(slot)] = {candidate.at, from.line + 1, run,  fitness,
                                       hyphen,       total,         index};
            }
        }
        active.swap(stillActive);
        for (const int slot : best)
            if (slot >= 0)
                active.push_back(slot);
        if (active.empty())
            return std::nullopt;
    }
    int end = -1;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].at == size && (end < 0 || nodes[i].total < nodes[size_t(end)].total))
            end = int(i);
    if (end < 0)
        return std::nullopt;
    std::vector<qsizetype> starts;
    for (int at = nodes[size_t(end)].previous; at >= 0; at = nodes[size_t(at)].previous)
        starts.push_back(nodes[size_t(at)].at);
    std::reverse(starts.begin(), starts.end());
    return starts;
}

} // namespace

std::optional<std::vector<qsizetype>> optimal(const Paragraph& p, const Params& params) {
    if (p.widths.empty())
        return std::vector<qsizetype>{0};
    const Sums sums(p);
    // As a typesetter does: first only among lines of tolerable spacing, which leaves few
    // breaks to weigh; a paragraph that cannot be set so is set among all lines.
    if (params.tolerance < kInfiniteBadness)
        if (auto starts = optimalWithin(p, params, sums, params.tolerance))
            return starts;
    return optimalWithin(p, params, sums, kInfiniteBadness);
}

std::vector<qsizetype> greedy(const Paragraph& p) {
    const qsizetype size = qsizetype(p.widths.size());
    const Sums sums(p);
    std::vector<qsizetype> starts{0};
    size_t b = 0;
    for (qsizetype from = 0;;) {
        const qreal room = starts.size() == 1 ? p.firstWidth : p.width;
        if (sums.line(p, from, size, false, true, false).natural <= room + kEpsilon)
            break;
        // The farthest opportunity that fits; the first one if none does.
        while (b < p.breaks.size() && p.breaks[b].at <= from)
            ++b;
        size_t chosen = b;
        for (size_t k = b; k < p.breaks.size(); ++k) {
            const bool added = p.breaks[k].hyphen && !p.breaks[k].inText;
            const Line line = sums.line(p, from, p.breaks[k].at, p.breaks[k].hyphen, false, added);
            if (line.natural - (added ? p.hyphenWidth : 0) > room + kEpsilon)
                break;
            if (line.natural <= room + kEpsilon)
                chosen = k;
        }
        if (chosen >= p.breaks.size())
            break;
        from = p.breaks[chosen].at;
        starts.push_back(from);
    }
    return starts;
}

} // namespace LineBreaking
