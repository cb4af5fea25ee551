#include "core/search/search_query.h"

#include <algorithm>

namespace {

// The words of one piece of the query, folded and in order, at most `room` of them
// (`cut` set when more were there).
std::vector<std::string> foldedWords(const QString& piece, int room, bool& cut) {
    std::vector<std::string> words;
    BookWords::split(BookWords::encodeQuery(piece), 0, 0, [&](const BookWords::Word& word) {
        if (int(words.size()) >= room) {
            cut = true;
            return false;
        }
        words.emplace_back(word.folded);
        return true;
    });
    return words;
}

bool samePart(const SearchQuery::Part& a, const SearchQuery::Part& b) {
    return a.kind == b.kind && a.excluded == b.excluded && a.terms == b.terms;
}

} // namespace

SearchQuery SearchQuery::parse(const QString& text, BookWords::Stemmer& stemmer) {
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
        const std::vector<std::string> folded =
            foldedWords(body, SearchQuery::kMaxWords - words, query.cut);
        if (folded.empty())
            return;
        words += int(folded.size());
        Part part;
        part.excluded = excluded;
        if (prefix && folded.size() == 1 && !query.cut) {
            part.kind = Part::Kind::Prefix;
            part.terms.push_back(BookWords::Stemmer::utf8(folded.front()));
            for (std::string& stem : stemmer.shorterStems(folded.front()))
                part.terms.push_back(std::move(stem));
        } else {
            part.kind = folded.size() == 1 ? Part::Kind::Word : Part::Kind::Phrase;
            for (const std::string& word : folded)
                part.terms.push_back(stemmer.stem(word));
        }
        for (const Part& earlier : query.parts) {
            if (samePart(earlier, part))
                return;
        }
        if (!part.excluded && part.kind != Part::Kind::Prefix)
            query.m_wantedStems.insert(part.terms.begin(), part.terms.end());
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
            q = Xapian::Query(part.terms.front());
            break;
        case Part::Kind::Phrase:
            q = Xapian::Query(Xapian::Query::OP_PHRASE, part.terms.begin(), part.terms.end(),
                              Xapian::termcount(part.terms.size()));
            break;
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
