#pragma once

#include "core/library/import_source.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <memory>

class Library;

// Adding every book of a folder (or of several dropped files) to the library in the
// background. Files are read and converted on worker threads, one per core; one writer
// thread writes each new book file under a hidden name; this object, on the thread of
// the library, takes the books written in batches (every 0.75 s and at the end): gives
// each its name, puts its file in place and adds its row, stores the catalogue, then
// tells the list. So a row is listed only once its file is in place, a book's file
// waits under its own name only for the moment of a store, and after a stop, a full
// disk, the end of the program or a kill every row has its file. A failure to store
// the catalogue takes back the rows and files the catalogue on disk does not list.
class BulkImport : public QObject {
    Q_OBJECT
public:
    enum class Reason { NotABook, TooBig, Duplicate, ReadError, TooDeep, TooMany };
    struct NotAdded {
        QString source;
        Reason reason = Reason::NotABook;
        QString duplicateOf;     // the book it repeats
        int order = 0;           // the file's place among the files found
        int duplicateOfSeq = -1; // a book of this import it repeats, named when placed
        int count = 0;           // TooMany: the members left unread
    };
    struct Counts {
        int found = 0; // files found (-1 while still looking)
        int done = 0;  // files read and handled
        int added = 0;
        int duplicates = 0;
        int notBooks = 0;   // no book, too big, an archive too deep
        int readErrors = 0; // files that could not be read
        int passedOver = 0; // members of archives left unread (their limits)
    };

    BulkImport(Library& library, const QStringList& paths, QObject* parent = nullptr);
    // Stops the workers, removes what was written but not listed and stores the rows
    // added, taking back those it cannot store.
    ~BulkImport() override;

    // Starts looking for files; throws TomeriaError when nothing can be added (the
    // catalogue is unreadable, the books folder cannot be made).
    void start();
    // Stops taking new files; the ones being read are dropped, what was added stays.
    void stop();
    bool isFinished() const { return m_finished; }
    bool isStopped() const { return m_stopping; }
    const Counts& counts() const { return m_counts; }
    // The file being read.
    QString currentFile() const;
    // The files not added, in the order they were found.
    QList<NotAdded> notAdded() const;
    // The failure that stopped the import, or empty.
    const QString& error() const { return m_error; }
    // Removes what an import the program could not end left in the books folder: the
    // files written under hidden names and their temporaries, only names of exactly
    // that form and only those no catalogue row lists (another program may have named
    // a book so). The folder lock keeps every other copy of the program out.
    static void removeLeftovers(const Library& library);
    // Whether a file name in books/ is one an import writes before a book is in place.
    static bool isLeftoverName(const QString& name);
    // "не книга", "слишком велик", "повтор книги «…»", "ошибка чтения", an archive too
    // deep or with members left unread.
    static QString reasonText(const NotAdded& entry);
    // The failure of a book file's write (a full disk), naming the file.
    static QString writeErrorMessage(const QString& path);

    // Between batches of books put in place, stored and listed, in ms.
    static constexpr int kBatchInterval = 750;
    // Items handed to the writer, and books put in place, in one turn of the event loop.
    static constexpr int kItemsPerTurn = 256;
    static constexpr int kPlacedPerTurn = 500;

Q_SIGNALS:
    void progress();
    // Rows now in the catalogue, their files in place.
    void booksAdded(const QStringList& names);
    // Rows taken back after the catalogue could not be stored.
    void booksRemoved(const QStringList& names);
    void finished();

private:
    struct Shared;
    struct WriteResult {
        enum class Kind { Staged, Duplicate, Failed, Dropped } kind = Kind::Dropped;
        QString staging;
        QString duplicateOf; // an earlier book of the library
        int duplicateOfSeq = -1;
        QString message;
    };

    void scanned(const QStringList& files, const QStringList& shown);
    void pump();
    void converted(int index, QList<ImportSource::Item> items);
    // Hands the items read on to the writer, in the order the files were found.
    void handleReady();
    void writeDone(int file);
    void written(int seq, int index, const ImportSource::Item& item, const WriteResult& result);
    // Names the book, puts its file in place and adds its row; false (the import
    // failing) when the file cannot be put in place.
    bool place(int seq, const ImportSource::Item& item, const QString& staging);
    // Puts the books written since the last batch in place, stores the catalogue and
    // tells the list; false when the store failed.
    bool commitBatch();
    void fileDone(int index);
    void fail(const QString& message);
    void checkFinished();
    // Flushes the books written since the last flush (off this thread), then puts them
    // in place.
    void requestSync();
    void synced();
    void finish();
    void flushAdded();
    bool storeCatalogue();
    void takeBackUnstored();
    QString uniqueName(const QString& proposed, const QString& author);
    bool nameTaken(const QString& name) const;

    Library& m_library;
    QStringList m_paths;
    std::shared_ptr<Shared> m_shared;
    int m_booksFd = -1; // the books folder, held open
    QThreadPool m_readers;
    QThreadPool m_writer;
    QTimer m_batchTimer;

    QStringList m_files;
    QStringList m_shown;
    bool m_scanned = false;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_committing = false;
    int m_nextSubmit = 0;
    int m_nextHandle = 0;
    int m_inFlight = 0;
    int m_writesOutstanding = 0;
    int m_nextSeq = 0;
    QMap<int, QList<ImportSource::Item>> m_ready;
    int m_handlingFile = -1; // the file whose items are being handed on
    QList<ImportSource::Item> m_handlingItems;
    qsizetype m_handlingPos = 0;
    bool m_handleQueued = false;
    bool m_placeQueued = false;
    struct Written {
        int seq = 0;
        ImportSource::Item item;
        QString staging;
    };
    QList<Written> m_unsynced; // under their hidden names, not yet flushed
    QList<Written> m_syncing;  // being flushed
    bool m_syncInFlight = false;
    QList<Written> m_written;         // flushed, for the next batch
    QHash<int, int> m_pendingWrites;  // file index -> writes not yet back
    QHash<int, QString> m_nameOfSeq;  // book -> the name it got (or was proposed)
    QSet<QString> m_takenFiles;       // folded names of the files in books/
    QHash<QString, int> m_nextNumber; // folded base name -> the next « (n)» to try
    QStringList m_unannounced;        // added, not yet announced
    QStringList m_unstored;           // added since the last store
    Counts m_counts;
    QList<NotAdded> m_notAdded;
    QString m_error;
};
