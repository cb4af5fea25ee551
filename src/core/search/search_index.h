#pragma once

#include <QList>
#include <QString>

#include <memory>

// One place of a book where a query stands: its CR LF offset and length (the matched
// words, so the reader can select them) and a snippet of the text around it as HTML,
// the query's words in bold.
struct SearchPlace {
    qint64 offset = 0;
    int length = 0;
    QString snippet;
};

struct SearchBook {
    QString name;
    int placeCount = 0;
    SearchPlace best; // the place where the query's words stand nearest
};

struct SearchResult {
    QList<SearchBook> books; // best first
    qint64 placeCount = 0;
};

// Searches a library's index (read only; the indexer writes it). Any text is a query:
// see SearchQuery. A missing or unreadable index finds nothing.
class SearchIndex {
public:
    explicit SearchIndex(const QString& location);
    ~SearchIndex();

    // The index of a library folder: in the user's cache folder, named by the folder's
    // absolute path; never inside the library folder.
    static QString locationFor(const QString& libraryFolder);

    // Takes in what the indexer has committed since.
    void reopen();
    int bookCount();

    // The books holding the query, best first, with their best places' snippets for the
    // first `snippetBooks`.
    SearchResult search(const QString& query, int snippetBooks = 50);
    // Every place of the query in one book, in text order, with snippets.
    QList<SearchPlace> places(const QString& query, const QString& name);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
