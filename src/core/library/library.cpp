#include "core/library/library.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/library/book_companions.h"

#include <QFile>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A book file moved out of the way while a step that may be undone runs: renamed to a
// hidden name in the same folder (hidden files do not count in the folder's size), then
// either removed or put back. rename() and unlink() act on a symbolic link itself, a
// dangling one included, never on the file it points to.
//
// The hidden name keeps the file's own and says why it was moved, so that a file left
// aside by a run that was killed meanwhile can be put back at the next start
// (Library::recoverSetAside): .NAME.<process>-<n>.replaced for a file being replaced,
// .NAME.<process>-<n>.deleted for a book being deleted.
class SetAside {
public:
    enum class Why { Replaced, Deleted };
    SetAside(const QString& path, Why why) : m_path(path) {
        struct stat st {};
        if (path.isEmpty() || !m_path.lstat(st) || S_ISDIR(st.st_mode))
            return;
        static std::atomic<int> counter{0};
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/')) + 1;
        const QString fileName = path.mid(slash);
        const QString unique = QStringLiteral("%1-%2").arg(::getpid()).arg(counter.fetch_add(1));
        // A name too long to keep is set aside under a plain one; it cannot be recovered.
        const QString aside = QFile::encodeName(fileName).size() <= 200
                                  ? QStringLiteral(".%1.%2.%3")
                                        .arg(fileName, unique,
                                             why == Why::Deleted ? QStringLiteral("deleted")
                                                                 : QStringLiteral("replaced"))
                                  : QStringLiteral(".tomeria-aside-%1").arg(unique);
        auto at = std::make_unique<AnchoredPath>(path.left(slash) + aside);
        if (m_path.renameTo(*at))
            m_aside = std::move(at);
    }
    bool holdsFile() const { return m_aside != nullptr; }
    void restore() {
        if (!m_aside)
            return;
        m_aside->renameTo(m_path);
        m_aside.reset();
    }
    void discard() {
        if (m_aside)
            m_aside->unlink();
        m_aside.reset();
    }

private:
    AnchoredPath m_path;
    std::unique_ptr<AnchoredPath> m_aside;
};

// The kind of what stands at a path, the link itself for a symbolic link; 0 for nothing.
mode_t kindAt(const QString& path) {
    struct stat st {};
    return AnchoredPath(path).lstat(st) ? (st.st_mode & S_IFMT) : 0;
}

} // namespace

Library::Library(QObject* parent) : QObject(parent) {
    m_reading.followLibrary(*this);
}

Library::LoadResult Library::load(QString* error) {
    // What a write ended by a crash or a kill left behind goes first.
    m_folder.removeStaleTemporaries();
    m_reading.load(readingPath(), m_folder.booksFolder());
    const QString path = m_folder.cataloguePath();
    try {
        m_catalogue.LoadCatalogue(path);
        m_catalogueUnreadable = false;
        recoverSetAside();
        return LoadResult::Loaded;
    } catch (const TomeriaError& e) {
        if (kindAt(path) != 0) {
            m_catalogueUnreadable = true;
            if (error)
                *error = e.message();
            return LoadResult::Unreadable;
        }
        return LoadResult::Missing;
    }
}

void Library::recoverSetAside() {
    static const QRegularExpression pattern(
        QStringLiteral("^\\.(.+)\\.boo\\.([0-9]+)-[0-9]+\\.(replaced|deleted)$"));
    SafeFile::forEachStaleHiddenFile(m_folder.booksFolder(), [&](int dir, const QByteArray& name) {
        const QRegularExpressionMatch match = pattern.match(QLatin1StringView(name));
        // A file set aside by a program still running is its own business.
        const pid_t owner = pid_t(match.capturedView(2).toLongLong());
        if (!match.hasMatch() || owner == ::getpid() || ::kill(owner, 0) == 0 || errno == EPERM)
            return;
        const QByteArray fileName = match.captured(1).toLatin1() + ".boo";
        struct stat st {};
        // What stands in the book's place now was put there after the file was set
        // aside: the step went through, the old file is no longer wanted.
        bool putBack = ::fstatat(dir, fileName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0;
        if (putBack && match.capturedView(3) == QLatin1String("deleted")) {
            // A deletion went through only once the catalogue stopped listing the book.
            const QString rowName =
                Catalogue::LineName(QFile::decodeName(fileName).chopped(4) + QLatin1Char('='));
            putBack = !rowName.isEmpty() && m_catalogue.FindName(rowName).found;
        }
        if (putBack) {
            if (::renameat(dir, name.constData(), dir, fileName.constData()) == 0) {
                const QString book = QFile::decodeName(fileName).chopped(4);
                Q_EMIT bookSaved(book, m_folder.BookPath(book));
            }
        } else
            ::unlinkat(dir, name.constData(), 0);
    });
}

void Library::saveCatalogue() {
    const QString path = m_folder.cataloguePath();
    if (m_catalogueUnreadable)
        throw TomeriaError(
            QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(path)));
    m_catalogue.SaveCatalogue(path);
}

