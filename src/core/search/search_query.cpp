#include "core/search/search_query.h"

#include <algorithm>

namespace {

struct QueryWord {
    std::string folded;
    bool capital = false;
};

// The words of one piece of the query, folded and in order, at most `room` of them
// (`cut` set when more were there).
std::vector<QueryWord> foldedWords(const QString& piece, int room, bool& cut) {
    std::vector<QueryWord> words;
    BookWords::split(BookWords::encodeQuery(piece), 0, 0, [&](const BookWords::Word& word) {
        if (int(words.size()) >= room) {
            cut = true;
            return false;
        }
        words.push_back({std::string(word.folded), word.capital});
        return true;
    });
    return words;
}

bool samePart(const SearchQuery::Part& a, const SearchQuery::Part& b) {
    return a.kind == b.kind && a.excluded == b.excluded && a.terms == b.terms && a.words == b.words;
}

// Any of the stems given, as one term for the ranking.
Xapian::Query anyOf(const std::vector<std::string>& stems) {
    if (stems.size() == 1)
        return Xapian::Query(stems.front());
    return Xapian::Query(Xapian::Query::OP_SYNONYM, stems.begin(), stems.end());
}

} // namespace

SearchQuery SearchQuery::parse(const QString& text, BookWords::Stemmer& stemmer,
                               const BookWords::Stemmer::SurnameCheck& isSurname) {
    SearchQuery query;
    int words = 0;
    auto addPart = [&](const QString& piece, bool phrase, bool excluded) {
        QString body = piece;
        bool prefix = false;
        if (!phrase) {
            while (body.endsWith(QLatin1Char('*'))) {
                body.chop(1);
                prefix = true;
            }
        }
        const std::vector<QueryWord> folded =
            foldedWords(body, SearchQuery::kMaxWords - words, query.cut);
        if (folded.empty())
            return;
        words += int(folded.size());
        Part part;
        part.excluded = excluded;
        if (prefix && folded.size() == 1 && !query.cut) {
            part.kind = Part::Kind::Prefix;
            part.terms.push_back(BookWords::Stemmer::utf8(folded.front().folded));
            for (std::string& stem : stemmer.shorterStems(folded.front().folded))
                part.terms.push_back(std::move(stem));
        } else if (folded.size() == 1) {
            part.kind = Part::Kind::Word;
            part.terms =
                stemmer.formStems(folded.front().folded, folded.front().capital, isSurname);
        } else {
            part.kind = Part::Kind::Phrase;
            for (const QueryWord& word : folded)
                part.words.push_back(stemmer.formStems(word.folded, word.capital, isSurname));
        }
        for (const Part& earlier : query.parts) {
            if (samePart(earlier, part))
                return;
        }
        if (!part.excluded) {
            if (part.kind == Part::Kind::Word)
                query.m_wantedStems.insert(part.terms.begin(), part.terms.end());
            for (const std::vector<std::string>& stems : part.words)
                query.m_wantedStems.insert(stems.begin(), stems.end());
        }
        query.parts.push_back(std::move(part));
    };

    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && !query.cut) {
        if (text[i].isSpace()) {
            ++i;
            continue;
        }
        bool excluded = false;
        if (text[i] == QLatin1Char('-') && i + 1 < n && !text[i + 1].isSpace()) {
            excluded = true;
            ++i;
        }
        if (text[i] == QLatin1Char('"')) {
            const qsizetype close = text.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? n : close;
            addPart(text.mid(i + 1, end - i - 1), true, excluded);
            i = end + 1;
            continue;
        }
        qsizetype end = i;
        while (end < n && !text[end].isSpace() && text[end] != QLatin1Char('"'))
            ++end;
        // A word holding separators ("кто-то", "1.5") is a phrase of its words.
        addPart(text.mid(i, end - i), false, excluded);
        i = end;
    }
    return query;
}

bool SearchQuery::hasWanted() const {
    for (const Part& part : parts) {
        if (!part.excluded)
            return true;
    }
    return false;
}

Xapian::Query SearchQuery::engineQuery() const {
    std::vector<Xapian::Query> wanted;
    std::vector<Xapian::Query> unwanted;
    for (const Part& part : parts) {
        Xapian::Query q;
        switch (part.kind) {
        case Part::Kind::Word:
            q = anyOf(part.terms);
            break;
        case Part::Kind::Phrase: {
            std::vector<Xapian::Query> words;
            for (const std::vector<std::string>& stems : part.words)
                words.push_back(stems.size() == 1 ? Xapian::Query(stems.front())
                                                  : Xapian::Query(Xapian::Query::OP_OR,
                                                                  stems.begin(), stems.end()));
            q = Xapian::Query(Xapian::Query::OP_PHRASE, words.begin(), words.end(),
                              Xapian::termcount(words.size()));
            break;
        }
        case Part::Kind::Prefix: {
            std::vector<Xapian::Query> any{
                Xapian::Query(Xapian::Query::OP_WILDCARD, part.terms.front(), kMaxPrefixTerms,
                              Xapian::Query::WILDCARD_LIMIT_MOST_FREQUENT)};
            for (size_t i = 1; i < part.terms.size(); ++i)
                any.emplace_back(part.terms[i]);
            q = Xapian::Query(Xapian::Query::OP_OR, any.begin(), any.end());
            break;
        }
        }
        (part.excluded ? unwanted : wanted).push_back(q);
    }
    Xapian::Query all = wanted.empty()
                            ? Xapian::Query::MatchAll
                            : Xapian::Query(Xapian::Query::OP_AND, wanted.begin(), wanted.end());
    if (unwanted.empty())
        return all;
    return Xapian::Query(Xapian::Query::OP_AND_NOT, all,
                         Xapian::Query(Xapian::Query::OP_OR, unwanted.begin(), unwanted.end()));
}

bool SearchQuery::wants(std::string_view folded, BookWords::Stemmer& stemmer) const {
    const std::string& stem = stemmer.stem(folded);
    if (m_wantedStems.contains(stem))
        return true;
    if (stemmer.cutsSurnameSuffix(folded) && m_wantedStems.contains(stemmer.surnameStem(folded)))
        return true;
    for (const Part& part : parts) {
        if (part.excluded || part.kind != Part::Kind::Prefix)
            continue;
        const std::string& prefix = part.terms.front();
        if (stem.starts_with(prefix) || BookWords::Stemmer::utf8(folded).starts_with(prefix) ||
            std::find(part.terms.begin() + 1, part.terms.end(), stem) != part.terms.end())
            return true;
    }
    return false;
}
