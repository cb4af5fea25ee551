#include "core/book/book_text.h"

#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/text/text_import.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char16_t kNulSymbol = 0x2400;

bool hasByteOrderMark(const QByteArray& data) {
    return data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") ||
           data.startsWith("\xFE\xFF");
}

// Per byte: the letter-case fold and whether it is a word character.
struct ByteTables {
    std::array<unsigned char, 256> fold{};
    std::array<bool, 256> word{};
    ByteTables() {
        for (int b = 0; b < 256; ++b) {
            const char16_t ch = Cp1251::toUnicode(static_cast<unsigned char>(b));
            const int lower = Cp1251::fromUnicode(QChar(ch).toLower().unicode());
            fold[size_t(b)] = static_cast<unsigned char>(lower >= 0 ? lower : b);
            word[size_t(b)] = BookText::isWordCharacter(ch);
        }
    }
};

const ByteTables& byteTables() {
    static const ByteTables tables;
    return tables;
}

// Horspool's search over bytes, each compared through `fold`.
qsizetype findBytes(const unsigned char* d, qsizetype size, const QByteArray& wanted,
                    qsizetype from, bool forward, const unsigned char* fold, const bool* word,
                    bool wholeWord) {
    const qsizetype m = wanted.size();
    if (m == 0 || m > size)
        return -1;
    QByteArray n(m, Qt::Uninitialized);
    for (qsizetype i = 0; i < m; ++i)
        n[i] = char(fold[static_cast<unsigned char>(wanted[i])]);
    const auto* w = reinterpret_cast<const unsigned char*>(n.constData());
    const auto matches = [&](qsizetype at) {
        for (qsizetype i = 0; i < m; ++i)
            if (fold[d[at + i]] != w[i])
                return false;
        if (!wholeWord)
            return true;
        return (at == 0 || !word[d[at - 1]]) && (at + m >= size || !word[d[at + m]]);
    };
#if defined(__SSE2__)
    // Sixteen places at a time: those whose first and last bytes fold to the wanted ones
    // (a letter in either case) are compared in full.
    std::array<unsigned char, 2> firsts{};
    std::array<unsigned char, 2> lasts{};
    int nFirst = 0;
    int nLast = 0;
    const auto note = [](std::array<unsigned char, 2>& bytes, int& count, int b) {
        if (count < 2)
            bytes[size_t(count)] = static_cast<unsigned char>(b);
        ++count;
    };
    for (int b = 0; b < 256; ++b) {
        if (fold[b] == w[0])
            note(firsts, nFirst, b);
        if (fold[b] == w[m - 1])
            note(lasts, nLast, b);
    }
    if (nFirst >= 1 && nFirst <= 2 && nLast >= 1 && nLast <= 2) {
        const __m128i f1 = _mm_set1_epi8(char(firsts[0]));
        const __m128i f2 = _mm_set1_epi8(char(firsts[size_t(nFirst - 1)]));
        const __m128i l1 = _mm_set1_epi8(char(lasts[0]));
        const __m128i l2 = _mm_set1_epi8(char(lasts[size_t(nLast - 1)]));
        const auto candidates = [&](qsizetype at) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + at));
            const __m128i z = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + at + m - 1));
            const __m128i ea = _mm_or_si128(_mm_cmpeq_epi8(a, f1), _mm_cmpeq_epi8(a, f2));
            const __m128i ez = _mm_or_si128(_mm_cmpeq_epi8(z, l1), _mm_cmpeq_epi8(z, l2));
            return unsigned(_mm_movemask_epi8(_mm_and_si128(ea, ez)));
        };
        if (forward) {
            qsizetype at = std::max<qsizetype>(0, from);
            for (; at + m + 15 <= size; at += 16)
                for (unsigned mask = candidates(at); mask != 0; mask &= mask - 1)
                    if (matches(at + __builtin_ctz(mask)))
                        return at + __builtin_ctz(mask);
            for (; at + m <= size; ++at)
                if (matches(at))
                    return at;
            return -1;
        }
        qsizetype at = std::min(from, size) - m - 15;
        for (; at >= 0; at -= 16) {
            for (unsigned mask = candidates(at); mask != 0;) {
                const int bit = 31 - __builtin_clz(mask);
                if (matches(at + bit))
                    return at + bit;
                mask &= ~(1u << bit);
            }
        }
        for (qsizetype p = at + 15; p >= 0; --p)
            if (matches(p))
                return p;
        return -1;
    }
