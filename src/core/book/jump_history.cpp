#include "core/book/jump_history.h"

void JumpHistory::jumped(qsizetype from) {
    if (m_places.empty()) {
        m_places.push_back(from);
    } else {
        m_places.resize(m_index + 1);
        m_places[m_index] = from;
    }
    // The jump's target is not known here: it is noted when the reader leaves it.
    m_places.push_back(from);
    m_index = m_places.size() - 1;
}

std::optional<qsizetype> JumpHistory::back(qsizetype current) {
    if (!canGoBack())
        return std::nullopt;
    m_places[m_index] = current;
    return m_places[--m_index];
}

std::optional<qsizetype> JumpHistory::forward(qsizetype current) {
    if (!canGoForward())
        return std::nullopt;
    m_places[m_index] = current;
    return m_places[++m_index];
}

void JumpHistory::clear() {
    m_places.clear();
    m_index = 0;
}
