#include "core/library/bulk_import.h"

#include "core/base/folder_anchor.h"
#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/library/book_companions.h"
#include "core/library/book_preparation.h"
#include "core/library/library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMultiHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// Writes a new file `name` in the folder `dir` with all of `data`, not yet flushed to
// the disk (the import flushes a batch of them at once before any is put in place).
// False when it cannot be made (`*made` false) or written (the file removed).
bool writeUnflushed(int dir, const QByteArray& name, const QByteArray& data, bool* made) {
    const int fd =
        ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    *made = fd >= 0;
    if (fd < 0)
        return false;
    const char* next = data.constData();
    qsizetype left = data.size();
    bool written = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, next, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            written = false;
            break;
        }
        next += n;
        left -= n;
    }
    if (::close(fd) != 0)
        written = false;
    if (!written)
        ::unlinkat(dir, name.constData(), 0);
    return written;
}

// Calls `visit` with the name of every entry of the folder `dir` (not "." and "..").
void forEachEntry(int dir, const std::function<void(const QByteArray&)>& visit) {
    const int copy = ::dup(dir);
    if (copy < 0)
        return;
    DIR* listing = ::fdopendir(copy);
    if (!listing) {
        ::close(copy);
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(listing);
    for (const QByteArray& name : names)
        visit(name);
}

} // namespace

struct BulkImport::Shared {
    std::atomic<bool> stop{false};
    QMutex mutex;
    BulkImport* owner = nullptr; // told when a flush is done, while it lives
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
                struct stat st {};
                if (AnchoredPath(existing[i].second).stat(st) && S_ISREG(st.st_mode))
                    existingBySize.insert(qint64(st.st_size), i);
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
    m_shared->owner = this;
    m_batchTimer.setInterval(kBatchInterval);
    connect(&m_batchTimer, &QTimer::timeout, this, &BulkImport::requestSync);
}

BulkImport::~BulkImport() {
    m_shared->stop = true;
    m_readers.clear();
    m_writer.clear();
    m_readers.waitForDone();
    m_writer.waitForDone();
    {
        // A flush still running tells nobody.
        const QMutexLocker lock(&m_shared->mutex);
        m_shared->owner = nullptr;
    }
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
    if (m_booksFd >= 0)
        ::close(m_booksFd);
}

void BulkImport::start() {
    BookFolder& folder = m_library.folder();
    if (m_library.catalogueUnreadable())
        throw TomeriaError(QStringLiteral("Cannot create file %1").arg(folder.cataloguePath()));
    // Inside the library folder held open: a folder deleted meanwhile takes no new
    // books folder, and one renamed keeps getting its books; nothing is made at the old
    // path.
    const QString books = folder.booksFolder();
    const AnchoredPath booksAt(books);
    struct stat st {};
    if (!booksAt.stat(st) && !booksAt.makeFolder())
        throw TomeriaError(
            QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(books)));
    m_booksFd = booksAt.open(O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_booksFd < 0)
        throw TomeriaError(
            QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(books)));

    // What an earlier import left written but not in place (the program ended at once).
    removeLeftovers(m_library);
    forEachEntry(m_booksFd, [this](const QByteArray& entry) {
        const QString name = QFile::decodeName(entry);
        if (name.endsWith(QLatin1String(".boo")))
            m_takenFiles.insert(name.chopped(4).toCaseFolded());
    });
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

bool BulkImport::isLeftoverName(const QString& name) {
    // A staged book (.tomeria-import-PID-N.boo) and the temporary file of its write
    // (..tomeria-import-PID-N.boo.<base 36>.tmp), exactly.
    static const QRegularExpression pattern(
        QStringLiteral("^\\.(\\.tomeria-import-[0-9]+-[0-9]+\\.boo\\.[0-9a-z]{1,7}\\.tmp|"
                       "tomeria-import-[0-9]+-[0-9]+\\.boo)$"));
    return pattern.match(name).hasMatch();
}