#endif
    std::array<qsizetype, 256> shift;
    if (forward) {
        shift.fill(m);
        for (qsizetype i = 0; i + 1 < m; ++i)
            shift[w[i]] = m - 1 - i;
        const unsigned char last = w[m - 1];
        for (qsizetype at = std::max<qsizetype>(0, from); at + m <= size;) {
            const unsigned char c = fold[d[at + m - 1]];
            if (c == last && matches(at))
                return at;
            at += shift[c];
        }
        return -1;
    }
    shift.fill(m);
    for (qsizetype i = m - 1; i > 0; --i)
        shift[w[i]] = i;
    const unsigned char first = w[0];
    for (qsizetype at = std::min(from, size) - m; at >= 0;) {
        const unsigned char c = fold[d[at]];
        if (c == first && matches(at))
            return at;
        at -= shift[c];
    }
    return -1;
}

} // namespace

bool BookText::isWordCharacter(char16_t ch) {
    return ch == u'_' || QChar(ch).isLetterOrNumber();
}

BookText BookText::readFile(const QString& path) {
    return fromBytes(RegularFile::readBook(path));
}

BookText BookText::fromBytes(QByteArray bytes) {
    if (hasByteOrderMark(bytes))
        return fromText(TextImport::decode(bytes));
    BookText book;
    book.m_bytes = std::move(bytes);
    book.indexParagraphs();
    return book;
}

BookText BookText::fromText(QStringView text) {
    BookText book;
    // Code page 1251 when every character has its form there (U+2400 stands for NUL).
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    bool encodable = true;
    for (qsizetype i = 0; i < text.size() && encodable; ++i) {
        const char16_t ch = text[i].unicode();
        const int b = ch == kNulSymbol ? 0 : Cp1251::fromUnicode(ch);
        encodable = b >= 0;
        out[i] = char(b);
    }
    if (encodable) {
        book.m_bytes = std::move(bytes);
    } else {
        bytes = QByteArray();
        QString wide = text.toString();
        wide.replace(QChar::LineSeparator, QLatin1Char('\n'));
        wide.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        wide.replace(QChar(kNulSymbol), QChar(0));
        TextImport::normaliseInPlace(wide);
        wide.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        book.m_chars = std::move(wide);
        book.m_wide = true;
    }
    book.indexParagraphs();
    return book;
}

void BookText::indexParagraphs() {
    m_starts.clear();
    m_starts.push_back(0);
    m_longest = 0;
    if (m_wide) {
        const char16_t* d = chars();
        const qsizetype size = m_chars.size();
        for (qsizetype i = 1; i < size; ++i)
            if (d[i] == u'\n')
                m_starts.push_back(std::uint32_t(i + 1));
    } else {
        const char* d = m_bytes.constData();
        const qsizetype size = m_bytes.size();
        m_starts.reserve(size_t(size / 64) + 1);
        // One pass: every LF starts a paragraph; a lone CR or LF is counted.
        qsizetype lone = 0;
        const auto lineBreak = [&](qsizetype i) {
            if (d[i] == '\n') {
                if (i == 0 || d[i - 1] != '\r')
                    ++lone;
                m_starts.push_back(std::uint32_t(i + 1));
            } else if (i + 1 == size || d[i + 1] != '\n') {
                ++lone;
            }
        };
        qsizetype i = 0;
#if defined(__SSE2__)
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i cr = _mm_set1_epi8('\r');
        for (; i + 16 <= size; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
            unsigned mask = unsigned(
                _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
            for (; mask != 0; mask &= mask - 1)
                lineBreak(i + __builtin_ctz(mask));
        }
#endif
        for (; i < size; ++i)
            if (d[i] == '\n' || d[i] == '\r')
                lineBreak(i);
        if (lone > 0) {
            normaliseBytes(lone);
            indexParagraphs();
            return;
        }
    }
    for (size_t p = 0; p < m_starts.size(); ++p)
        m_longest = std::max(m_longest, paragraphEnd(int(p)) - qsizetype(m_starts[p]));
}

void BookText::normaliseBytes(qsizetype loneBreaks) {
    const qsizetype oldSize = m_bytes.size();
    m_bytes.resize(oldSize + loneBreaks);
    char* d = m_bytes.data();
    // From the end, so that nothing is read after it has been overwritten: `next` is
    // the original byte after the one being moved.
    qsizetype to = m_bytes.size();
    char next = 0;
    for (qsizetype from = oldSize; from-- > 0;) {
        const char c = d[from];
        const bool loneLf = c == '\n' && (from == 0 || d[from - 1] != '\r');
        const bool loneCr = c == '\r' && (from + 1 == oldSize || next != '\n');
        if (loneLf || loneCr) {
            d[--to] = '\n';
            d[--to] = '\r';
        } else {
            d[--to] = c;
        }
        next = c;
    }
}

int BookText::paragraphAt(qsizetype offset) const {
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(),
                                     std::uint32_t(std::clamp<qsizetype>(offset, 0, length())));
    return int(it - m_starts.begin()) - 1;
}

