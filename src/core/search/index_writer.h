#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <memory>
#include <utility>

// Writes a library's search index. Opening takes the engine's write lock, so two
// processes never write one index. An index found damaged or of another format, at the
// opening or at any later step, is removed and created anew, empty (`takeRebuilt()`
// tells, once). What keeps the index from being written (its lock held by another copy,
// a folder that cannot be written, a full disk) throws TomeriaError with the line the
// search window shows; the book files are only ever read.
class IndexWriter {
public:
    explicit IndexWriter(const QString& location);
    ~IndexWriter();

    // Whether the index was rebuilt since the last call.
    bool takeRebuilt() { return std::exchange(m_rebuilt, false); }
    // The stamp (size and time) each indexed book had when it was indexed, by name.
    QHash<QString, QString> stamps();
    // Indexes (or re-indexes) a book from its file; returns the bytes read. A book whose
    // file is missing is removed. Setting `stop` abandons the book part-way, leaving the
    // index as it was (the program is closing).
    qint64 indexBook(const QString& name, const QString& path,
                     const std::atomic_bool* stop = nullptr);
    void removeBook(const QString& name);
    // Makes the changes visible to searches.
    void commit();
    // Whether the committed index fails the engine's check of every table (a search
    // found it damaged; it may have been made anew meanwhile).
    bool damaged() const;
    // Removes the index and creates it anew, empty.
    void rebuild();

private:
    template <class Step> void run(Step&& step);
    [[noreturn]] void fail(bool lockFailed);

    struct Impl;
    std::unique_ptr<Impl> d;
    QString m_location;
    bool m_rebuilt = false;
};
