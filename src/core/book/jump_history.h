#pragma once

#include <QtGlobal>

#include <optional>
#include <vector>

// Where the reader was before each jump (the contents, a bookmark, a note, go to, find,
// a search hit, Ctrl+Home/End), as a browser's history: back returns to the place
// before the last jump, forward goes to it again. In memory, for one reading.
class JumpHistory {
public:
    // A jump from `from` is about to be made: forward places are dropped.
    void jumped(qsizetype from);
    // The place to go back to from `current`, which forward then returns to; none at
    // the start.
    std::optional<qsizetype> back(qsizetype current);
    std::optional<qsizetype> forward(qsizetype current);
    bool canGoBack() const { return m_index > 0; }
    bool canGoForward() const { return m_index + 1 < m_places.size(); }
    void clear();

private:
    // The places in order; m_index is the one the reader stands at (its entry is
    // rewritten with the place actually left when it moves on).
    std::vector<qsizetype> m_places;
    size_t m_index = 0;
};
