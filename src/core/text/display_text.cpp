#include "core/text/display_text.h"

#include <algorithm>

namespace {

bool wordCharacter(QChar c) {
    return c.isLetterOrNumber() || c.isMark();
}

} // namespace

bool DisplayText::isShortWord(QChar c) {
    switch (c.toLower().unicode()) {
    case u'в':
    case u'к':
    case u'с':
    case u'у':
    case u'о':
    case u'и':
    case u'а':
        return true;
    default:
        return false;
    }
}

DisplayText::DisplayText(QStringView text, bool hyphenate, bool keepShortWords,
                         const Hyphenator& hyphenator) {
    const qsizetype size = text.size();
    if (!hyphenate || !hyphenator.available()) {
        m_text = text.toString();
    } else {
        // Each run of Cyrillic letters that stands alone as a word is broken where the
        // patterns allow; a run joined to other letters or digits is not a Russian word
        // and is left whole.
        m_text.reserve(size + size / 8);
        qsizetype at = 0;
        while (at < size) {
            if (!Hyphenator::isLetter(text[at])) {
                m_text += text[at++];
                continue;
            }
            qsizetype end = at;
            while (end < size && Hyphenator::isLetter(text[end]))
                ++end;
            const QStringView word = text.mid(at, end - at);
            const bool alone = (at == 0 || !wordCharacter(text[at - 1])) &&
                               (end == size || !wordCharacter(text[end]));
            qsizetype from = 0;
            if (alone && word.size() >= 4) {
                for (const int point : hyphenator.points(word)) {
                    m_text += word.mid(from, point - from);
                    m_text += kSoftHyphen;
                    m_hyphens.push_back(at + point);
                    from = point;
                }
            }
            m_text += word.mid(from);
            at = end;
        }
    }
    if (keepShortWords) {
        // A one-letter word standing alone, followed by a space: the space holds.
        const qsizetype displaySize = m_text.size();
        for (qsizetype i = 0; i + 1 < displaySize; ++i) {
            if (m_text[i + 1] == QLatin1Char(' ') && isShortWord(m_text[i]) &&
                (i == 0 || !wordCharacter(m_text[i - 1])))
                m_text[i + 1] = kNoBreakSpace;
        }
    }
}

DisplayText::DisplayText(QStringView text, std::vector<qsizetype> hyphens)
    : m_hyphens(std::move(hyphens)) {
    m_text.reserve(text.size() + qsizetype(m_hyphens.size()));
    qsizetype from = 0;
    for (const qsizetype at : m_hyphens) {
        m_text += text.mid(from, at - from);
        m_text += kSoftHyphen;
        from = at;
    }
    m_text += text.mid(from);
}

std::vector<qsizetype> DisplayText::hyphenPlaces(QStringView text, qsizetype at,
                                                 const Hyphenator& hyphenator) {
    std::vector<qsizetype> places;
    if (at < 0 || at >= text.size() || !Hyphenator::isLetter(text[at]))
        return places;
    qsizetype start = at, end = at;
    while (start > 0 && Hyphenator::isLetter(text[start - 1]))
        --start;
    while (end < text.size() && Hyphenator::isLetter(text[end]))
        ++end;
    if ((start > 0 && wordCharacter(text[start - 1])) ||
        (end < text.size() && wordCharacter(text[end])))
        return places;
    for (const int point : hyphenator.points(text.mid(start, end - start)))
        places.push_back(start + point);
    return places;
}

bool DisplayText::holdsSpace(QStringView text, qsizetype at) {
    return at >= 1 && at < text.size() && text[at] == QLatin1Char(' ') &&
           isShortWord(text[at - 1]) && (at == 1 || !wordCharacter(text[at - 2]));
}

qsizetype DisplayText::toDisplay(qsizetype textPosition) const {
    return textPosition +
           (std::upper_bound(m_hyphens.begin(), m_hyphens.end(), textPosition) - m_hyphens.begin());
}

qsizetype DisplayText::toText(qsizetype displayPosition) const {
    // The k-th soft hyphen (from 0) stands at display position m_hyphens[k] + k.
    qsizetype low = 0, high = qsizetype(m_hyphens.size());
    while (low < high) {
        const qsizetype middle = (low + high) / 2;
        if (m_hyphens[middle] + middle < displayPosition)
            low = middle + 1;
        else
            high = middle;
    }
    return displayPosition - low;
}
