#include "core/search/search_runner.h"

#include <memory>

// The runner's half in the worker thread: it owns the index it reads (the engine's
// handles are not shared between threads).
class SearchWorker : public QObject {
public:
    SearchWorker(const QString& location, SearchRunner* runner)
        : m_location(location), m_runner(runner) {}

    void search(int request, const QString& query) {
        if (given(request))
            return;
        SearchResult result = index().search(query, 50, [=, this] { return given(request); });
        if (result.cancelled || given(request))
            return;
        QMetaObject::invokeMethod(
            m_runner,
            [runner = m_runner, request, result = std::move(result)] {
                Q_EMIT runner->found(request, result);
            },
            Qt::QueuedConnection);
    }

    // A listing belongs to the search made before it, and is given up with it.
    void places(int request, int search, const QString& query, const QString& name) {
        if (given(search))
            return;
        SearchPlaces places = index().places(query, name, [=, this] { return given(search); });
        if (places.cancelled || given(search))
            return;
        QMetaObject::invokeMethod(
            m_runner,
            [runner = m_runner, request, name, places = std::move(places)] {
                Q_EMIT runner->placesFound(request, name, places);
            },
            Qt::QueuedConnection);
    }

    void reopen() {
        if (m_index)
            m_index->reopen();
    }

private:
    // Whether a request was given up: a newer search was made since `search`.
    bool given(int search) const {
        return m_runner->m_search.load(std::memory_order_relaxed) != search;
    }
    SearchIndex& index() {
        if (!m_index)
            m_index = std::make_unique<SearchIndex>(m_location);
        return *m_index;
    }

    QString m_location;
    SearchRunner* m_runner;
    std::unique_ptr<SearchIndex> m_index;
};

SearchRunner::SearchRunner(const QString& location, QObject* parent)
    : QObject(parent), m_worker(new SearchWorker(location, this)) {
    m_thread.setObjectName(QStringLiteral("search"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

SearchRunner::~SearchRunner() {
    m_search = -1; // gives up what runs
    m_thread.quit();
    m_thread.wait();
}

int SearchRunner::search(const QString& query) {
    const int request = ++m_next;
    m_search = request;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, request, query] { worker->search(request, query); },
        Qt::QueuedConnection);
    return request;
}

int SearchRunner::places(const QString& query, const QString& name) {
    const int request = ++m_next;
    const int search = m_search;
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, request, search, query, name] {
            worker->places(request, search, query, name);
        },
        Qt::QueuedConnection);
    return request;
}

void SearchRunner::reopen() {
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->reopen(); }, Qt::QueuedConnection);
}
