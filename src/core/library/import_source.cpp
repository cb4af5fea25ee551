#include "core/library/import_source.h"

#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/formats/zip_archive.h"
#include "core/library/book_companions.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace ImportSource {

namespace {

// Characters the text document takes as the end of a paragraph, and the line separator
// the editor writes as a line break.
bool breaksLine(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

// The NUL the editor shows in its place is written back as NUL.
constexpr char16_t kNulSymbol = 0x2400;

// Appends a piece of text as the editor stores it: CR LF (or a lone CR or LF) and every
// other paragraph or line separator become one CR LF.
void appendStored(QStringView piece, QString& out) {
    for (qsizetype i = 0; i < piece.size(); ++i) {
        const char16_t c = piece[i].unicode();
        if (breaksLine(c)) {
            if (c == u'\r' && i + 1 < piece.size() && piece[i + 1] == u'\n')
                ++i;
            out += QLatin1String("\r\n");
        } else if (c == kNulSymbol) {
            out += QChar(0);
        } else {
            out += QChar(c);
        }
    }
}

QString paragraphText(const RtfParagraph& paragraph) {
    QString text;
    for (const RtfRun& run : paragraph.runs)
        text += run.text;
    return text;
}

// A member's or a file's name without its folder and extension ("a/b.fb2.zip" -> "b").
QString baseName(const QString& path) {
    QString name = path.section(QLatin1Char('/'), -1);
    for (int i = 0; i < 2; ++i) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0)
            break;
        const QString extension = name.mid(dot + 1).toLower();
        name.truncate(dot);
        if (extension != QLatin1String("zip"))
            break;
    }
    return name;
}

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
    item.name = proposedName(book, fileName);
    item.note = proposedNote(book);
    BookCompanions::Pending pending = BookCompanions::pendingOf(book);
    item.text = pending.text.isEmpty() ? storedText(book) : std::move(pending.text);
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

QList<Item> read(const QString& path, const QString& shown) {
    QByteArray data;
    switch (RegularFile::read(path, RegularFile::kMaxSize, data)) {
    case RegularFile::Status::Read:
        return readData(data, shown);
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

QList<Item> readData(const QByteArray& data, const QString& shown) {
    const QString fileName = shown.section(QLatin1Char('/'), -1);
    if (!ZipArchive::looksLikeZip(data))
        return {itemOf(BookImport::read(data), shown, fileName)};
    ZipArchive listing;
    listing.read(data, [](const QString&) { return false; });
    if (listing.names().isEmpty() || isSingleDocument(listing.names()))
        return {itemOf(BookImport::read(data), shown, fileName)};
    // A bundle of books: each member read on its own, its unpacking limit its own. The
    // members are told apart by their place: a name may repeat, or be empty when the
    // locale cannot hold it.
    int regular = 0;
    listing.read(data, [&regular](const QString&) {
        ++regular;
        return false;
    });
    QList<Item> items;
    for (int k = 0; k < regular; ++k) {
        ZipArchive member;
        int seen = 0;
        QString name;
        const ZipArchive::Status status = member.read(data, [&](const QString& candidate) {
            if (seen++ != k)
                return false;
            name = candidate;
            return true;
        });
        const QString memberShown =
            shown + QLatin1Char('/') + (name.isEmpty() ? QString::number(k + 1) : name);
        if (status == ZipArchive::Status::TooBig) {
            Item item;
            item.kind = Item::Kind::TooBig;
            item.source = memberShown;
            items.append(item);
            continue;
        }
        if (!member.contains(name))
            continue;
        Item item = itemOf(BookImport::read(member.member(name)), memberShown, name);
        // What is no book in a bundle of books (a cover, a list of contents) is passed over.
        if (item.kind == Item::Kind::NotABook)
            continue;
        items.append(std::move(item));
    }
    if (items.isEmpty()) {
        Item item;
        item.kind = Item::Kind::NotABook;
        item.source = shown;
        items.append(item);
    }
    return items;
}

QByteArray storedText(const ImportedBook& book) {
    QString out;
    if (book.kind == ImportedBook::Kind::Formatted) {
        const QList<RtfParagraph>& paragraphs = book.document.paragraphs;
        qsizetype size = 0;
        for (const RtfParagraph& paragraph : paragraphs)
            for (const RtfRun& run : paragraph.runs)
                size += run.text.size() + 2;
        out.reserve(size);
        for (qsizetype i = 0; i < paragraphs.size(); ++i) {
            if (i > 0)
                out += QLatin1String("\r\n");
            // Each run goes in on its own: a CR ending one and an LF opening the next
            // are two breaks.
            for (const RtfRun& run : paragraphs[i].runs)
                appendStored(run.text, out);
        }
    } else if (book.kind == ImportedBook::Kind::PlainText) {
        out.reserve(book.text.size() + book.text.size() / 32);
        appendStored(book.text, out);
    }
    // In the nearest code-page form, as the add-book panel stores a book.
    return Cp1251::encodeStorable(out);
}

QString storableName(QStringView raw) {
    // Mapped as the stored text is (stress marks dropped, typographic spaces and dashes
    // in their plain forms), then what is left that no name can hold goes; every run of
    // blanks becomes one space.
    const QString mapped = Cp1251::storable(raw);
    QString name;
    name.reserve(mapped.size());
    for (const QChar c : mapped) {
        const char16_t u = c.unicode();
        if (c.isSurrogate())
            continue;
        if (breaksLine(u) || u == u'\t' || u == 0x0B || u == 0x0C || u == 0x85)
            name += QLatin1Char(' ');
        else if (u == u'/')
            name += QLatin1Char('-');
        else if (u == u'=' || u < 0x20 || (u >= 0x7F && u <= 0x9F))
            continue;
        else if (Cp1251::fromUnicode(u) >= 0)
            name += c;
    }
    return name.simplified();
}

QString firstNonBlankLine(QStringView text, qsizetype limit) {
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !breaksLine(text[i].unicode()))
            continue;
        const QStringView line = text.sliced(start, i - start).trimmed();
        if (!line.isEmpty())
            return line.left(limit).trimmed().toString();
        start = i + 1;
    }
    return QString();
}

QString proposedName(const ImportedBook& book, const QString& fileName) {
    // The title the book names; else the first line the preview would propose.
    QString name = storableName(book.title);
    if (name.isEmpty() && book.kind == ImportedBook::Kind::Formatted) {
        for (const RtfParagraph& paragraph : book.document.paragraphs) {
            name = storableName(firstNonBlankLine(paragraphText(paragraph)));
            if (!name.isEmpty())
                break;
        }
    } else if (name.isEmpty()) {
        name = storableName(firstNonBlankLine(book.text));
    }
    if (name.isEmpty())
        name = storableName(baseName(fileName));
    if (name.isEmpty())
        name = QStringLiteral("Книга");
    return name;
}

QString proposedNote(const ImportedBook& book) {
    QString note;
    for (const QChar c : book.author) {
        if (breaksLine(c.unicode()) || c == QLatin1Char('\t'))
            note += QLatin1Char(' ');
        else if (!c.isSurrogate() && c.unicode() >= 0x20 && Cp1251::fromUnicode(c.unicode()) >= 0)
            note += c;
    }
    return note.trimmed();
}

QByteArray hashOf(const QByteArray& text) {
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

} // namespace ImportSource
