#include "core/library/import_source.h"

#include "core/base/regular_file.h"
#include "core/formats/zip_archive.h"
#include "core/library/book_companions.h"
#include "core/library/book_preparation.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace ImportSource {

namespace {

Item itemOf(ImportedBook&& book, const QString& shown, const QString& fileName) {
    Item item;
    item.source = shown;
    switch (book.kind) {
    case ImportedBook::Kind::NotABook:
        item.kind = Item::Kind::NotABook;
        return item;
    case ImportedBook::Kind::TooBig:
        item.kind = Item::Kind::TooBig;
        return item;
    case ImportedBook::Kind::PlainText:
    case ImportedBook::Kind::Formatted:
        break;
    }
    item.kind = Item::Kind::Book;
    item.name = BookPreparation::proposedName(book, fileName);
    item.note = BookPreparation::proposedNote(book);
    BookCompanions::Pending pending = BookCompanions::pendingOf(book);
    item.text =
        pending.text.isEmpty() ? BookPreparation::storedBytes(book) : std::move(pending.text);
    item.markup = std::move(pending.markup);
    item.hash = hashOf(item.text);
    return item;
}

// A ZIP that is one document (EPUB, DOCX, ODT) rather than a bundle of books.
bool isSingleDocument(const QStringList& names) {
    for (const QString& name : names) {
        if (name == QLatin1String("mimetype") || name == QLatin1String("META-INF/container.xml") ||
            name == QLatin1String("word/document.xml") || name == QLatin1String("content.xml"))
            return true;
    }
    return false;
}

} // namespace

QStringList scan(const QStringList& paths, const std::atomic<bool>* stop) {
    QStringList files;
    QSet<QPair<quint64, quint64>> visited; // folders already walked (dev, inode)
    for (const QString& top : paths) {
        const QFileInfo info(top);
        if (!info.isDir()) {
            if (info.exists())
                files.append(info.absoluteFilePath());
            continue;
        }
        QStringList folders{info.absoluteFilePath()};
        while (!folders.isEmpty()) {
            if (stop && stop->load())
                return files;
            const QString folder = folders.takeFirst();
            struct stat st {};
            if (::stat(QFile::encodeName(folder).constData(), &st) != 0 ||
                visited.contains({quint64(st.st_dev), quint64(st.st_ino)}))
                continue;
            visited.insert({quint64(st.st_dev), quint64(st.st_ino)});
            const QFileInfoList entries = QDir(folder).entryInfoList(
                QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsLast);
            QStringList subfolders;
            for (const QFileInfo& entry : entries) {
                if (entry.isDir()) {
                    if (!entry.isSymLink())
                        subfolders.append(entry.absoluteFilePath());
                } else {
                    files.append(entry.absoluteFilePath());
                }
            }
            folders = subfolders + folders;
        }
    }
    return files;
}

QList<Item> read(const QString& path, const QString& shown, const std::atomic<bool>* stop) {
    QByteArray data;
    switch (RegularFile::read(path, RegularFile::kMaxSize, data)) {
    case RegularFile::Status::Read:
        return readData(data, shown, stop);
    case RegularFile::Status::TooLarge: {
        Item item;
        item.kind = Item::Kind::TooBig;
        item.source = shown;
        return {item};
    }
    default: {
        Item item;
        item.kind = Item::Kind::ReadError;
        item.source = shown;
        return {item};
    }
    }
}

namespace {

// What the members of one archive (and of the archives inside it) may take together.
struct Budget {
    int members = 0;        // members read
    qsizetype unpacked = 0; // their bytes
    int passedOver = 0;     // members left unread once the budget was spent
};

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

Item itemWithout(Item::Kind kind, const QString& shown) {
    Item item;
    item.kind = kind;
    item.source = shown;
    return item;
}

// The items of one file's bytes: `depth` archives hold it.
QList<Item> readAt(const QByteArray& data, const QString& shown, int depth, Budget& budget,
                   const std::atomic<bool>* stop) {
    const QString fileName = shown.section(QLatin1Char('/'), -1);
    if (!ZipArchive::looksLikeZip(data))
        return {itemOf(BookImport::read(data), shown, fileName)};
    ZipArchive listing;
    listing.read(data, [](const QString&) { return false; });
    if (listing.names().isEmpty() || isSingleDocument(listing.names()))
        return {itemOf(BookImport::read(data), shown, fileName)};
    if (depth > kMaxArchiveDepth)
        return {itemWithout(Item::Kind::TooDeep, shown)};
    // A bundle of books, read in one pass: each member on its own, its unpacking limit
    // its own; the archive's members together at most kMaxArchiveMembers and
    // kMaxArchiveBytes. The members are told apart by their place: a name may repeat,
    // or be empty when the locale cannot hold it.
    QList<Item> items;
    int place = 0;
    const int passedBefore = budget.passedOver;
    ZipArchive::forEachMember(
        data,
        [&](const QString&) {
            ++place;
            if (budget.members >= kMaxArchiveMembers || budget.unpacked >= kMaxArchiveBytes) {
                ++budget.passedOver;
                return false;
            }
            return true;
        },
        [&](ZipArchive::Member&& member) {
            if (stopped(stop))
                return false;
            ++budget.members;
            budget.unpacked += member.bytes.size();
            const QString memberShown =
                shown + QLatin1Char('/') +
                (member.name.isEmpty() ? QString::number(place) : member.name);
            if (member.tooBig) {
                items.append(itemWithout(Item::Kind::TooBig, memberShown));
                return true;
            }
            if (ZipArchive::looksLikeZip(member.bytes)) {
                // An archive inside the archive: its books are read as its own.
                const QList<Item> inner =
                    readAt(member.bytes, memberShown, depth + 1, budget, stop);
                for (const Item& item : inner)
                    if (item.kind != Item::Kind::NotABook || inner.size() == 1)
                        items.append(item);
                return !stopped(stop);
            }
            Item item = itemOf(BookImport::read(member.bytes), memberShown, member.name);
            // What is no book in a bundle of books (a cover, a list of contents) is
            // passed over.
            if (item.kind != Item::Kind::NotABook)
                items.append(std::move(item));
            return true;
        });
    if (depth == 0 && budget.passedOver > passedBefore) {
        Item item = itemWithout(Item::Kind::TooMany, shown);
        item.passedOver = budget.passedOver - passedBefore;
        items.append(item);
    }
    if (items.isEmpty())
        items.append(itemWithout(Item::Kind::NotABook, shown));
    return items;
}

} // namespace

QList<Item> readData(const QByteArray& data, const QString& shown, const std::atomic<bool>* stop) {
    Budget budget;
    return readAt(data, shown, 0, budget, stop);
}

QByteArray hashOf(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

} // namespace ImportSource
