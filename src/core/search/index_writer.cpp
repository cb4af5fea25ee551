#include "core/search/index_writer.h"

#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "core/search/book_words.h"
#include "core/search/index_folder.h"
#include "core/search/index_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xapian.h>

struct IndexWriter::Impl {
    std::string path;
    Xapian::WritableDatabase db;
    BookWords::Stemmer stemmer;

    void create(const QString& location) {
        db = Xapian::WritableDatabase();
        QDir(location).removeRecursively();
        db = Xapian::WritableDatabase(path, Xapian::DB_CREATE_OR_OVERWRITE);
        db.set_metadata(IndexFormat::kFormatKey, IndexFormat::kFormat);
        db.commit();
    }
};

IndexWriter::IndexWriter(const QString& location)
    : d(std::make_unique<Impl>()), m_location(location) {
    d->path = QFile::encodeName(location).toStdString();
    if (!QDir().mkpath(QFileInfo(location).absolutePath()))
        fail(false);
    const bool existed = QFileInfo::exists(location + QStringLiteral("/iamglass"));
    bool damaged = false;
    try {
        d->db = Xapian::WritableDatabase(d->path, Xapian::DB_CREATE_OR_OPEN);
        if (d->db.get_metadata(IndexFormat::kFormatKey) == IndexFormat::kFormat)
            return;
        if (!existed) { // a new index
            d->db.set_metadata(IndexFormat::kFormatKey, IndexFormat::kFormat);
            d->db.commit();
            return;
        }
    } catch (const Xapian::DatabaseLockError&) {
        fail(true);
    } catch (const Xapian::Error&) {
        // A folder that cannot be written fails the opening too: only an index that
        // could be written again is damage.
        if (IndexFolder::diagnose(location, false) != IndexFolder::Problem::None)
            fail(false);
        damaged = true;
    }
    // Damaged, or of another format: made anew.
    try {
        d->create(location);
    } catch (const Xapian::DatabaseLockError&) {
        fail(true);
    } catch (const Xapian::Error&) {
        fail(false);
    }
    m_rebuilt = damaged;
}

IndexWriter::~IndexWriter() {
    try {
        d->db.close();
    } catch (const Xapian::Error&) {
        // Uncommitted changes are lost; the next start re-indexes those books.
    }
}

void IndexWriter::fail(bool lockFailed) {
    IndexFolder::Problem problem = IndexFolder::diagnose(m_location, lockFailed);
    if (problem == IndexFolder::Problem::None)
        problem = lockFailed ? IndexFolder::Problem::Locked : IndexFolder::Problem::ReadOnly;
    throw TomeriaError(IndexFolder::message(problem));
}

// Runs one step on the index. An engine error is judged by what is behind it: a folder
// that cannot be written or a full disk stops the writer; else the index is damaged,
// and it is made anew and the step tried once more on the empty index.
template <class Step> void IndexWriter::run(Step&& step) {
    for (int attempt = 0;; ++attempt) {
        try {
            step();
            return;
        } catch (const Xapian::DatabaseLockError&) {
            fail(true);
        } catch (const Xapian::Error&) {
            if (attempt > 0 ||
                IndexFolder::diagnose(m_location, false) != IndexFolder::Problem::None)
                fail(false);
        }
        rebuild();
    }
}

bool IndexWriter::damaged() const {
    try {
        return Xapian::Database::check(d->path) != 0;
    } catch (const Xapian::Error&) {
        return true;
    }
}

void IndexWriter::rebuild() {
    try {
        d->create(m_location);
    } catch (const Xapian::DatabaseLockError&) {
        fail(true);
    } catch (const Xapian::Error&) {
        fail(false);
    }
    m_rebuilt = true;
}

QHash<QString, QString> IndexWriter::stamps() {
    QHash<QString, QString> out;
    run([&] {
        out.clear();
        for (auto it = d->db.postlist_begin(""); it != d->db.postlist_end(""); ++it) {
            const Xapian::Document doc = d->db.get_document(*it);
            out.insert(QString::fromStdString(doc.get_value(IndexFormat::NameSlot)),
                       QString::fromStdString(doc.get_value(IndexFormat::StampSlot)));
        }
    });
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
    BookWords::BookTerms terms(d->stemmer, text);
    BookWords::split(text, 0, 0, [&](const BookWords::Word& word) {
        if (position % 4096 == 0 && stop && stop->load(std::memory_order_relaxed)) {
            stopped = true;
            return false;
        }
        if (position % IndexFormat::kCheckpointEvery == 0)
            checkpoints.emplace_back(word.byte, word.offset);
        doc.add_posting(terms.term(word.folded), ++position);
        return true;
    });
    if (stopped)
        return 0;
    const std::string id = IndexFormat::idTerm(name);
    doc.add_boolean_term(id);
    for (const std::string& stem : terms.surnameStems())
        doc.add_boolean_term(IndexFormat::surnameTerm(stem));
    doc.add_value(IndexFormat::NameSlot, name.toStdString());
    doc.add_value(IndexFormat::StampSlot, stamp.toStdString());
    doc.add_value(IndexFormat::PathSlot, QFile::encodeName(path).toStdString());
    doc.add_value(IndexFormat::ConvertedSlot, converted ? "1" : "0");
    doc.set_data(IndexFormat::encodeCheckpoints(checkpoints));
    run([&] { d->db.replace_document(id, doc); });
    return text.size();
}

void IndexWriter::removeBook(const QString& name) {
    run([&] { d->db.delete_document(IndexFormat::idTerm(name)); });
}

void IndexWriter::commit() {
    run([&] { d->db.commit(); });
}