Catalogue::Match Library::rowOfItem(const QString& itemName) const {
    const Catalogue::Match first = m_catalogue.FindName(itemName);
    if (!first.found || m_catalogue.NameAt(first.row) == itemName)
        return first;
    for (int row = first.row + 1; row < m_catalogue.rowCount(); ++row) {
        if (m_catalogue.NameAt(row) == itemName)
            return {true, row};
    }
    return first;
}

QString Library::openPath(const QString& name) const {
    const QString path = m_folder.BookPath(name);
    struct stat st {};
    if (!m_folder.isBookPath(path) || !AnchoredPath(path).stat(st) || !S_ISREG(st.st_mode))
        return QString();
    return path;
}

bool Library::hasUnlistedBookFile(const QString& name) const {
    if (m_catalogueUnreadable || !BookFolder::isValidBookName(name))
        return false;
    const QString rowName = Catalogue::LineName(name + QLatin1Char('='));
    if (!rowName.isEmpty() && m_catalogue.FindName(rowName).found)
        return false;
    const mode_t kind = kindAt(m_folder.BookPath(name));
    return kind == S_IFLNK || kind == S_IFREG;
}

namespace {

bool isLineBreak(QChar c) {
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0x2028) ||
           c == QChar(0x2029) || c == QChar(0x0085) || c == QChar(0x000B) || c == QChar(0x000C);
}

} // namespace

QString Library::unstorableNameCharacters(const QString& name) {
    QString found;
    for (qsizetype i = 0; i < name.size(); ++i) {
        QString character(name[i]);
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate())
            character += name[++i];
        const bool storable = character.size() == 1 && character[0] != QLatin1Char('=') &&
                              !isLineBreak(character[0]) &&
                              Cp1251::fromUnicode(character[0].unicode()) >= 0;
        if (!storable && !found.split(QLatin1Char(' ')).contains(character))
            found += (found.isEmpty() ? QString() : QStringLiteral(" ")) + character;
    }
    return found;
}

QString Library::unstorableNameMessage(const QString& characters) {
    const bool one = !characters.contains(QLatin1Char(' '));
    return (one ? QStringLiteral("Знак «%1» нельзя сохранить в названии книги. "
                                 "Пожалуйста, измените название.")
                : QStringLiteral("Знаки «%1» нельзя сохранить в названии книги. "
                                 "Пожалуйста, измените название."))
        .arg(characters);
}

QString Library::lostCharactersQuestion(const QString& text) {
    const QStringList lost = Cp1251::missingCharacters(text, 5);
    if (lost.isEmpty())
        return QString();
    return QStringLiteral("В книге есть знаки, которых нет в кодировке 1251: %1. Они будут "
                          "сохранены как «?». Сохранить книгу?")
        .arg(lost.join(QLatin1Char(' ')));
}

bool Library::nameFitsFileName(const QString& name) {
    return QFile::encodeName(name + QStringLiteral(".boo")).size() <= 255;
}

QString Library::longNameMessage() {
    return QStringLiteral("Название книги слишком длинное для имени файла. "
                          "Пожалуйста, сократите его.");
}

QString Library::firstLine(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isLineBreak(text[i]))
            return text.left(i);
    return text;
}

