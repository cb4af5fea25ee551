#include "core/search/book_words.h"

#include "core/base/cp1251.h"

#include <QChar>

#include <algorithm>
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

// The nominal endings a name or a noun takes (not «ов»/«ев»: a stem that ends so is a
// surname's), as code page 1251 bytes, the empty one first.
const std::vector<std::string>& nominalEndings() {
    static const std::vector<std::string> endings = [] {
        std::vector<std::string> out{std::string()};
        for (const std::string& ending :
             wordsOf("а я у ю о е и ы й ь ом ем ой ей ою ею ым им ых их ыми ими ам ям ами ями "
                     "ах ях ий ый ого его ому ему ая яя ую юю ое ее ые ие ия ию ии ием ье ья "
                     "ью ьи ьей ьем ьям ьями ьях")) {
            const QByteArray bytes = Cp1251::encode(QString::fromStdString(ending));
            out.emplace_back(bytes.constData(), size_t(bytes.size()));
        }
        return out;
    }();
    return endings;
}

bool endsInOvEv(std::string_view folded) {
    // «в» after «о» or «е» (ё is folded to е), with at least two letters before.
    if (folded.size() < 4)
        return false;
    const auto last = static_cast<unsigned char>(folded[folded.size() - 1]);
    const auto vowel = static_cast<unsigned char>(folded[folded.size() - 2]);
    return last == 0xE2 && (vowel == 0xEE || vowel == 0xE5);
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

bool Stemmer::cutsSurnameSuffix(std::string_view folded) {
    // The stem is UTF-8, two bytes a Cyrillic letter: cut at «ов» or before it.
    return endsInOvEv(folded) && stem(folded).size() + 4 <= utf8(folded).size();
}

std::string Stemmer::surnameStem(std::string_view folded) {
    std::string form(folded);
    form += char(0xE0); // а
    return stem(form);
}

std::vector<std::string> Stemmer::formStems(std::string_view folded, bool capital,
                                            const SurnameCheck& isSurname) {
    const std::string own = stem(folded);
    const std::string word = utf8(folded);
    const bool maybeSurname = cutsSurnameSuffix(folded);
    const std::string asSurname = maybeSurname ? surnameStem(folded) : std::string();
    // A known surname with a capital is only that; without one, either. An unknown one
    // is searched as a surname too when written with a capital.
    const bool known = maybeSurname && (!isSurname || isSurname(asSurname));
    std::vector<std::string> out;
    if (!(known && capital))
        out.push_back(own);
    if (known || (maybeSurname && capital))
        out.push_back(asSurname);
    const std::vector<std::string>& endings = nominalEndings();
    for (const std::string& cut : endings) {
        if (cut.size() + 2 > folded.size() || !folded.ends_with(cut))
            continue;
        const std::string_view base = folded.substr(0, folded.size() - cut.size());
        for (const std::string& ending : endings) {
            std::string form(base);
            form += ending;
            // A form in «ов»/«ев» is the word's surname form, searched as above.
            if (endsInOvEv(form) && cutsSurnameSuffix(form))
                continue;
            std::string formStem = m_stem(utf8(form));
            if (maybeSurname && formStem == asSurname)
                continue; // «столова»: decided above

            if (word.starts_with(formStem) &&
                std::find(out.begin(), out.end(), formStem) == out.end())
                out.push_back(std::move(formStem));
        }
    }
    return out;
}

BookTerms::BookTerms(Stemmer& stemmer, QByteArrayView text) : m_stemmer(stemmer) {
    // The words in «ов»/«ев» with their counts written with a capital and without.
    std::unordered_map<std::string, std::pair<int, int>> counts;
    split(text, 0, 0, [&](const Word& word) {
        if (endsInOvEv(word.folded)) {
            auto& [capital, lower] = counts[std::string(word.folded)];
            ++(word.capital ? capital : lower);
        }
        return true;
    });
    for (const auto& [folded, count] : counts) {
        // At least three times with a capital: not a plural that begins a sentence once.
        if (count.first >= 3 && count.first > count.second && m_stemmer.cutsSurnameSuffix(folded))
            m_surnames.emplace(folded, m_stemmer.surnameStem(folded));
    }
}

std::vector<std::string> BookTerms::surnameStems() const {
    std::set<std::string> stems;
    for (const auto& [folded, stem] : m_surnames)
        stems.insert(stem);
    return std::vector<std::string>(stems.begin(), stems.end());
}

const std::string& BookTerms::term(std::string_view folded) {
    if (!m_surnames.empty() && endsInOvEv(folded)) {
        const auto found = m_surnames.find(std::string(folded));
        if (found != m_surnames.end())
            return found->second;
    }
    return m_stemmer.stem(folded);
}

} // namespace BookWords
