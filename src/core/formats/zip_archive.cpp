#include "core/formats/zip_archive.h"

#include "core/text/imported_text.h"
#include "core/text/text_import.h"

#include <QUrl>

#include <archive.h>
#include <archive_entry.h>

#include <clocale>
#include <locale.h>
#include <memory>
#include <vector>

namespace {

struct ArchiveDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};

// The archive library converts member names to the C library's locale, which would make
// them depend on the environment. While an archive is read, this thread's locale is
// UTF-8 whatever the process's is, so the library passes the names' bytes as they are.
class Utf8Locale {
public:
    Utf8Locale() : m_locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr))) {
        if (m_locale)
            m_previous = uselocale(m_locale);
    }
    ~Utf8Locale() {
        if (m_locale) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    locale_t m_locale = locale_t(nullptr);
    locale_t m_previous = locale_t(nullptr);
};

// A ZIP read from memory: through its central directory (seekable) or member by member
// as stored; null when libarchive cannot open it.
std::unique_ptr<archive, ArchiveDeleter> openZip(QByteArrayView data, bool seekable) {
    std::unique_ptr<archive, ArchiveDeleter> a(archive_read_new());
    if (seekable)
        archive_read_support_format_zip_seekable(a.get());
    else
        archive_read_support_format_zip_streamable(a.get());
    if (archive_read_open_memory(a.get(), data.data(), size_t(data.size())) != ARCHIVE_OK)
        return nullptr;
    return a;
}

} // namespace

bool ZipArchive::looksLikeZip(QByteArrayView data) {
    return data.startsWith("PK\x03\x04") || data.startsWith("PK\x05\x06");
}

QString ZipArchive::memberName(QByteArrayView raw) {
    // Marked UTF-8 or simply valid UTF-8; otherwise the DOS code page of old Russian zips.
    if (TextImport::isValidUtf8(raw, nullptr))
        return QString::fromUtf8(raw);
    return ImportedText::decode(raw, ImportedText::CodePage::Cp866);
}

ZipArchive::Status ZipArchive::read(QByteArrayView data,
                                    const std::function<bool(const QString&)>& wanted) {
    // The central directory at the end names every member; a truncated file has none,
    // and its members are then read one after another from their local headers.
    Status status = readWith(data, true, wanted);
    if (status == Status::NotZip) {
        // The reader looks a little past a member's trailing sizes: a last member read
        // whole is kept when the file ends right after it.
        const QByteArray padded = data.toByteArray() + QByteArray(64, '\0');
        status = readWith(padded, false, wanted);
    }
    return status;
}

