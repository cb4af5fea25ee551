#include "core/book/book_markup.h"

#include <algorithm>

bool BookMarkup::losesBy(const TextChange& change) const {
    return std::any_of(headings.begin(), headings.end(),
                       [&](const Heading& h) { return change.touches(h.offset, h.offset + 1); }) ||
           std::any_of(emphasis.begin(), emphasis.end(),
                       [&](const Emphasis& e) { return change.touches(e.from, e.to); });
}

void BookMarkup::apply(const TextChange& change) {
    if (change.isEmpty())
        return;
    std::erase_if(headings,
                  [&](const Heading& h) { return change.touches(h.offset, h.offset + 1); });
    for (Heading& h : headings)
        h.offset = change.moved(h.offset);
    for (Emphasis& e : emphasis) {
        const qsizetype from = change.moved(e.from);
        // The end of a span keeps what was typed inside it.
        const qsizetype to = e.to > change.offset && e.to <= change.offset + change.removed
                                 ? change.offset + change.inserted
                                 : change.moved(e.to);
        e.from = from;
        e.to = std::max(from, to);
    }
    std::erase_if(emphasis, [](const Emphasis& e) { return e.to <= e.from; });
}
