#include "core/search/search_indexer.h"

#include "core/base/tomeria_error.h"
#include "core/library/library.h"
#include "core/search/index_format.h"
#include "core/search/index_writer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <sys/resource.h>
#include <unistd.h>

#include <deque>
#include <memory>

namespace {
// Text indexed between two commits: bigger batches make a smaller index and use more
// memory; a long batch is cut after a while so that searches see the books indexed.
constexpr qint64 kBatchBytes = 32 * 1024 * 1024;
constexpr qint64 kBatchMs = 15000;
// An index damaged again and again (a failing disk) is given up after this many rebuilds.
constexpr int kMaxRebuilds = 3;
} // namespace

// The indexer's half that runs in the worker thread. Jobs arrive as queued calls and
// are done one per event, so new jobs and the thread's end are never held up for long.
class IndexWorker : public QObject {
    Q_OBJECT
public:
    IndexWorker(QString location, const std::atomic_bool* stop)
        : m_location(std::move(location)), m_stop(stop) {}

    void follow(const SearchIndexer::Books& books) {
        ++m_requests;
        m_library.clear();
        for (const auto& [name, path] : books)
            m_library.insert(name, path);
        if (!writer()) {
            finish();
            return;
        }
        QHash<QString, QString> stored;
        try {
            stored = m_writer->stamps();
        } catch (const TomeriaError& error) {
            stop(error.message());
            return;
        }
        if (noticeRebuild())
            return;
        QSet<QString> present;
        for (const auto& [name, path] : books) {
            // The program ends: the stamps of the rest are not compared.
            if (stopping())
                return;
            present.insert(name);
            if (stored.value(name) != IndexFormat::stampOf(path) || !stored.contains(name))
                add({name, path, false});
        }
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            if (!present.contains(it.key()))
                add({it.key(), {}, true});
        }
        if (m_jobs.empty())
            finish();
        schedule();
    }

    void change(const QString& name, const QString& path, bool remove) {
        ++m_requests;
        if (remove)
            m_library.remove(name);
        else
            m_library.insert(name, path);
        add({name, path, remove});
        schedule();
    }

    // A search found the index damaged: unless it was made anew meanwhile, it is made
    // anew from the library's books.
    void repair() {
        ++m_requests;
        if (!writer() || noticeRebuild())
            return finishUnlessBusy();
        if (!m_writer->damaged())
            return finishUnlessBusy();
        try {
            m_writer->rebuild();
        } catch (const TomeriaError& error) {
            stop(error.message());
            return;
        }
        noticeRebuild();
    }

Q_SIGNALS:
    void progress(int done, int total);
    void committed();
    void idle(int requests);
    void failed(const QString& reason);
    void rebuilt();

