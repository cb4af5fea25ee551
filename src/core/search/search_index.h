#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// One place of a book where a query stands: its CR LF offset and length (the matched
// words, so the reader can select them) and a snippet of the text around it, as HTML
// with the query's words in bold and as plain text.
struct SearchPlace {
    qint64 offset = 0;
    int length = 0;
    QString snippet;
    QString text;
};

struct SearchBook {
    QString name;
    int placeCount = 0;
    SearchPlace best; // the place where the query's words stand nearest
};

// What a search or a listing of places met besides its results.
struct SearchOutcome {
    bool cut = false;       // the query was longer than SearchQuery::kMaxWords words
    bool damaged = false;   // the index is damaged: nothing could be found
    bool cancelled = false; // given up part-way: the results are incomplete
};

struct SearchResult : SearchOutcome {
    QList<SearchBook> books; // best first
    qint64 placeCount = 0;
};

struct SearchPlaces : SearchOutcome {
    QList<SearchPlace> listed; // the first kMaxListedPlaces, in text order
    qint64 count = 0;          // all of them
};

// Searches a library's index (read only; the indexer writes it). Any text is a query:
// see SearchQuery. A missing index finds nothing; a damaged one finds nothing and says
// so. Book files are read for snippets as ordinary files only (RegularFile).
class SearchIndex {
public:
    explicit SearchIndex(const QString& location);
    ~SearchIndex();

    // Asked now and then during a long search; returning true gives the search up.
    using Cancel = std::function<bool()>;

    // A book's places listed at most (a book may hold hundreds of thousands).
    static constexpr int kMaxListedPlaces = 2000;

    // The index of a library folder: in the user's cache folder, named by the folder's
    // absolute path; never inside the library folder.
    static QString locationFor(const QString& libraryFolder);

    // Takes in what the indexer has committed since (or an index made anew).
    void reopen();
    int bookCount();

    // The books holding the query, best first, with their best places' snippets for the
    // first `snippetBooks`.
    SearchResult search(const QString& query, int snippetBooks = 50, const Cancel& cancel = {});
    // The places of the query in one book, in text order, with snippets.
    SearchPlaces places(const QString& query, const QString& name, const Cancel& cancel = {});

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