void Library::addBook(const QString& name, const QString& rawNote, const QByteArray& text) {
    // The list shows the row's name and opens the file of that name: both must be the
    // name as typed.
    const QString unstorable = unstorableNameCharacters(name);
    if (!unstorable.isEmpty())
        throw TomeriaError(unstorableNameMessage(unstorable));
    if (!nameFitsFileName(name))
        throw TomeriaError(longNameMessage());
    const QString note = firstLine(rawNote);
    // A name the catalogue would refuse is refused before anything is written, so an
    // existing book's file is never replaced by the new text.
    const QString rowName = Catalogue::LineName(name + QLatin1Char('='));
    if (!rowName.isEmpty() && m_catalogue.FindName(rowName).found)
        throw TomeriaError(
            QStringLiteral("A key with the name of \"%1\" already exists").arg(name));
    const QString path = m_folder.BookPath(name);
    if (!BookFolder::isValidBookName(name))
        throw TomeriaError(
            QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(path)));
    // A catalogue that could not be read is never written: say so before a book file
    // is written that no row would list.
    if (m_catalogueUnreadable)
        throw TomeriaError(QStringLiteral("Cannot create file %1").arg(m_folder.cataloguePath()));

    // A new library may not have its books folder yet.
    const QString booksFolder = m_folder.booksFolder();
    const AnchoredPath booksAt(booksFolder);
    const bool folderCreated = kindAt(booksFolder) == 0 && booksAt.makeFolder();
    const Catalogue before = m_catalogue;
    SetAside previous(path, SetAside::Why::Replaced);
    bool written = false;
    try {
        SafeFile::write(path, text,
                        QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(path)),
                        QStringLiteral("Failed to Save Stream"));
        written = true;
        m_catalogue.AddRecord(name, note);
        saveCatalogue();
    } catch (...) {
        m_catalogue = before;
        if (written && !previous.holdsFile())
            AnchoredPath(path).unlink();
        previous.restore();
        if (folderCreated)
            booksAt.removeFolder();
        throw;
    }
    previous.discard();
    // A new book starts without the contents and bookmarks of a book of that name; the
    // caller keeps the new book's contents.
    BookCompanions::remove(m_folder, name);
    Q_EMIT bookAdded(name, path);
}

void Library::deleteBook(const QString& itemName) {
    const Catalogue before = m_catalogue;
    const Catalogue::Match match = rowOfItem(itemName);
    if (match.found) {
        m_catalogue.SelectRow(match.row);
        m_catalogue.RemoveRecord(m_catalogue.CurrentRow());
    } else {
        // An item with an empty name: its row is the current one if that has an empty
        // name, else the first row with an empty name.
        int row = m_catalogue.CurrentRow();
        if (row < m_catalogue.rowCount() && !m_catalogue.NameAt(row).isEmpty()) {
            for (int i = 0; i < m_catalogue.rowCount(); ++i) {
                if (m_catalogue.NameAt(i).isEmpty()) {
                    row = i;
                    break;
                }
            }
        }
        try {
            m_catalogue.RemoveRecord(row);
        } catch (...) {
            m_catalogue = before;
            throw;
        }
    }
    // A symbolic link in the book's place is removed itself, never what it points to.
    const QString path = m_folder.BookPath(itemName);
    const mode_t kind = kindAt(path);
    const bool touchable = m_folder.isBookPath(path) && kind != 0 && kind != S_IFDIR;
    SetAside file(touchable ? path : QString(), SetAside::Why::Deleted);
    try {
        saveCatalogue();
    } catch (...) {
        m_catalogue = before;
        file.restore();
        throw;
    }
    file.discard();
    if (touchable && !file.holdsFile())
        m_folder.deleteBook(path); // a file that could not be set aside: removal is silent
    BookCompanions::remove(m_folder, itemName);
    Q_EMIT bookRemoved(itemName, path);
}

void Library::noteBookSaved(const QString& path) {
    const QString file = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (m_folder.isBookPath(path) && file.endsWith(QStringLiteral(".boo")))
        Q_EMIT bookSaved(file.chopped(4), path);
}

void Library::noteBooksAdded(const QStringList& names) {
    for (const QString& name : names)
        Q_EMIT bookAdded(name, m_folder.BookPath(name));
}

void Library::noteBooksRemoved(const QStringList& names) {
    for (const QString& name : names) {
        BookCompanions::remove(m_folder, name);
        Q_EMIT bookRemoved(name, m_folder.BookPath(name));
    }
}
