#include "core/base/cp1251.h"

#include <array>

namespace {

constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Reverse table for the characters U+0400..U+04FF and the few others above 0xFF.
struct ReverseTable {
    std::array<short, 0x2200> map{}; // covers U+0000..U+21FF, -1 = no form
    ReverseTable() {
        map.fill(-1);
        for (int b = 0; b < 128; ++b)
            map[b] = short(b);
        for (int b = 0; b < 128; ++b)
            map[kHighHalf[b]] = short(128 + b);
    }
};

const ReverseTable& reverseTable() {
    static const ReverseTable table;
    return table;
}

bool hasForm(char32_t c) {
    return c < 0x10000 && Cp1251::fromUnicode(char16_t(c)) >= 0;
}

// Marks that only decorate or join the letters around them: left out.
bool isDropped(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || // combining accents (the stress mark U+0301)
           (c >= 0x200B && c <= 0x200F) || // zero-width space and joiners, direction marks
           c == 0x2060 || c == 0xFEFF;     // word joiner, zero-width no-break space
}

// The nearest code-page form of a character of which Unicode says nothing helpful.
const char16_t* substitute(char32_t c) {
    switch (c) {
    case 0x2007: // figure space
    case 0x202F: // narrow no-break space
        return u"\u00A0";
    case 0x2000:
    case 0x2001:
    case 0x2002:
    case 0x2003:
    case 0x2004:
    case 0x2005:
    case 0x2006:
    case 0x2008:
    case 0x2009:
    case 0x200A:
    case 0x205F:
    case 0x3000:
        return u" ";
    case 0x2010: // hyphen
    case 0x2011: // non-breaking hyphen
    case 0x2043: // hyphen bullet
    case 0x2212: // minus sign
    case 0xFE63:
    case 0xFF0D:
        return u"-";
    case 0x2012: // figure dash
        return u"\u2013";
    case 0x2015: // horizontal bar
    case 0x2E3A:
    case 0x2E3B:
        return u"\u2014";
    case 0x00B4:
    case 0x2032:
    case 0x201B:
    case 0x2035:
        return u"'";
    case 0x2033:
    case 0x201F:
    case 0x2036:
    case 0x02DD:
        return u"\"";
    case 0x2024:
        return u".";
    case 0x2025:
        return u"..";
    case 0x22EF:
    case 0x2E2E:
        return u"\u2026";
    case 0x2044:
    case 0x2215:
        return u"/";
    case 0x00D7:
        return u"x";
    case 0x00DF:
        return u"ss";
    case 0x00C6:
        return u"AE";
    case 0x00E6:
        return u"ae";
    case 0x0152:
        return u"OE";
    case 0x0153:
        return u"oe";
    case 0x00D8:
        return u"O";
    case 0x00F8:
        return u"o";
    case 0x0141:
        return u"L";
    case 0x0142:
        return u"l";
    case 0x0110:
    case 0x00D0:
        return u"D";
    case 0x0111:
    case 0x00F0:
        return u"d";
    case 0x0131:
        return u"i";
    default:
        return nullptr;
    }
}

// Appends the nearest storable form of `c`; false, with nothing appended, when it has
// none. Unicode's decomposition gives a letter's base letter and accents (é: e and
// U+0301, which is dropped) and the plain forms of many others (a wide letter).
bool appendNearest(char32_t c, QString* out, int depth) {
    if (hasForm(c)) {
        out->append(QChar(char16_t(c)));
        return true;
    }
    if (isDropped(c))
        return true;
    if (const char16_t* form = substitute(c)) {
        out->append(QString::fromUtf16(form));
        return true;
    }
    const QString parts = QChar::decomposition(c);
    if (parts.isEmpty() || depth > 8)
        return false;
    const qsizetype mark = out->size();
    for (char32_t part : parts.toUcs4()) {
        if (!appendNearest(part, out, depth + 1)) {
            out->truncate(mark);
            return false;
        }
    }
    return true;
}

template <typename Visit> void forEachCharacter(QStringView text, Visit visit) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        visit(c);
    }
}

} // namespace

namespace Cp1251 {

char16_t toUnicode(unsigned char byte) {
    return byte < 128 ? char16_t(byte) : kHighHalf[byte - 128];
}

int fromUnicode(char16_t ch) {
    const auto& table = reverseTable();
    if (ch < table.map.size())
        return table.map[ch];
    return -1;
}

QString decode(QByteArrayView bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    auto* dst = reinterpret_cast<char16_t*>(out.data());
    const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char b = src[i];
        dst[i] = b < 128 ? char16_t(b) : kHighHalf[b - 128];
    }
    return out;
}

QByteArray encode(QStringView text) {
    const auto& table = reverseTable();
    QByteArray out(text.size(), Qt::Uninitialized);
    char* dst = out.data();
    qsizetype n = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t ch = text[i].unicode();
        if (ch < 128) {
            dst[n++] = char(ch);
            continue;
        }
        const int b = ch < table.map.size() ? table.map[ch] : -1;
        if (b >= 0) {
            dst[n++] = char(b);
        } else {
            // A surrogate pair is one character: one '?'.
            if (QChar::isHighSurrogate(ch) && i + 1 < size && text[i + 1].isLowSurrogate())
                ++i;
            dst[n++] = '?';
        }
    }
    out.truncate(n);
    return out;
}

QString storable(QStringView text) {
    qsizetype first = 0;
    while (first < text.size() && fromUnicode(text[first].unicode()) >= 0)
        ++first;
    if (first == text.size())
        return text.toString(); // the usual case: nothing to change
    // Composed first, so a letter written as a base and a mark the code page has as
    // one letter (и and U+0306: й) stays that letter.
    const QString composed = text.toString().normalized(QString::NormalizationForm_C);
    QString out;
    out.reserve(composed.size());
    forEachCharacter(composed, [&out](char32_t c) {
        if (!appendNearest(c, &out, 0))
            out.append(QString::fromUcs4(&c, 1));
    });
    return out;
}

QByteArray encodeStorable(QStringView text) {
    return encode(storable(text));
}

QStringList missingCharacters(QStringView text, int limit) {
    QStringList found;
    forEachCharacter(text, [&found, limit](char32_t c) {
        if (found.size() >= limit || hasForm(c))
            return;
        const QString character = QString::fromUcs4(&c, 1);
        if (!found.contains(character))
            found.append(character);
    });
    return found;
}

} // namespace Cp1251
