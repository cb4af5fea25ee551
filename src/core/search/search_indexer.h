#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QThread>

#include <atomic>

class IndexWorker;
class Library;

// Keeps a library's search index in step with the library, in a worker thread of low
// priority: one book at a time, committed in batches, so no window ever waits for it.
// Searches over what is committed work all the while.
class SearchIndexer : public QObject {
    Q_OBJECT
public:
    explicit SearchIndexer(const QString& location, QObject* parent = nullptr);
    ~SearchIndexer() override;

    using Books = QList<QPair<QString, QString>>; // name, file path
    // Compares the index with the library's books: books whose file's size or time
    // changed, or that are new, are indexed; books no longer there are removed.
    void follow(const Books& books);
    // A book added or saved: indexed again. A book deleted: removed.
    void bookChanged(const QString& name, const QString& path);
    void bookRemoved(const QString& name);
    // Follows the library's changes from now on: every book added or saved is indexed
    // again, every book removed leaves the index.
    void followLibrary(const Library& library);
    // A search found the index damaged: it is removed and every book indexed anew.
    void repair();

    // Whether work is queued or in progress.
    bool busy() const { return m_handled < m_sent; }
    // Why indexing last stopped ("" once it works again), and whether the index was
    // found damaged and rebuilt: kept for a window opened afterwards.
    const QString& failure() const { return m_failure; }
    bool wasRebuilt() const { return m_rebuilt; }

Q_SIGNALS:
    void progress(int done, int total);
    // New books are searchable (after each batch).
    void committed();
    // Nothing left to do.
    void idle();
    // Indexing stopped: the reason, for the status line.
    void failed(const QString& reason);
    // The index was found damaged and is being built anew.
    void rebuilt();

private:
    std::atomic_bool m_stop{false}; // set as the indexer is destroyed
    QThread m_thread;
    IndexWorker* m_worker; // lives in m_thread
    int m_sent = 0;        // calls made
    int m_handled = 0;     // calls the worker had handled when it last went idle
    QString m_failure;
    bool m_rebuilt = false;
};
