#include "core/search/index_format.h"

#include "core/base/cp1251.h"
#include "core/text/text_import.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>

namespace IndexFormat {

std::string idTerm(const QString& name) {
    const QByteArray hash =
        QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
    std::string term = "Q";
    term.append(hash.constData(), size_t(hash.size()));
    return term;
}

std::string surnameTerm(const std::string& surnameStem) {
    return "S" + surnameStem; // never a word's term: those are in lower case
}

QString stampOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    return QStringLiteral("%1:%2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
}

namespace {
void putVarint(std::string& out, quint64 value) {
    while (value >= 0x80) {
        out += char((value & 0x7f) | 0x80);
        value >>= 7;
    }
    out += char(value);
}

bool getVarint(const std::string& in, size_t& at, quint64& value) {
    value = 0;
    for (int shift = 0; at < in.size() && shift < 64; shift += 7) {
        const auto byte = static_cast<unsigned char>(in[at++]);
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}
} // namespace

std::string encodeCheckpoints(const Checkpoints& points) {
    std::string out;
    out.reserve(points.size() * 4);
    qint64 byte = 0;
    qint64 offset = 0;
    for (const auto& [b, o] : points) {
        putVarint(out, quint64(b - byte));
        putVarint(out, quint64(o - offset));
        byte = b;
        offset = o;
    }
    return out;
}

Checkpoints decodeCheckpoints(const std::string& data) {
    Checkpoints points;
    size_t at = 0;
    qint64 byte = 0;
    qint64 offset = 0;
    quint64 db = 0;
    quint64 doff = 0;
    while (at < data.size() && getVarint(data, at, db) && getVarint(data, at, doff)) {
        byte += qint64(db);
        offset += qint64(doff);
        points.emplace_back(byte, offset);
    }
    return points;
}

QByteArray bookImage(const QByteArray& fileBytes, bool* converted) {
    *converted = TextImport::detectEncoding(fileBytes) != TextImport::Encoding::Cp1251;
    if (!*converted)
        return fileBytes;
    return Cp1251::encode(TextImport::decode(fileBytes));
}

} // namespace IndexFormat
