#pragma once

#include "core/text/hyphenator.h"

#include <QString>
#include <QStringView>

#include <vector>

// The string a paragraph is laid out from, which may differ from its text: a soft
// hyphen (U+00AD) at each place a word may be broken (a line that ends there shows a
// hyphen), and a no-break space after a one-letter preposition or conjunction («в», «к»,
// «с», «у», «о», «и», «а») so that it never ends a line. Only the display sees these:
// offsets, find and copy go by the text, through toText() and toDisplay().
class DisplayText {
public:
    static constexpr QChar kSoftHyphen = QChar(0x00ad);
    static constexpr QChar kNoBreakSpace = QChar(0x00a0);

    DisplayText() = default;
    // `hyphenate` inserts the soft hyphens; `keepShortWords` joins the one-letter words
    // to the next (the rule of justified text).
    DisplayText(QStringView text, bool hyphenate, bool keepShortWords,
                const Hyphenator& hyphenator = Hyphenator::russian());

    // The text with a soft hyphen at each of `hyphens` (text positions, ascending): the
    // places a line breaker broke words at.
    DisplayText(QStringView text, std::vector<qsizetype> hyphens);

    // For a line breaker: the places inside the word around `at` where a line may end
    // with a hyphen, ascending, as positions in `text`; none unless the word is a run of
    // Russian letters standing alone (what the first constructor hyphenates).
    static std::vector<qsizetype>
    hyphenPlaces(QStringView text, qsizetype at,
                 const Hyphenator& hyphenator = Hyphenator::russian());
    // For a line breaker: whether a line must not end at the space at `at`, a one-letter
    // preposition or conjunction standing before it.
    static bool holdsSpace(QStringView text, qsizetype at);

    const QString& text() const { return m_text; }
    // The display position of a text position (a place between characters): after any
    // soft hyphen inserted there, so a place at a broken line's end is the next line's start.
    qsizetype toDisplay(qsizetype textPosition) const;
    // The text position of a display position; a soft hyphen's own position gives the
    // place it was inserted at.
    qsizetype toText(qsizetype displayPosition) const;
    // The text positions soft hyphens were inserted at, ascending.
    const std::vector<qsizetype>& hyphens() const { return m_hyphens; }

    // Whether `c` is one of the one-letter words kept with the next word.
    static bool isShortWord(QChar c);

private:
    QString m_text;
    std::vector<qsizetype> m_hyphens;
};
