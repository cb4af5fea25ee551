#include "core/library/bulk_import.h"

#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/library/book_companions.h"
#include "core/library/library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Book files written by an import that were never put in place carry this prefix (a
// hidden name: the list and the folder's size ignore them).
const QString kStagingPrefix = QStringLiteral(".tomeria-import-");

// Files read ahead of the writer, at most, per reading thread.
constexpr int kAheadPerThread = 3;

// The threads of an import give way to the windows, as the search indexer does.
void beNice() {
    thread_local bool done = false;
    if (!done) {
        done = true;
        setpriority(PRIO_PROCESS, int(gettid()), 10);
    }
}

// The books folder is held open while an import runs: names are put in place and
// removed inside it, also when the library folder is renamed meanwhile.
QByteArray nameIn(const QString& pathOrName) {
    return QFile::encodeName(pathOrName.section(QLatin1Char('/'), -1));
}

// Renames without replacing: false with errno EEXIST when the target exists.
bool renameNoReplace(int folder, const QString& from, const QString& to) {
    const QByteArray source = nameIn(from);
    const QByteArray target = nameIn(to);
    if (::renameat2(folder, source.constData(), folder, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: the check and the rename are apart, but only this
    // program writes in the folder.
    struct stat st {};
    if (::fstatat(folder, target.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(folder, source.constData(), folder, target.constData()) == 0;
}

bool existsIn(int folder, const QString& name) {
    struct stat st {};
    return ::fstatat(folder, nameIn(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void removeIn(int folder, const QString& name) {
    ::unlinkat(folder, nameIn(name).constData(), 0);
}

// A name whose file name fits the file system's limit (255 bytes) with its suffix.
QString fitted(QString base, const QString& suffix) {
    while (!base.isEmpty() &&
           QFile::encodeName(base + suffix + QStringLiteral(".boo")).size() > 255)
        base.chop(1);
    return base.trimmed() + suffix;
}

} // namespace

struct BulkImport::Shared {
    std::atomic<bool> stop{false};
    QMutex mutex;
    QString current;
    QSet<QString> staged; // written under a hidden name, not yet in place

    // The writer thread's own: the books listed at the start and the texts seen.
    struct Known {
        QString name;
        int seq = -1;
    };
    QList<QPair<QString, QString>> existing; // name, path
    bool existingSized = false;
    QMultiHash<qint64, int> existingBySize;
    QHash<int, QByteArray> existingHash;
    QHash<QByteArray, Known> known; // hash of the stored text -> its book

    const Known* find(const ImportSource::Item& item) {
        const auto it = known.constFind(item.hash);
        if (it != known.constEnd())
            return &it.value();
        if (!existingSized) {
            existingSized = true;
            for (int i = 0; i < existing.size(); ++i) {
                const QFileInfo info(existing[i].second);
                if (info.isFile())
                    existingBySize.insert(info.size(), i);
            }
        }
        // Only books of the same size are read and hashed, each at most once.
        for (const int i : existingBySize.values(item.text.size())) {
            if (!existingHash.contains(i)) {
                QByteArray data;
                const bool read = RegularFile::read(existing[i].second, RegularFile::kMaxSize,
                                                    data) == RegularFile::Status::Read;
                existingHash.insert(i, read ? ImportSource::hashOf(data) : QByteArray());
            }
            if (existingHash.value(i) == item.hash)
                return &known.insert(item.hash, {existing[i].first, -1}).value();
        }
        return nullptr;
    }
};

BulkImport::BulkImport(Library& library, const QStringList& paths, QObject* parent)
    : QObject(parent), m_library(library), m_paths(paths), m_shared(std::make_shared<Shared>()) {
    m_readers.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_writer.setMaxThreadCount(1);
    m_batchTimer.setInterval(kBatchInterval);
    connect(&m_batchTimer, &QTimer::timeout, this, [this] {
        if (!commitBatch())
            checkFinished();
    });
}

BulkImport::~BulkImport() {
    m_shared->stop = true;
    m_readers.clear();
    m_writer.clear();
    m_readers.waitForDone();
    m_writer.waitForDone();
    // Written but never put in place: removed.
    {
        const QMutexLocker lock(&m_shared->mutex);
        for (const QString& path : std::as_const(m_shared->staged))
            removeIn(m_booksFd, path);
        m_shared->staged.clear();
    }
    if (!m_finished) {
        try {
            if (!m_unstored.isEmpty())
                m_library.saveCatalogue();
            m_unstored.clear();
        } catch (const TomeriaError&) {
            takeBackUnstored();
        }
    }
    if (m_forgotPositions)
        m_library.reading().trySave();
    if (m_booksFd >= 0)
        ::close(m_booksFd);
}

void BulkImport::start() {
    BookFolder& folder = m_library.folder();
    if (m_library.catalogueUnreadable())
        throw TomeriaError(QStringLiteral("Cannot create file %1").arg(folder.cataloguePath()));
    const QString books = folder.booksFolder();
    if (!QFileInfo(books).isDir() && !QDir().mkpath(books))
        throw TomeriaError(QStringLiteral("Cannot create file %1").arg(books));
    m_booksFd = ::open(QFile::encodeName(books).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_booksFd < 0)
        throw TomeriaError(QStringLiteral("Cannot create file %1").arg(books));

    // What an earlier import left written but not in place (the program ended at once).
    removeLeftovers(books);
    const QDir dir(books);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (name.endsWith(QLatin1String(".boo")))
            m_takenFiles.insert(name.chopped(4).toCaseFolded());
    }
    const Catalogue& catalogue = m_library.catalogue();
    for (int row = 0; row < catalogue.rowCount(); ++row) {
        const QString name = catalogue.NameAt(row);
        if (!name.isEmpty() && BookFolder::isValidBookName(name))
            m_shared->existing.append({name, folder.BookPath(name)});
    }

    m_counts.found = -1;
    m_batchTimer.start();
    const std::shared_ptr<Shared> shared = m_shared;
    const QStringList paths = m_paths;
    m_readers.start([this, shared, paths] {
        beNice();
        QStringList files;
        QStringList shown;
        for (const QString& top : paths) {
            const QFileInfo info(top);
            // One chosen folder: its files by their path inside it; several sources:
            // each by its path from the folder it was chosen in.
            const QDir base(paths.size() == 1 && info.isDir() ? info.absoluteFilePath()
                                                              : info.absolutePath());
            for (const QString& file : ImportSource::scan({top}, &shared->stop)) {
                files.append(file);
                shown.append(base.relativeFilePath(file));
            }
        }
        QMetaObject::invokeMethod(
            this, [this, files, shown] { scanned(files, shown); }, Qt::QueuedConnection);
    });
}

void BulkImport::removeLeftovers(const QString& booksFolder) {
    const QDir dir(booksFolder);
    for (const QString& name : dir.entryList({kStagingPrefix + QLatin1Char('*'),
                                              QLatin1Char('.') + kStagingPrefix + QLatin1Char('*')},
                                             QDir::Files | QDir::Hidden))
        QFile::remove(dir.filePath(name));
}

void BulkImport::stop() {
    if (m_finished || m_stopping)
        return;
    m_stopping = true;
    m_shared->stop = true;
    Q_EMIT progress();
    checkFinished();
}

QString BulkImport::currentFile() const {
    const QMutexLocker lock(&m_shared->mutex);
    return m_shared->current;
}

QList<BulkImport::NotAdded> BulkImport::notAdded() const {
    QList<NotAdded> list = m_notAdded;
    for (NotAdded& entry : list)
        if (entry.duplicateOfSeq >= 0)
            entry.duplicateOf = m_nameOfSeq.value(entry.duplicateOfSeq);
    std::stable_sort(list.begin(), list.end(),
                     [](const NotAdded& a, const NotAdded& b) { return a.order < b.order; });
    return list;
}

QString BulkImport::reasonText(const NotAdded& entry) {
    switch (entry.reason) {
    case Reason::NotABook:
        return QStringLiteral("не книга");
    case Reason::TooBig:
        return QStringLiteral("слишком велик");
    case Reason::Duplicate:
        return QStringLiteral("повтор книги «%1»").arg(entry.duplicateOf);
    case Reason::ReadError:
        return QStringLiteral("ошибка чтения");
    }
    return QString();
}

void BulkImport::scanned(const QStringList& files, const QStringList& shown) {
    m_files = files;
    m_shown = shown;
    m_scanned = true;
    m_counts.found = int(files.size());
    Q_EMIT progress();
    pump();
    checkFinished();
}

void BulkImport::pump() {
    const int window = kAheadPerThread * m_readers.maxThreadCount();
    while (!m_stopping && m_nextSubmit < m_files.size() && m_inFlight < window) {
        const int index = m_nextSubmit++;
        ++m_inFlight;
        const std::shared_ptr<Shared> shared = m_shared;
        const QString path = m_files[index];
        const QString shown = m_shown[index];
        m_readers.start([this, shared, index, path, shown] {
            beNice();
            QList<ImportSource::Item> items;
            if (!shared->stop) {
                {
                    const QMutexLocker lock(&shared->mutex);
                    shared->current = shown;
                }
                items = ImportSource::read(path, shown);
            }
            QMetaObject::invokeMethod(
                this,
                [this, index, items = std::move(items)]() mutable {
                    converted(index, std::move(items));
                },
                Qt::QueuedConnection);
        });
    }
}

void BulkImport::converted(int index, QList<ImportSource::Item> items) {
    m_ready.insert(index, std::move(items));
    // Handled in the order found, so names and repeats do not depend on the threads.
    while (m_ready.contains(m_nextHandle)) {
        const int file = m_nextHandle++;
        const QList<ImportSource::Item> fileItems = m_ready.take(file);
        int writes = 0;
        for (const ImportSource::Item& item : fileItems) {
            if (m_stopping)
                break;
            if (item.kind != ImportSource::Item::Kind::Book) {
                NotAdded entry;
                entry.source = item.source;
                entry.order = file;
                entry.reason = item.kind == ImportSource::Item::Kind::TooBig ? Reason::TooBig
                               : item.kind == ImportSource::Item::Kind::ReadError
                                   ? Reason::ReadError
                                   : Reason::NotABook;
                m_notAdded.append(entry);
                ++m_counts.notBooks;
                continue;
            }
            ++writes;
            ++m_writesOutstanding;
            const int seq = m_nextSeq++;
            m_nameOfSeq.insert(seq, item.name);
            const std::shared_ptr<Shared> shared = m_shared;
            const QString books = m_library.folder().booksFolder();
            const QString createError =
                QStringLiteral("Cannot create file %1").arg(m_library.folder().BookPath(item.name));
            m_writer.start([this, shared, seq, file, item, books, createError] {
                beNice();
                WriteResult result;
                if (shared->stop) {
                    result.kind = WriteResult::Kind::Dropped;
                } else if (const Shared::Known* known = shared->find(item)) {
                    result.kind = WriteResult::Kind::Duplicate;
                    result.duplicateOf = known->name;
                    result.duplicateOfSeq = known->seq;
                } else {
                    result.staging = books + kStagingPrefix +
                                     QStringLiteral("%1-%2.boo").arg(::getpid()).arg(seq);
                    {
                        const QMutexLocker lock(&shared->mutex);
                        shared->staged.insert(result.staging);
                    }
                    try {
                        SafeFile::write(result.staging, item.text, createError,
                                        QStringLiteral("Failed to Save Stream"));
                        result.kind = WriteResult::Kind::Staged;
                        shared->known.insert(item.hash, {QString(), seq});
                    } catch (const TomeriaError& e) {
                        const QMutexLocker lock(&shared->mutex);
                        shared->staged.remove(result.staging);
                        result.kind = WriteResult::Kind::Failed;
                        result.message = e.message();
                    }
                }
                QMetaObject::invokeMethod(
                    this, [this, seq, file, item, result] { written(seq, file, item, result); },
                    Qt::QueuedConnection);
            });
        }
        if (writes > 0)
            m_pendingWrites.insert(file, writes);
        else
            fileDone(file);
    }
    Q_EMIT progress();
}

void BulkImport::written(int seq, int index, const ImportSource::Item& item,
                         const WriteResult& result) {
    --m_writesOutstanding;
    switch (result.kind) {
    case WriteResult::Kind::Staged:
        if (m_stopping) {
            const QMutexLocker lock(&m_shared->mutex);
            m_shared->staged.remove(result.staging);
            removeIn(m_booksFd, result.staging);
        } else {
            m_written.append({seq, item, result.staging});
        }
        break;
    case WriteResult::Kind::Duplicate: {
        NotAdded entry;
        entry.source = item.source;
        entry.order = index;
        entry.reason = Reason::Duplicate;
        entry.duplicateOf = result.duplicateOf;
        entry.duplicateOfSeq = result.duplicateOfSeq;
        m_notAdded.append(entry);
        ++m_counts.duplicates;
        break;
    }
    case WriteResult::Kind::Failed:
        fail(result.message);
        break;
    case WriteResult::Kind::Dropped:
        break;
    }
    if (--m_pendingWrites[index] == 0) {
        m_pendingWrites.remove(index);
        fileDone(index);
    }
    Q_EMIT progress();
}

bool BulkImport::place(int seq, const ImportSource::Item& item, const QString& staging) {
    BookFolder& folder = m_library.folder();
    QString name = uniqueName(item.name, item.note);
    for (int attempt = 0;; ++attempt) {
        if (renameNoReplace(m_booksFd, staging, name + QStringLiteral(".boo")))
            break;
        if (errno != EEXIST || attempt > 1000) {
            const QMutexLocker lock(&m_shared->mutex);
            m_shared->staged.remove(staging);
            removeIn(m_booksFd, staging);
            fail(QStringLiteral("Cannot create file %1").arg(folder.BookPath(name)));
            return false;
        }
        // A file appeared under the name since it was chosen.
        m_takenFiles.insert(name.toCaseFolded());
        name = uniqueName(item.name, item.note);
    }
    {
        const QMutexLocker lock(&m_shared->mutex);
        m_shared->staged.remove(staging);
    }
    m_takenFiles.insert(name.toCaseFolded());
    try {
        m_library.catalogue().AddRecord(name, Library::firstLine(item.note));
    } catch (const TomeriaError& e) {
        removeIn(m_booksFd, name + QStringLiteral(".boo"));
        fail(e.message());
        return false;
    }
    m_nameOfSeq.insert(seq, name);
    BookCompanions::keep(folder, name, {item.text, item.markup}, item.text);
    // A new book starts at its beginning, whatever a book of that name had remembered.
    if (m_library.reading().forget(name))
        m_forgotPositions = true;
    m_unannounced.append(name);
    m_unstored.append(name);
    ++m_counts.added;
    return true;
}

bool BulkImport::nameTaken(const QString& name) const {
    return m_library.catalogue().FindName(name).found ||
           m_takenFiles.contains(name.toCaseFolded()) ||
           existsIn(m_booksFd, name + QStringLiteral(".boo"));
}

QString BulkImport::uniqueName(const QString& proposed, const QString& author) const {
    QString candidate = fitted(proposed, QString());
    if (!nameTaken(candidate))
        return candidate;
    QString base = proposed;
    const QString by = ImportSource::storableName(author);
    if (!by.isEmpty()) {
        candidate = fitted(proposed, QStringLiteral(" (%1)").arg(by));
        if (!nameTaken(candidate))
            return candidate;
        base = candidate;
    }
    for (int n = 2;; ++n) {
        candidate = fitted(base, QStringLiteral(" (%1)").arg(n));
        if (!nameTaken(candidate))
            return candidate;
    }
}

void BulkImport::fileDone(int) {
    --m_inFlight;
    ++m_counts.done;
    pump();
    checkFinished();
}

void BulkImport::fail(const QString& message) {
    if (m_error.isEmpty())
        m_error = message;
    stop();
}

void BulkImport::checkFinished() {
    if (m_finished || m_committing || m_writesOutstanding > 0)
        return;
    const bool allDone = m_scanned && m_counts.done == m_files.size();
    const bool stopped = m_stopping && (!m_scanned || m_inFlight == 0);
    if (allDone || stopped)
        finish();
}

void BulkImport::finish() {
    m_finished = true;
    m_batchTimer.stop();
    commitBatch();
    if (m_forgotPositions && m_library.reading().trySave())
        m_forgotPositions = false;
    {
        const QMutexLocker lock(&m_shared->mutex);
        m_shared->current.clear();
    }
    Q_EMIT progress();
    Q_EMIT finished();
}

bool BulkImport::commitBatch() {
    const QList<Written> batch = std::exchange(m_written, {});
    m_committing = true;
    bool placing = true;
    for (const Written& book : batch) {
        if (placing) {
            placing = place(book.seq, book.item, book.staging);
        } else {
            // A book could not be put in place: the rest of the batch goes too.
            const QMutexLocker lock(&m_shared->mutex);
            m_shared->staged.remove(book.staging);
            removeIn(m_booksFd, book.staging);
        }
    }
    const bool stored = storeCatalogue();
    m_committing = false;
    flushAdded();
    if (!batch.isEmpty())
        Q_EMIT progress();
    return stored;
}

void BulkImport::flushAdded() {
    if (m_unannounced.isEmpty())
        return;
    const QStringList names = std::exchange(m_unannounced, {});
    Q_EMIT booksAdded(names);
}

bool BulkImport::storeCatalogue() {
    if (m_unstored.isEmpty())
        return true;
    try {
        m_library.saveCatalogue();
        m_unstored.clear();
        return true;
    } catch (const TomeriaError& e) {
        takeBackUnstored();
        fail(e.message());
        return false;
    }
}

void BulkImport::takeBackUnstored() {
    // What the catalogue on disk lists stays (a delete or an add in the window stored
    // the rows since); the rest is taken back, row and file.
    Catalogue onDisk;
    try {
        onDisk.LoadCatalogue(m_library.folder().cataloguePath());
    } catch (const TomeriaError&) {
        onDisk = Catalogue();
    }
    Catalogue& catalogue = m_library.catalogue();
    QStringList removed;
    for (const QString& name : std::as_const(m_unstored)) {
        if (onDisk.FindName(name).found)
            continue;
        const Catalogue::Match match = catalogue.FindName(name);
        if (!match.found)
            continue;
        catalogue.RemoveRecord(match.row);
        removeIn(m_booksFd, name + QStringLiteral(".boo"));
        m_unannounced.removeAll(name);
        removed.append(name);
        --m_counts.added;
    }
    m_unstored.clear();
    if (!removed.isEmpty())
        Q_EMIT booksRemoved(removed);
}
