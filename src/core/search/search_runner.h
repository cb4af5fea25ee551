#pragma once

#include "core/search/search_index.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

class SearchWorker;

// Runs searches and listings of places in a worker thread of its own, so that no
// query, however long, holds up a window. A newer search gives up every request made
// before it; the answers of requests given up are never delivered.
class SearchRunner : public QObject {
    Q_OBJECT
public:
    explicit SearchRunner(const QString& location, QObject* parent = nullptr);
    ~SearchRunner() override;

    // Each returns the request's number, which its answer carries.
    int search(const QString& query);
    int places(const QString& query, const QString& name);
    // Gives up every request made so far.
    void cancel() { m_search = ++m_next; }
    // Takes in what the indexer has committed (queued behind the requests made).
    void reopen();

Q_SIGNALS:
    void found(int request, const SearchResult& result);
    void placesFound(int request, const QString& name, const SearchPlaces& places);

private:
    friend class SearchWorker;
    std::atomic_int m_search{0}; // the newest search's request number
    int m_next = 0;              // the last request number given
    QThread m_thread;
    SearchWorker* m_worker; // lives in m_thread
};
