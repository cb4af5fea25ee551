#include "core/search/book_words.h"

#include "core/base/cp1251.h"

#include <QChar>

namespace BookWords {
namespace {

struct Tables {
    bool word[256];
    unsigned char fold[256];
    std::string utf8[256];
    Tables() {
        for (int b = 0; b < 256; ++b) {
            const QChar ch(Cp1251::toUnicode(static_cast<unsigned char>(b)));
            word[b] = ch.isLetterOrNumber();
            QChar lower = ch.toLower();
            if (lower == QChar(0x0451)) // ё
                lower = QChar(0x0435);  // е
            const int folded = Cp1251::fromUnicode(lower.unicode());
            fold[b] = static_cast<unsigned char>(folded < 0 ? b : folded);
            utf8[b] =
                QString(QChar(Cp1251::toUnicode(static_cast<unsigned char>(b)))).toStdString();
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

} // namespace

const bool* wordTable() {
    return tables().word;
}

const unsigned char* foldTable() {
    return tables().fold;
}

QByteArray encodeQuery(const QString& text) {
    QString unified = text;
    for (QChar& ch : unified) {
        // Characters the code page lacks separate words instead of becoming '?'.
        if (Cp1251::fromUnicode(ch.unicode()) < 0)
            ch = QLatin1Char(' ');
    }
    return Cp1251::encode(unified);
}

std::string Stemmer::utf8(std::string_view folded) {
    std::string out;
    out.reserve(folded.size() * 2);
    for (const char c : folded)
        out += tables().utf8[static_cast<unsigned char>(c)];
    return out;
}

const std::string& Stemmer::stem(std::string_view folded) {
    const auto found = m_cache.find(folded);
    if (found != m_cache.end())
        return found->second;
    if (m_cache.size() > 500000)
        m_cache.clear();
    return m_cache.emplace(std::string(folded), m_stem(utf8(folded))).first->second;
}

} // namespace BookWords