private:
    struct Job {
        QString name;
        QString path;
        bool remove = false;
    };

    bool stopping() const { return m_stop && m_stop->load(std::memory_order_relaxed); }

    void add(Job job) {
        m_jobs.push_back(std::move(job));
        ++m_total;
    }

    IndexWriter* writer() {
        if (m_writer)
            return m_writer.get();
        try {
            m_writer = std::make_unique<IndexWriter>(m_location);
        } catch (const TomeriaError& error) {
            Q_EMIT failed(error.message());
        }
        return m_writer.get();
    }

    // After a rebuild every book of the library is indexed anew (true: so it was).
    bool noticeRebuild() {
        if (!m_writer || !m_writer->takeRebuilt())
            return false;
        if (++m_rebuilds > kMaxRebuilds) {
            stop(QStringLiteral("не удаётся построить указатель"));
            return true;
        }
        Q_EMIT rebuilt();
        m_jobs.clear();
        m_done = m_total = 0;
        for (auto it = m_library.cbegin(); it != m_library.cend(); ++it)
            add({it.key(), it.value(), false});
        if (m_jobs.empty())
            finish();
        schedule();
        return true;
    }

    void finishUnlessBusy() {
        if (m_jobs.empty())
            finish();
    }

    // Indexing stops: the index stays as last committed; the writer is dropped and
    // opened anew for the next change.
    void stop(const QString& reason) {
        m_writer.reset();
        m_jobs.clear();
        Q_EMIT failed(reason);
        finish();
    }

    void schedule() {
        if (m_scheduled || m_jobs.empty())
            return;
        m_scheduled = true;
        if (!m_batch.isValid())
            m_batch.start();
        QMetaObject::invokeMethod(this, &IndexWorker::step, Qt::QueuedConnection);
    }

    void step() {
        m_scheduled = false;
        if (m_jobs.empty() || stopping())
            return;
        const Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        try {
            if (!writer()) {
                m_jobs.clear();
                finish();
                return;
            }
            if (noticeRebuild())
                return;
            if (job.remove)
                m_writer->removeBook(job.name);
            else
                m_batchBytes += m_writer->indexBook(job.name, job.path, m_stop);
            ++m_done;
            if (noticeRebuild())
                return;
            if (m_jobs.empty() || m_batchBytes >= kBatchBytes || m_batch.elapsed() >= kBatchMs) {
                m_writer->commit();
                m_batchBytes = 0;
                m_batch.restart();
                if (noticeRebuild())
                    return;
                Q_EMIT committed();
            }
        } catch (const TomeriaError& error) {
            stop(error.message());
            return;
        }
        if (m_jobs.empty()) {
            finish();
            return;
        }
        Q_EMIT progress(m_done, m_total);
        schedule();
    }

    void finish() {
        m_done = m_total = 0;
        Q_EMIT idle(m_requests);
    }

    QString m_location;
    const std::atomic_bool* m_stop;
    std::unique_ptr<IndexWriter> m_writer;
    std::deque<Job> m_jobs;
    QHash<QString, QString> m_library; // the library's books: name, file path
    int m_rebuilds = 0;
    int m_requests = 0; // calls received from the indexer
    int m_done = 0;
    int m_total = 0;
    bool m_scheduled = false;
    qint64 m_batchBytes = 0;
    QElapsedTimer m_batch;
};

SearchIndexer::SearchIndexer(const QString& location, QObject* parent)
    : QObject(parent), m_worker(new IndexWorker(location, &m_stop)) {
    m_thread.setObjectName(QStringLiteral("search indexer"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(&m_thread, &QThread::started, m_worker, [] {
        setpriority(PRIO_PROCESS, int(gettid()), 10); // a nice thread: the windows come first
    });
    connect(m_worker, &IndexWorker::progress, this, &SearchIndexer::progress);
    connect(m_worker, &IndexWorker::failed, this, [this](const QString& reason) {
        m_failure = reason;
        Q_EMIT failed(reason);
    });
    connect(m_worker, &IndexWorker::rebuilt, this, [this] {
        m_rebuilt = true;
        m_failure.clear();
        Q_EMIT rebuilt();
    });
    connect(m_worker, &IndexWorker::committed, this, [this] {
        m_failure.clear();
        Q_EMIT committed();
    });
    connect(m_worker, &IndexWorker::idle, this, [this](int requests) {
        m_handled = requests;
        if (!busy())
            Q_EMIT idle();
    });
    m_thread.start(QThread::LowPriority);
}

SearchIndexer::~SearchIndexer() {
    m_stop = true;
    m_thread.quit();
    m_thread.wait();
}

void SearchIndexer::follow(const Books& books) {
    ++m_sent;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, books] { worker->follow(books); }, Qt::QueuedConnection);
}

void SearchIndexer::bookChanged(const QString& name, const QString& path) {
    ++m_sent;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, name, path] { worker->change(name, path, false); },
        Qt::QueuedConnection);
}

void SearchIndexer::bookRemoved(const QString& name) {
    ++m_sent;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, name] { worker->change(name, {}, true); },
        Qt::QueuedConnection);
}

void SearchIndexer::followLibrary(const Library& library) {
    connect(&library, &Library::bookAdded, this, &SearchIndexer::bookChanged);
    connect(&library, &Library::bookSaved, this, &SearchIndexer::bookChanged);
    connect(&library, &Library::bookRemoved, this,
            [this](const QString& name) { bookRemoved(name); });
}

void SearchIndexer::repair() {
    ++m_sent;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->repair(); }, Qt::QueuedConnection);
}

#include "search_indexer.moc"