char16_t BookText::at(qsizetype offset) const {
    if (m_wide) {
        const char16_t ch = chars()[offset];
        return ch == 0 ? kNulSymbol : ch;
    }
    const unsigned char b = bytes()[offset];
    return b == 0 ? kNulSymbol : Cp1251::toUnicode(b);
}

QString BookText::text(qsizetype from, qsizetype to) const {
    from = std::clamp<qsizetype>(from, 0, length());
    to = std::clamp<qsizetype>(to, from, length());
    QString out = m_wide ? m_chars.mid(from, to - from)
                         : Cp1251::decode(QByteArrayView(m_bytes).sliced(from, to - from));
    if (out.contains(QChar(0)))
        out.replace(QChar(0), QChar(kNulSymbol));
    return out;
}

qsizetype BookText::find(QStringView wanted, qsizetype from, FindOptions options) const {
    return m_wide ? findInChars(chars(), m_chars.size(), wanted, from, options)
                  : findInBytes(bytes(), m_bytes.size(), wanted, from, options);
}

qsizetype BookText::findInChars(const char16_t* d, qsizetype size, QStringView wanted,
                                qsizetype from, FindOptions options) {
    if (wanted.isEmpty())
        return -1;
    const Qt::CaseSensitivity cs = options.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    QString needle = wanted.toString();
    needle.replace(QChar(kNulSymbol), QChar(0));
    const QStringView text(d, size);
    const auto acceptable = [&](qsizetype at) {
        if (!options.wholeWord)
            return true;
        const qsizetype after = at + needle.size();
        return (at == 0 || !isWordCharacter(d[at - 1])) &&
               (after >= size || !isWordCharacter(d[after]));
    };
    qsizetype found = -1;
    if (options.forward) {
        found = text.indexOf(needle, std::max<qsizetype>(0, from), cs);
        while (found >= 0 && !acceptable(found))
            found = text.indexOf(needle, found + 1, cs);
    } else if (std::min(from, size) - needle.size() >= 0) {
        found = text.lastIndexOf(needle, std::min(from, size) - needle.size(), cs);
        while (found >= 0 && !acceptable(found))
            found = found > 0 ? text.lastIndexOf(needle, found - 1, cs) : -1;
    }
    return found;
}

qsizetype BookText::findInBytes(const unsigned char* d, qsizetype size, QStringView wanted,
                                qsizetype from, FindOptions options) {
    if (wanted.isEmpty())
        return -1;
    QByteArray needle(wanted.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const char16_t ch = wanted[i].unicode();
        const int b = ch == kNulSymbol ? 0 : Cp1251::fromUnicode(ch);
        if (b < 0)
            return -1; // a character no book byte stands for
        needle[i] = char(b);
    }
    static const std::array<unsigned char, 256> identity = [] {
        std::array<unsigned char, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = static_cast<unsigned char>(i);
        return t;
    }();
    const ByteTables& tables = byteTables();
    return findBytes(d, size, needle, from, options.forward,
                     options.matchCase ? identity.data() : tables.fold.data(), tables.word.data(),
                     options.wholeWord);
}
