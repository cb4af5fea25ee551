#include "core/search/search_index.h"

#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/search/book_words.h"
#include "core/search/index_folder.h"
#include "core/search/index_format.h"
#include "core/search/search_query.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <xapian.h>

#include <algorithm>

namespace {

constexpr int kNear = 12;             // words: parts this close count as near each other
constexpr qint64 kSnippetBefore = 40; // bytes of text shown before a place
constexpr qint64 kSnippetAfter = 110; // and after it

struct Occurrence {
    Xapian::termpos position = 0;
    Xapian::termpos span = 1; // words
    int part = 0;
};

// Reads the words of one book file at their positions.
class BookReader {
public:
    // The book's file is read as an ordinary file only: a FIFO or a device put in its
    // place is never waited on or read without end, and gives no snippets.
    explicit BookReader(const Xapian::Document& doc)
        : m_checkpoints(IndexFormat::decodeCheckpoints(doc.get_data())) {
        const QString path = QFile::decodeName(doc.get_value(IndexFormat::PathSlot).c_str());
        if (doc.get_value(IndexFormat::ConvertedSlot) == "1") {
            QByteArray bytes;
            if (RegularFile::read(path, RegularFile::kMaxSize, bytes) != RegularFile::Status::Read)
                return;
            bool converted = false;
            m_image = IndexFormat::bookImage(bytes, &converted);
            m_whole = true;
            m_size = m_image.size();
        } else if (RegularFile::open(path, RegularFile::kMaxSize, m_file) ==
                   RegularFile::Status::Read) {
            m_size = m_file.size();
        }
    }

    QByteArray bytes(qint64 from, qint64 length) {
        from = std::clamp<qint64>(from, 0, m_size);
        length = std::clamp<qint64>(length, 0, m_size - from);
        if (m_whole)
            return m_image.mid(from, length);
        if (!m_file.isOpen() || !m_file.seek(from))
            return {};
        return m_file.read(length);
    }
    qint64 size() const { return m_size; }

    // The word at a position (1 is the first), found from the checkpoint before it.
    bool locate(Xapian::termpos position, BookWords::Word& out) {
        const size_t point = (position - 1) / IndexFormat::kCheckpointEvery;
        if (position == 0 || point >= m_checkpoints.size())
            return false;
        // Plain variables, not a structured binding: the lambda below captures them.
        const qint64 byte = m_checkpoints[point].first;
        const qint64 offset = m_checkpoints[point].second;
        int skip = int((position - 1) % IndexFormat::kCheckpointEvery);
        for (qint64 window = 4096;; window *= 4) {
            const QByteArray text = bytes(byte, window);
            const bool whole = byte + text.size() >= m_size;
            int seen = 0;
            bool found = false;
            BookWords::split(text, byte, offset, [&](const BookWords::Word& word) {
                if (seen++ < skip)
                    return true;
                // A word touching the window's end may go on beyond it.
                if (!whole && word.byte + word.length >= byte + text.size())
                    return false;
                out = word;
                out.folded = {};
                found = true;
                return false;
            });
            if (found || whole)
                return found;
        }
    }

