#include "core/text/hyphenator.h"

#include <QFile>

#include <hyphen.h>

namespace {

// KOI8-R of the lower-case letters а..я, then ё.
constexpr unsigned char kKoi8[32] = {
    0xc1, 0xc2, 0xd7, 0xc7, 0xc4, 0xc5, 0xd6, 0xda, 0xc9, 0xca, 0xcb, 0xcc, 0xcd, 0xce, 0xcf, 0xd0,
    0xd2, 0xd3, 0xd4, 0xd5, 0xc6, 0xc8, 0xc3, 0xde, 0xdb, 0xdd, 0xdf, 0xd9, 0xd8, 0xdc, 0xc0, 0xd1};

// The KOI8-R byte of a Cyrillic letter in either case, or 0. The patterns know no «ё»:
// it is broken as «е» is.
unsigned char koi8(QChar c) {
    const char16_t u = c.unicode();
    if (u >= 0x0430 && u <= 0x044f)
        return kKoi8[u - 0x0430];
    if (u >= 0x0410 && u <= 0x042f)
        return kKoi8[u - 0x0410];
    if (u == 0x0451 || u == 0x0401)
        return kKoi8[5];
    return 0;
}

} // namespace

Hyphenator::Hyphenator(const QString& patternsPath) {
    if (QFile::exists(patternsPath))
        m_dict = hnj_hyphen_load(QFile::encodeName(patternsPath).constData());
}

Hyphenator::~Hyphenator() {
    if (m_dict)
        hnj_hyphen_free(m_dict);
}

const Hyphenator& Hyphenator::russian() {
    static const Hyphenator instance;
    return instance;
}

bool Hyphenator::isLetter(QChar c) {
    return koi8(c) != 0;
}

std::vector<int> Hyphenator::points(QStringView word) const {
    std::vector<int> result;
    const int size = int(word.size());
    if (!m_dict || size < 4 || size > kMaxWord)
        return result;
    char bytes[kMaxWord + 1];
    for (int i = 0; i < size; ++i) {
        bytes[i] = char(koi8(word[i]));
        if (bytes[i] == 0)
            return result;
    }
    bytes[size] = 0;
    char hyphens[kMaxWord + 5] = {};
    char** rep = nullptr;
    int* pos = nullptr;
    int* cut = nullptr;
    int failed = 0;
    {
        // The library keeps no state between calls, but it is not documented as safe
        // to share: one word at a time costs a few microseconds.
        std::lock_guard lock(m_mutex);
        failed = hnj_hyphen_hyphenate3(m_dict, bytes, size, hyphens, nullptr, &rep, &pos, &cut, 2,
                                       2, 2, 2);
    }
    if (rep) {
        for (int i = 0; i < size; ++i)
            free(rep[i]);
        free(rep);
    }
    free(pos);
    free(cut);
    if (failed)
        return result;
    // An odd digit after letter i allows a break after it.
    for (int i = 1; i + 2 < size; ++i)
        if (hyphens[i] & 1)
            result.push_back(i + 1);
    return result;
}

QString Hyphenator::marked(QStringView word, QChar mark) const {
    QString out;
    int from = 0;
    for (const int at : points(word)) {
        out += word.mid(from, at - from);
        out += mark;
        from = at;
    }
    out += word.mid(from);
    return out;
}