ZipArchive::Status ZipArchive::readWith(QByteArrayView data, bool seekable,
                                        const std::function<bool(const QString&)>& wanted) {
    m_names.clear();
    m_members.clear();
    const Utf8Locale utf8;
    std::unique_ptr<archive, ArchiveDeleter> a = openZip(data, seekable);
    if (!a)
        return Status::NotZip;
    qsizetype total = 0;
    qsizetype inflated = 0;
    char buffer[1 << 16];
    archive_entry* entry = nullptr;
    int result = ARCHIVE_OK;
    while ((result = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK ||
           result == ARCHIVE_WARN) {
        const char* rawName = archive_entry_pathname(entry);
        const QString name = memberName(rawName ? rawName : "");
        m_names.append(name);
        if (archive_entry_filetype(entry) != AE_IFREG || !wanted(name)) {
            // With the central directory a member is passed over without being read.
            // Without it, a member of unknown length is unpacked to find its end: every
            // byte unpacked counts then.
            if (!seekable) {
                la_ssize_t n = 0;
                while ((n = archive_read_data(a.get(), buffer, sizeof buffer)) > 0)
                    if ((inflated += n) > kMaxInflated)
                        return Status::TooBig;
            }
            continue;
        }
        QByteArray bytes;
        if (archive_entry_size_is_set(entry))
            bytes.reserve(qMin<qsizetype>(archive_entry_size(entry), kMaxUnpacked) + 1);
        // The declared size may lie: the limit counts what is really unpacked.
        bool complete = false;
        for (;;) {
            const la_ssize_t n = archive_read_data(a.get(), buffer, sizeof buffer);
            if (n < 0)
                break;
            if (n == 0) {
                complete = true;
                break;
            }
            total += n;
            inflated += n;
            if (total > kMaxUnpacked || inflated > kMaxInflated)
                return Status::TooBig;
            bytes.append(buffer, n);
        }
        if (!complete)
            break; // damaged from here on
        m_members.insert(name, bytes);
    }
    if (m_names.isEmpty())
        return Status::NotZip;
    return Status::Ok;
}

ZipArchive::Status ZipArchive::forEachMember(QByteArrayView data,
                                             const std::function<bool(const QString&)>& wanted,
                                             const std::function<bool(Member&&)>& visit,
                                             qsizetype memberLimit) {
    bool visited = false;
    const Status status = eachWith(data, true, wanted, visit, memberLimit, &visited);
    if (status != Status::NotZip || visited)
        return status;
    // No central directory (a truncated file): the local headers, as read() does.
    const QByteArray padded = data.toByteArray() + QByteArray(64, '\0');
    return eachWith(padded, false, wanted, visit, memberLimit, &visited);
}

ZipArchive::Status ZipArchive::eachWith(QByteArrayView data, bool seekable,
                                        const std::function<bool(const QString&)>& wanted,
                                        const std::function<bool(Member&&)>& visit,
                                        qsizetype memberLimit, bool* visited) {
    const Utf8Locale utf8;
    std::unique_ptr<archive, ArchiveDeleter> a = openZip(data, seekable);
    if (!a)
        return Status::NotZip;
    std::vector<char> buffer(size_t(1) << 16);
    archive_entry* entry = nullptr;
    int result = ARCHIVE_OK;
    bool any = false;
    // Without the central directory every byte unpacked counts, kept or not: a member of
    // unknown length is unpacked to find its end.
    qsizetype inflated = 0;
    const qsizetype inflatedLimit = 4 * kMaxInflated;
    const auto skip = [&] {
        if (seekable)
            return archive_read_data_skip(a.get()) == ARCHIVE_OK;
        for (;;) {
            const la_ssize_t n = archive_read_data(a.get(), buffer.data(), buffer.size());
            if (n == 0)
                return true;
            if (n < 0 || (inflated += n) > inflatedLimit)
                return false;
        }
    };
    while ((result = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK ||
           result == ARCHIVE_WARN) {
        any = true;
        const char* rawName = archive_entry_pathname(entry);
        Member member;
        member.name = memberName(rawName ? rawName : "");
        if (archive_entry_filetype(entry) != AE_IFREG || !wanted(member.name)) {
            if (!seekable && !skip())
                break;
            continue;
        }
        if (archive_entry_size_is_set(entry))
            member.bytes.reserve(qMin<qsizetype>(archive_entry_size(entry), memberLimit) + 1);
        // The declared size may lie: the limit counts what is really unpacked.
        bool complete = false;
        for (;;) {
            const la_ssize_t n = archive_read_data(a.get(), buffer.data(), buffer.size());
            if (n < 0)
                break;
            if (n == 0) {
                complete = true;
                break;
            }
            if (!seekable && (inflated += n) > inflatedLimit)
                break;
            if (member.bytes.size() + n > memberLimit) {
                member.tooBig = true;
                member.bytes = QByteArray();
                complete = skip();
                break;
            }
            member.bytes.append(buffer.data(), n);
        }
        if (!complete && !member.tooBig)
            break; // damaged from here on
        *visited = true;
        if (!visit(std::move(member)))
            return Status::Ok;
        if (!complete)
            break;
    }
    return any ? Status::Ok : Status::NotZip;
}

QString resolveMemberPath(const QString& base, const QString& href) {
    QString path = QUrl::fromPercentEncoding(href.section(QLatin1Char('#'), 0, 0).toUtf8());
    if (!path.startsWith(QLatin1Char('/'))) {
        const qsizetype slash = base.lastIndexOf(QLatin1Char('/'));
        path = (slash >= 0 ? base.left(slash + 1) : QString()) + path;
    }
    QStringList parts;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            parts.isEmpty() ? void() : parts.removeLast();
        else if (part != QLatin1String("."))
            parts.append(part);
    }
    return parts.join(QLatin1Char('/'));
}