    // The snippet around the words from `first` to `last`: as HTML with the wanted words
    // in bold, and as plain text.
    void snippet(const BookWords::Word& first, const BookWords::Word& last,
                 const SearchQuery& query, BookWords::Stemmer& stemmer, SearchPlace& out) {
        const qint64 placeEnd = last.byte + last.length;
        qint64 from = std::max<qint64>(0, first.byte - kSnippetBefore);
        const QByteArray text = bytes(from, placeEnd + kSnippetAfter - from);
        if (text.isEmpty())
            return;
        const qint64 end = from + text.size();
        const bool* isWord = BookWords::wordTable();
        auto at = [&](qint64 byte) { return static_cast<unsigned char>(text[byte - from]); };
        qint64 start = from;
        if (start > 0) { // no partial word at the start
            while (start < first.byte && start < end && isWord[at(start)])
                ++start;
        }
        qint64 stop = end;
        if (stop < size()) {
            while (stop > placeEnd && stop > start && isWord[at(stop - 1)])
                --stop;
        }
        QString html;
        QString plainText;
        if (start > 0) {
            html += QStringLiteral("…");
            plainText += QStringLiteral("…");
        }
        qint64 cursor = start;
        bool lastSpace = true;
        auto plain = [&](qint64 a, qint64 b) {
            for (qint64 i = a; i < b; ++i) {
                const QChar ch(Cp1251::toUnicode(at(i)));
                if (ch.isSpace() || ch.unicode() < 0x20) {
                    if (!lastSpace) {
                        html += QLatin1Char(' ');
                        plainText += QLatin1Char(' ');
                    }
                    lastSpace = true;
                } else {
                    html += QString(ch).toHtmlEscaped();
                    plainText += ch;
                    lastSpace = false;
                }
            }
        };
        BookWords::split(
            QByteArrayView(text).sliced(start - from, stop - start), start, 0,
            [&](const BookWords::Word& word) {
                plain(cursor, word.byte);
                const QString shown =
                    Cp1251::decode(QByteArrayView(text).sliced(word.byte - from, word.length));
                const bool inPlace = word.byte >= first.byte && word.byte < placeEnd;
                if (inPlace || query.wants(word.folded, stemmer))
                    html += QStringLiteral("<b>") + shown.toHtmlEscaped() + QStringLiteral("</b>");
                else
                    html += shown.toHtmlEscaped();
                plainText += shown;
                lastSpace = false;
                cursor = word.byte + word.length;
                return true;
            });
        plain(cursor, stop);
        if (stop < size()) {
            html += QStringLiteral("…");
            plainText += QStringLiteral("…");
        }
        out.snippet = std::move(html);
        out.text = std::move(plainText);
    }

private:
    QFile m_file;
    IndexFormat::Checkpoints m_checkpoints;
    QByteArray m_image;
    bool m_whole = false;
    qint64 m_size = 0;
};

std::vector<Xapian::termpos> positions(const Xapian::Database& db, Xapian::docid doc,
                                       const std::string& term) {
    std::vector<Xapian::termpos> out;
    for (auto it = db.positionlist_begin(doc, term); it != db.positionlist_end(doc, term); ++it)
        out.push_back(*it);
    return out;
}

// The positions of any of the stems, in order (a word's forms: one stem a position).
std::vector<Xapian::termpos> positions(const Xapian::Database& db, Xapian::docid doc,
                                       const std::vector<std::string>& stems) {
    if (stems.size() == 1)
        return positions(db, doc, stems.front());
    std::vector<Xapian::termpos> out;
    for (const std::string& stem : stems) {
        const std::vector<Xapian::termpos> more = positions(db, doc, stem);
        out.insert(out.end(), more.begin(), more.end());
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// The index's terms a prefix stands for: those beginning with it, most frequent first, as
// many as the engine's query expands it to, and its shorter stems; by part of the query
// (empty for other parts).
using Expansions = std::vector<std::vector<std::string>>;
Expansions expand(const Xapian::Database& db, const SearchQuery& query) {
    Expansions out(query.parts.size());
    for (size_t i = 0; i < query.parts.size(); ++i) {
        const SearchQuery::Part& part = query.parts[i];
        if (part.excluded || part.kind != SearchQuery::Part::Kind::Prefix)
            continue;
        std::vector<std::pair<Xapian::doccount, std::string>> terms;
        const std::string& prefix = part.terms.front();
        for (auto it = db.allterms_begin(prefix); it != db.allterms_end(prefix); ++it)
            terms.emplace_back(it.get_termfreq(), *it);
        const size_t kept = std::min(terms.size(), size_t(SearchQuery::kMaxPrefixTerms));
        std::partial_sort(terms.begin(), terms.begin() + kept, terms.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        for (size_t k = 0; k < kept; ++k)
            out[i].push_back(std::move(terms[k].second));
        for (size_t k = 1; k < part.terms.size(); ++k) {
            if (db.term_exists(part.terms[k]))
                out[i].push_back(part.terms[k]);
        }
    }
    return out;
}

// Where each wanted part of the query stands in one book, in text order.
std::vector<Occurrence> occurrences(const Xapian::Database& db, Xapian::docid doc,
                                    const SearchQuery& query, const Expansions& expansions) {
    std::vector<Occurrence> out;
    for (size_t i = 0; i < query.parts.size(); ++i) {
        const SearchQuery::Part& part = query.parts[i];
        if (part.excluded)
            continue;
        const int index = int(i);
        switch (part.kind) {
        case SearchQuery::Part::Kind::Word:
            for (const Xapian::termpos p : positions(db, doc, part.terms))
                out.push_back({p, 1, index});
            break;
        case SearchQuery::Part::Kind::Phrase: {
            std::vector<std::vector<Xapian::termpos>> lists;
            for (const std::vector<std::string>& stems : part.words)
                lists.push_back(positions(db, doc, stems));
            const auto span = Xapian::termpos(lists.size());
            for (const Xapian::termpos p : lists.front()) {
                bool all = true;
                for (size_t k = 1; k < lists.size() && all; ++k)
                    all = std::binary_search(lists[k].begin(), lists[k].end(),
                                             p + Xapian::termpos(k));
                if (all)
                    out.push_back({p, span, index});
            }
            break;
        }
        case SearchQuery::Part::Kind::Prefix:
            for (const std::string& term : expansions[i]) {
                for (const Xapian::termpos p : positions(db, doc, term))
                    out.push_back({p, 1, index});
            }
            break;
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Occurrence& a, const Occurrence& b) { return a.position < b.position; });
    return out;
}

// The index of the place where most other wanted parts stand within kNear words, the
// first of those; and that count. One pass with a window sliding over the places.
std::pair<size_t, int> nearest(const std::vector<Occurrence>& places, size_t partCount) {
    size_t best = 0;
    int bestNear = -1;
    std::vector<int> inWindow(partCount, 0); // places of each part in the window
    int distinct = 0;                        // parts with a place in the window
    size_t begin = 0;
    size_t end = 0;
    for (size_t i = 0; i < places.size(); ++i) {
        const Xapian::termpos at = places[i].position;
        while (end < places.size() && places[end].position <= at + kNear) {
            if (inWindow[places[end].part]++ == 0)
                ++distinct;
            ++end;
        }
        while (places[begin].position + kNear < at) {
            if (--inWindow[places[begin].part] == 0)
                --distinct;
            ++begin;
        }
        const int near = distinct - 1; // the place's own part is in the window
        if (near > bestNear) {
            bestNear = near;
            best = i;
        }
    }
    return {best, bestNear};
}

bool cancelled(const SearchIndex::Cancel& cancel) {
    return cancel && cancel();
}

} // namespace

struct SearchIndex::Impl {
    QString location;
    std::string path;
    Xapian::Database db;
    bool open = false;
    bool damaged = false; // the index's files could not be read
    BookWords::Stemmer stemmer;

    void openDb() {
        db = Xapian::Database();
        open = false;
        damaged = false;
        try {
            db = Xapian::Database(path);
            open = true;
        } catch (const Xapian::Error& error) {
            // Missing (not built yet) finds nothing; present but unreadable is damage.
            damaged = IndexFolder::isDamage(error) ||
                      QFileInfo::exists(location + QStringLiteral("/iamglass"));
        }
    }

    // Whether some book of the index uses a surname stem as a surname (yes when the
    // index cannot tell).
    BookWords::Stemmer::SurnameCheck surnameCheck() {
        return [this](const std::string& stem) {
            try {
                return !open || db.term_exists(IndexFormat::surnameTerm(stem));
            } catch (const Xapian::Error&) {
                return true;
            }
        };
    }

    SearchPlace place(BookReader& reader, const Occurrence& occurrence, const SearchQuery& query) {
        SearchPlace out;
        BookWords::Word first;
        BookWords::Word last;
        if (!reader.locate(occurrence.position, first))
            return out;
        last = first;
        if (occurrence.span > 1 && !reader.locate(occurrence.position + occurrence.span - 1, last))
            last = first;
        out.offset = first.offset;
        out.length = int(last.offset + last.length - first.offset);
        reader.snippet(first, last, query, stemmer, out);
        return out;
    }

    // Runs a reading step, once more after the writer changed the index meanwhile. An
    // error of a damaged index is told in `outcome`; any other engine error finds nothing.
    template <class Step> void run(SearchOutcome& outcome, Step&& step) {
        if (!open) {
            outcome.damaged = damaged;
            return;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                step();
                return;
            } catch (const Xapian::DatabaseModifiedError&) {
                try {
                    db.reopen();
                } catch (const Xapian::Error&) {
                    openDb();
                }
            } catch (const Xapian::Error& error) {
                outcome.damaged = IndexFolder::isDamage(error);
                return;
            }
        }
    }
};

SearchIndex::SearchIndex(const QString& location) : d(std::make_unique<Impl>()) {
    d->location = location;
    d->path = QFile::encodeName(location).toStdString();
    d->openDb();
}

SearchIndex::~SearchIndex() = default;

QString SearchIndex::locationFor(const QString& libraryFolder) {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString absolute = QDir::cleanPath(QDir(libraryFolder).absolutePath());
    QString name = QString::fromLatin1(QUrl::toPercentEncoding(absolute));
    if (name.size() > 200) { // file names have a length limit
        name = name.left(150) + QLatin1Char('-') +
               QString::fromLatin1(
                   QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex());
    }
    return cache + QStringLiteral("/tomeria/") + name;
}

void SearchIndex::reopen() {
    // Opened afresh: the index may have been removed and made anew.
    d->openDb();
}

int SearchIndex::bookCount() {
    try {
        return d->open ? int(d->db.get_doccount()) : 0;
    } catch (const Xapian::Error&) {
        return 0;
    }
}

SearchResult SearchIndex::search(const QString& text, int snippetBooks, const Cancel& cancel) {
    SearchResult result;
    const SearchQuery query = SearchQuery::parse(text, d->stemmer, d->surnameCheck());
    result.cut = query.cut;
    if (query.parts.empty()) {
        result.damaged = !d->open && d->damaged;
        return result;
    }
    size_t wantedParts = 0;
    for (const auto& part : query.parts)
        wantedParts += part.excluded ? 0 : 1;
    d->run(result, [&] {
        result.books.clear();
        result.placeCount = 0;
        const Expansions expansions = expand(d->db, query);
        Xapian::Enquire enquire(d->db);
        enquire.set_query(query.engineQuery());
        const Xapian::MSet matches = enquire.get_mset(0, d->db.get_doccount());
        struct Found {
            SearchBook book;
            Xapian::docid doc;
            int near;
            Occurrence best;
        };
        std::vector<Found> found;
        for (auto it = matches.begin(); it != matches.end(); ++it) {
            if (cancelled(cancel)) {
                result.cancelled = true;
                return;
            }
            const std::vector<Occurrence> places = occurrences(d->db, *it, query, expansions);
            // Exclusions alone: every other book is found, with no place in it.
            if (places.empty() && wantedParts > 0)
                continue;
            Found f{{}, *it, 0, {}};
            if (!places.empty()) {
                const auto [best, near] = nearest(places, query.parts.size());
                f.near = near;
                f.best = places[best];
            }
            f.book.name =
                QString::fromStdString(it.get_document().get_value(IndexFormat::NameSlot));
            f.book.placeCount = int(places.size());
            result.placeCount += qint64(places.size());
            found.push_back(std::move(f));
        }
        // With several words, the books where they stand near each other come first, and
        // among those the books with more places: BM25 weighs a term's places against the
        // book's length and saturates, which put a fragment with a few places above the
        // whole book with thousands. With none, by name.
        if (wantedParts > 1) {
            std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
                return a.near != b.near ? a.near > b.near : a.book.placeCount > b.book.placeCount;
            });
        } else if (wantedParts == 0) {
            std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
                return a.book.name.compare(b.book.name, Qt::CaseInsensitive) < 0;
            });
        }
        for (size_t i = 0; i < found.size(); ++i) {
            if (int(i) < snippetBooks && wantedParts > 0) {
                if (cancelled(cancel)) {
                    result.cancelled = true;
                    return;
                }
                BookReader reader(d->db.get_document(found[i].doc));
                found[i].book.best = d->place(reader, found[i].best, query);
            }
            result.books.push_back(std::move(found[i].book));
        }
    });
    return result;
}

SearchPlaces SearchIndex::places(const QString& text, const QString& name, const Cancel& cancel) {
    SearchPlaces out;
    const SearchQuery query = SearchQuery::parse(text, d->stemmer, d->surnameCheck());
    out.cut = query.cut;
    if (!query.hasWanted())
        return out;
    d->run(out, [&] {
        out.listed.clear();
        out.count = 0;
        const std::string id = IndexFormat::idTerm(name);
        const auto posting = d->db.postlist_begin(id);
        if (posting == d->db.postlist_end(id))
            return;
        const Xapian::docid doc = *posting;
        const std::vector<Occurrence> all = occurrences(d->db, doc, query, expand(d->db, query));
        out.count = qint64(all.size());
        BookReader reader(d->db.get_document(doc));
        const size_t listed = std::min(all.size(), size_t(kMaxListedPlaces));
        out.listed.reserve(qsizetype(listed));
        for (size_t i = 0; i < listed; ++i) {
            if (i % 64 == 0 && cancelled(cancel)) {
                out.cancelled = true;
                return;
            }
            out.listed.push_back(d->place(reader, all[i], query));
        }
    });
    return out;
}
