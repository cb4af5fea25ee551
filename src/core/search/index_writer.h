#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <memory>

// Writes a library's search index. Opening takes the engine's write lock, so two
// processes never write one index; an index that is damaged or of another format is
// removed and created anew (`rebuilt()` tells). Failures throw TomeriaError with the
// line the search window shows; the book files are only ever read.
class IndexWriter {
public:
    explicit IndexWriter(const QString& location);
    ~IndexWriter();

    bool rebuilt() const { return m_rebuilt; }
    // The stamp (size and time) each indexed book had when it was indexed, by name.
    QHash<QString, QString> stamps() const;
    // Indexes (or re-indexes) a book from its file; returns the bytes read. A book whose
    // file is missing is removed. Setting `stop` abandons the book part-way, leaving the
    // index as it was (the program is closing).
    qint64 indexBook(const QString& name, const QString& path,
                     const std::atomic_bool* stop = nullptr);
    void removeBook(const QString& name);
    // Makes the changes visible to searches.
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    bool m_rebuilt = false;
};