void BulkImport::removeLeftovers(const Library& library) {
    // Without the catalogue nothing tells a leftover from a book named so.
    if (library.folder().programFolder().isEmpty() || library.catalogueUnreadable())
        return;
    const AnchoredPath booksAt(library.folder().booksFolder());
    const int fd = booksAt.open(O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    const Catalogue& catalogue = library.catalogue();
    forEachEntry(fd, [&](const QByteArray& entry) {
        const QString name = QFile::decodeName(entry);
        if (!isLeftoverName(name))
            return;
        // A book another program listed under such a name is a book, not a leftover.
        const QString rowName = name.endsWith(QLatin1String(".boo")) ? name.chopped(4) : name;
        if (catalogue.FindName(rowName).found)
            return;
        struct stat st {};
        if (::fstatat(fd, entry.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(fd, entry.constData(), 0);
    });
    ::close(fd);
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

QString BulkImport::writeErrorMessage(const QString& path) {
    return QStringLiteral("Не удалось записать файл %1: возможно, на диске нет места. "
                          "Добавление книг остановлено.")
        .arg(path);
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
    case Reason::TooDeep:
        return QStringLiteral("архив в архиве глубже %1 уровней, не распакован")
            .arg(ImportSource::kMaxArchiveDepth);
    case Reason::TooMany:
        return QStringLiteral("не прочитаны ещё %1 файлов архива: из одного архива берётся "
                              "не больше %2 файлов и %3 МБ")
            .arg(entry.count)
            .arg(QLocale(QLocale::Russian).toString(ImportSource::kMaxArchiveMembers))
            .arg(ImportSource::kMaxArchiveBytes >> 20);
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
                items = ImportSource::read(path, shown, &shared->stop);
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
    handleReady();
}

void BulkImport::handleReady() {
    // Handled in the order found, so names and repeats do not depend on the threads; a
    // few hundred items a turn, so an archive of thousands of books never holds up the
    // window.
    int budget = kItemsPerTurn;
    for (;;) {
        if (m_handlingFile < 0) {
            if (!m_ready.contains(m_nextHandle))
                break;
            m_handlingFile = m_nextHandle++;
            m_handlingItems = m_ready.take(m_handlingFile);
            m_handlingPos = 0;
            // Counted from one until the file's last item is handed on.
            m_pendingWrites.insert(m_handlingFile, 1);
        }
        const int file = m_handlingFile;
        while (m_handlingPos < m_handlingItems.size() && budget > 0) {
            if (m_stopping)
                break;
            const ImportSource::Item item = m_handlingItems[m_handlingPos++];
            --budget;
            if (item.kind != ImportSource::Item::Kind::Book) {
                NotAdded entry;
                entry.source = item.source;
                entry.order = file;
                entry.count = item.passedOver;
                switch (item.kind) {
                case ImportSource::Item::Kind::TooBig:
                    entry.reason = Reason::TooBig;
                    break;
                case ImportSource::Item::Kind::ReadError:
                    entry.reason = Reason::ReadError;
                    break;
                case ImportSource::Item::Kind::TooDeep:
                    entry.reason = Reason::TooDeep;
                    break;
                case ImportSource::Item::Kind::TooMany:
                    entry.reason = Reason::TooMany;
                    break;
                default:
                    entry.reason = Reason::NotABook;
                    break;
                }
                m_notAdded.append(entry);
                if (entry.reason == Reason::ReadError)
                    ++m_counts.readErrors;
                else if (entry.reason == Reason::TooMany)
                    m_counts.passedOver += entry.count;
                else
                    ++m_counts.notBooks;
                continue;
            }
            ++m_pendingWrites[file];
            ++m_writesOutstanding;
            const int seq = m_nextSeq++;
            m_nameOfSeq.insert(seq, item.name);
            const std::shared_ptr<Shared> shared = m_shared;
            const QString books = m_library.folder().booksFolder();
            const int booksFd = m_booksFd;
            m_writer.start([this, shared, seq, file, item, books, booksFd] {
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
                    // Inside the books folder held open, under a name no one else
                    // uses; flushed with its batch.
                    bool made = false;
                    if (writeUnflushed(booksFd, nameIn(result.staging), item.text, &made)) {
                        result.kind = WriteResult::Kind::Staged;
                        shared->known.insert(item.hash, {QString(), seq});
                    } else {
                        const QString bookPath =
                            AnchoredPath::current(books + item.name + QStringLiteral(".boo"));
                        const QMutexLocker lock(&shared->mutex);
                        shared->staged.remove(result.staging);
                        result.kind = WriteResult::Kind::Failed;
                        result.message =
                            made ? writeErrorMessage(bookPath)
                                 : QStringLiteral("Cannot create file %1").arg(bookPath);
                    }
                }
                QMetaObject::invokeMethod(
                    this, [this, seq, file, item, result] { written(seq, file, item, result); },
                    Qt::QueuedConnection);
            });
        }
        if (m_handlingPos < m_handlingItems.size() && !m_stopping) {
            if (!m_handleQueued) {
                m_handleQueued = true;
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        m_handleQueued = false;
                        handleReady();
                    },
                    Qt::QueuedConnection);
            }
            break;
        }
        m_handlingFile = -1;
        m_handlingItems.clear();
        writeDone(file);
    }
    Q_EMIT progress();
}

void BulkImport::writeDone(int file) {
    if (--m_pendingWrites[file] == 0) {
        m_pendingWrites.remove(file);
        fileDone(file);
    }
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
            m_unsynced.append({seq, item, result.staging});
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
    writeDone(index);
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

QString BulkImport::uniqueName(const QString& proposed, const QString& author) {
    QString candidate = fitted(proposed, QString());
    if (!nameTaken(candidate))
        return candidate;
    QString base = proposed;
    const QString by = BookPreparation::storableName(author);
    if (!by.isEmpty()) {
        candidate = fitted(proposed, QStringLiteral(" (%1)").arg(by));
        if (!nameTaken(candidate))
            return candidate;
        base = candidate;
    }
    // The numbers below the one remembered for this base are taken already: each book of
    // a title costs one try or a few, however many of that title came before.
    int& next = m_nextNumber[base.toCaseFolded()];
    for (int n = qMax(2, next);; ++n) {
        candidate = fitted(base, QStringLiteral(" (%1)").arg(n));
        if (!nameTaken(candidate)) {
            next = n + 1;
            return candidate;
        }
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
    if (!allDone && !stopped)
        return;
    // Books still being put in place a few hundred a turn.
    if (!m_written.isEmpty() && m_placeQueued)
        return;
    // The books written last are flushed and put in place first.
    if (!m_unsynced.isEmpty())
        requestSync();
    if (!m_syncInFlight)
        finish();
}

void BulkImport::requestSync() {
    if (m_syncInFlight || m_unsynced.isEmpty() || m_finished)
        return;
    m_syncInFlight = true;
    m_syncing = std::exchange(m_unsynced, {});
    // One flush for the whole batch, off the window's thread: a book is put in place
    // and listed only once its file is on the disk. A flush can take seconds on a busy
    // disk, so the end of the import never waits for it: the thread keeps its own
    // descriptor and tells this object only while it lives.
    const int booksFd = ::fcntl(m_booksFd, F_DUPFD_CLOEXEC, 0);
    std::thread([shared = m_shared, booksFd] {
        beNice();
        if (booksFd >= 0) {
            ::syncfs(booksFd);
            ::close(booksFd);
        }
        const QMutexLocker lock(&shared->mutex);
        if (BulkImport* owner = shared->owner)
            QMetaObject::invokeMethod(
                owner, [owner] { owner->synced(); }, Qt::QueuedConnection);
    }).detach();
}

void BulkImport::synced() {
    m_syncInFlight = false;
    m_written.append(std::exchange(m_syncing, {}));
    commitBatch();
    checkFinished();
}

void BulkImport::finish() {
    m_finished = true;
    m_batchTimer.stop();
    commitBatch();
    {
        const QMutexLocker lock(&m_shared->mutex);
        m_shared->current.clear();
    }
    Q_EMIT progress();
    Q_EMIT finished();
}

bool BulkImport::commitBatch() {
    // A few hundred a turn: the rest follow at once, each turn a store and a list update.
    QList<Written> batch;
    if (m_written.size() > kPlacedPerTurn && !m_finished) {
        batch = m_written.first(kPlacedPerTurn);
        m_written.remove(0, kPlacedPerTurn);
        if (!m_placeQueued) {
            m_placeQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_placeQueued = false;
                    commitBatch();
                    checkFinished();
                },
                Qt::QueuedConnection);
        }
    } else {
        batch = std::exchange(m_written, {});
    }
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
