#include "core/search/index_writer.h"

#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "core/search/book_words.h"
#include "core/search/index_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xapian.h>

#include <cerrno>
#include <cstring>

namespace {

// The status line's words for a failed write.
[[noreturn]] void fail(const Xapian::Error& error) {
    const bool full = error.get_error_string() &&
                      std::strcmp(error.get_error_string(), std::strerror(ENOSPC)) == 0;
    throw TomeriaError(full ? QStringLiteral("нет места на диске")
                            : QStringLiteral("папка указателя недоступна для записи"));
}

} // namespace

struct IndexWriter::Impl {
    Xapian::WritableDatabase db;
    BookWords::Stemmer stemmer;
};

IndexWriter::IndexWriter(const QString& location) : d(std::make_unique<Impl>()) {
    if (!QDir().mkpath(QFileInfo(location).absolutePath()))
        throw TomeriaError(QStringLiteral("папка указателя недоступна для записи"));
    const std::string path = QFile::encodeName(location).toStdString();
    try {
        try {
            d->db = Xapian::WritableDatabase(path, Xapian::DB_CREATE_OR_OPEN);
            if (d->db.get_metadata(IndexFormat::kFormatKey) != IndexFormat::kFormat)
                throw Xapian::DatabaseVersionError("another format");
        } catch (const Xapian::DatabaseLockError&) {
            throw;
        } catch (const Xapian::DatabaseCorruptError&) {
            m_rebuilt = true;
        } catch (const Xapian::DatabaseVersionError&) {
            m_rebuilt = true;
        } catch (const Xapian::DatabaseOpeningError&) {
            m_rebuilt = true;
        }
        if (m_rebuilt) {
            d->db = Xapian::WritableDatabase();
            QDir(location).removeRecursively();
            d->db = Xapian::WritableDatabase(path, Xapian::DB_CREATE_OR_OVERWRITE);
        }
        d->db.set_metadata(IndexFormat::kFormatKey, IndexFormat::kFormat);
        d->db.commit();
    } catch (const Xapian::DatabaseLockError&) {
        throw TomeriaError(QStringLiteral("указатель занят другой копией программы"));
    } catch (const Xapian::Error& error) {
        fail(error);
    }
}

IndexWriter::~IndexWriter() {
    try {
        d->db.close();
    } catch (const Xapian::Error&) {
        // Uncommitted changes are lost; the next start re-indexes those books.
    }
}

QHash<QString, QString> IndexWriter::stamps() const {
    QHash<QString, QString> out;
    for (auto it = d->db.postlist_begin(""); it != d->db.postlist_end(""); ++it) {
        const Xapian::Document doc = d->db.get_document(*it);
        out.insert(QString::fromStdString(doc.get_value(IndexFormat::NameSlot)),
                   QString::fromStdString(doc.get_value(IndexFormat::StampSlot)));
    }
    return out;
}

qint64 IndexWriter::indexBook(const QString& name, const QString& path,
                              const std::atomic_bool* stop) {
    // Only an ordinary book file the editor could open is read: a FIFO or device is
    // never waited on, a file over the size limit never taken into memory.
    const QString stamp = IndexFormat::stampOf(path);
    QByteArray bytes;
    if (stamp.isEmpty() ||
        RegularFile::read(path, RegularFile::kMaxSize, bytes) != RegularFile::Status::Read) {
        removeBook(name);
        return 0;
    }
    bool converted = false;
    const QByteArray text = IndexFormat::bookImage(bytes, &converted);
    bytes = QByteArray();

    Xapian::Document doc;
    IndexFormat::Checkpoints checkpoints;
    checkpoints.reserve(size_t(text.size() / 200 + 1));
    Xapian::termpos position = 0;
    bool stopped = false;
    BookWords::split(text, 0, 0, [&](const BookWords::Word& word) {
        if (position % 4096 == 0 && stop && stop->load(std::memory_order_relaxed)) {
            stopped = true;
            return false;
        }
        if (position % IndexFormat::kCheckpointEvery == 0)
            checkpoints.emplace_back(word.byte, word.offset);
        doc.add_posting(d->stemmer.stem(word.folded), ++position);
        return true;
    });
    if (stopped)
        return 0;
    const std::string id = IndexFormat::idTerm(name);
    doc.add_boolean_term(id);
    doc.add_value(IndexFormat::NameSlot, name.toStdString());
    doc.add_value(IndexFormat::StampSlot, stamp.toStdString());
    doc.add_value(IndexFormat::PathSlot, QFile::encodeName(path).toStdString());
    doc.add_value(IndexFormat::ConvertedSlot, converted ? "1" : "0");
    doc.set_data(IndexFormat::encodeCheckpoints(checkpoints));
    try {
        d->db.replace_document(id, doc);
    } catch (const Xapian::Error& error) {
        fail(error);
    }
    return text.size();
}

void IndexWriter::removeBook(const QString& name) {
    try {
        d->db.delete_document(IndexFormat::idTerm(name));
    } catch (const Xapian::Error& error) {
        fail(error);
    }
}

void IndexWriter::commit() {
    try {
        d->db.commit();
    } catch (const Xapian::Error& error) {
        fail(error);
    }
}
