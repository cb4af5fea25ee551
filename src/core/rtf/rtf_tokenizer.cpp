#include "core/rtf/rtf_tokenizer.h"

#include <limits>

namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

RtfTokenizer::Token RtfTokenizer::next() {
    const char* d = m_data.data();
    const qsizetype n = m_data.size();
    Token t;
    // Line ends and NUL bytes carry no meaning in RTF source.
    while (m_pos < n && (d[m_pos] == '\r' || d[m_pos] == '\n' || d[m_pos] == '\0'))
        ++m_pos;
    if (m_pos >= n)
        return t;

    const char c = d[m_pos];
    if (c == '{') {
        ++m_pos;
        t.kind = Kind::GroupStart;
        return t;
    }
    if (c == '}') {
        ++m_pos;
        t.kind = Kind::GroupEnd;
        return t;
    }
    if (c != '\\') {
        const qsizetype start = m_pos;
        while (m_pos < n) {
            const char x = d[m_pos];
            if (x == '{' || x == '}' || x == '\\' || x == '\r' || x == '\n' || x == '\0')
                break;
            ++m_pos;
        }
        t.kind = Kind::Text;
        t.word = m_data.sliced(start, m_pos - start);
        return t;
    }

    ++m_pos; // the backslash
    if (m_pos >= n) {
        t.kind = Kind::ControlSymbol;
        t.symbol = '\\';
        return t;
    }
    const char s = d[m_pos];
    if (!isLetter(s)) {
        ++m_pos;
        if (s == '\'') {
            const int hi = m_pos < n ? hexValue(d[m_pos]) : -1;
            const int lo = m_pos + 1 < n ? hexValue(d[m_pos + 1]) : -1;
            if (hi >= 0 && lo >= 0) {
                m_pos += 2;
                t.kind = Kind::HexByte;
                t.byte = static_cast<unsigned char>(hi * 16 + lo);
                return t;
            }
            // A truncated escape: drop it with what there is of its digits.
            if (hi >= 0)
                ++m_pos;
            t.kind = Kind::ControlSymbol;
            t.symbol = 0;
            return t;
        }
        t.kind = Kind::ControlSymbol;
        t.symbol = (s == '\r' || s == '\n') ? '\n' : s;
        return t;
    }

    const qsizetype start = m_pos;
    while (m_pos < n && isLetter(d[m_pos]) && m_pos - start < 32)
        ++m_pos;
    t.kind = Kind::ControlWord;
    t.word = m_data.sliced(start, m_pos - start);
    bool negative = false;
    if (m_pos < n && d[m_pos] == '-' && m_pos + 1 < n && isDigit(d[m_pos + 1])) {
        negative = true;
        ++m_pos;
    }
    if (m_pos < n && isDigit(d[m_pos])) {
        long long value = 0;
        int digits = 0;
        while (m_pos < n && isDigit(d[m_pos])) {
            if (digits < 10)
                value = value * 10 + (d[m_pos] - '0');
            ++digits;
            ++m_pos;
        }
        if (value > std::numeric_limits<int>::max())
            value = std::numeric_limits<int>::max();
        t.hasParameter = true;
        t.parameter = int(negative ? -value : value);
    }
    if (m_pos < n && d[m_pos] == ' ')
        ++m_pos; // the delimiting blank belongs to the control word

    if (t.word == "bin" && t.hasParameter) {
        // Raw bytes follow; a count past the end takes what is there.
        const qsizetype count = t.parameter < 0 ? 0 : qMin<qsizetype>(t.parameter, n - m_pos);
        t.kind = Kind::Binary;
        t.word = m_data.sliced(m_pos, count);
        m_pos += count;
    }
    return t;
}
