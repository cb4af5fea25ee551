#include "core/search/book_words.h"

#include "core/base/cp1251.h"

#include <QChar>

#include <set>
#include <sstream>

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

std::vector<std::string> wordsOf(const char* text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

// The endings the Russian stemmer takes off a word, in the chains it takes them off
// together (a participle's suffix or a superlative's before an adjective's ending, a noun's
// after «ост», a reflexive after any), then every tail of those chains: the letters a
// word can go on with after a prefix when its stem ends inside that prefix.
const std::vector<std::string>& endingTails() {
    static const std::vector<std::string> tails = [] {
        const auto adjective = wordsOf("ее ие ые ое ими ыми ей ий ый ой ем им ым ом его ого "
                                       "ему ому их ых ую юю ая яя ою ею");
        const auto participle = wordsOf("ем нн вш ющ щ ивш ывш ующ ейш");
        const auto noun = wordsOf("а ев ов ие ье е иями ями ами еи ии и ией ей ой ий й иям ям "
                                  "ием ем ам ом о у ах иях ях ы ь ию ью ю ия ья я");
        std::vector<std::string> chains = wordsOf(
            // verbs
            "ла на ете йте ли й л ем н ло но ет ют ны ть ешь нно ила ыла ена ейте уйте ите "
            "или ыли ей уй ил ыл им ым ен ило ыло ено ят ует уют ит ыт ены ить ыть ишь ую ю "
            // perfective gerunds, and what nouns of quality end in
            "в вши вшись ив ивши ившись ыв ывши ывшись ост ость");
        for (const std::string& ending : adjective) {
            chains.push_back(ending);
            for (const std::string& suffix : participle)
                chains.push_back(suffix + ending);
        }
        for (const std::string& ending : noun) {
            chains.push_back(ending);
            chains.push_back("ост" + ending);
            chains.push_back("ость" + ending);
        }
        std::set<std::string> out{std::string()};
        for (const std::string& chain : chains) {
            for (const std::string& whole : {chain, chain + "ся", chain + "сь"}) {
                for (size_t i = 0; i < whole.size(); ++i) {
                    if ((static_cast<unsigned char>(whole[i]) & 0xC0) != 0x80) // a letter's start
                        out.insert(whole.substr(i));
                }
            }
        }
        return std::vector<std::string>(out.begin(), out.end());
    }();
    return tails;
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

std::vector<std::string> Stemmer::shorterStems(std::string_view prefix) {
    const std::string start = utf8(prefix);
    std::set<std::string> stems;
    for (const std::string& tail : endingTails()) {
        // Not through the cache: these are mostly no words at all.
        std::string stem = m_stem(start + tail);
        if (stem.size() < start.size())
            stems.insert(std::move(stem));
    }
    return std::vector<std::string>(stems.begin(), stems.end());
}

} // namespace BookWords
