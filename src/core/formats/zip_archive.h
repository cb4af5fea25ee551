#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

// The members of a ZIP file (EPUB, DOCX, ODT, zipped FB2), read with libarchive. Only
// the members a reader asks for are unpacked, and never more than a fixed total, so a
// ZIP bomb is refused after that much work. A damaged or truncated ZIP gives the
// members that could be read whole.
class ZipArchive {
public:
    // Unpacked bytes kept in all, at most.
    static constexpr qsizetype kMaxUnpacked = qsizetype(48) << 20;
    // Bytes unpacked in all, kept or not: a damaged ZIP without its central directory
    // is read member after member, the unwanted ones too.
    static constexpr qsizetype kMaxInflated = 2 * kMaxUnpacked;

    enum class Status { Ok, NotZip, TooBig };

    // Reads the archive, keeping the members for which `wanted` (given the member's
    // path) is true. Every member name is listed either way; with the central directory
    // the members not wanted are never unpacked.
    Status read(QByteArrayView data, const std::function<bool(const QString&)>& wanted);

    const QStringList& names() const { return m_names; }
    bool contains(const QString& name) const { return m_members.contains(name); }
    QByteArray member(const QString& name) const { return m_members.value(name); }

    // One member read by forEachMember: its bytes, or tooBig when it unpacks to more than
    // the limit asked for (its bytes then empty).
    struct Member {
        QString name;
        QByteArray bytes;
        bool tooBig = false;
    };
    // Reads the archive in one pass, member after member: each regular member for which
    // `wanted` is true is unpacked (up to `memberLimit` bytes; a member over it is
    // passed as tooBig) and handed to `visit`; the others are passed over without being
    // unpacked where the central directory allows. `visit` returning
    // false ends the reading. NotZip when no member could be read.
    static Status forEachMember(QByteArrayView data,
                                const std::function<bool(const QString&)>& wanted,
                                const std::function<bool(Member&&)>& visit,
                                qsizetype memberLimit = kMaxUnpacked);

    static bool looksLikeZip(QByteArrayView data);
    // A member's name from its stored bytes, whatever the process's locale: UTF-8 when
    // the bytes are UTF-8, else code page 866.
    static QString memberName(QByteArrayView raw);

private:
    static Status eachWith(QByteArrayView data, bool seekable,
                           const std::function<bool(const QString&)>& wanted,
                           const std::function<bool(Member&&)>& visit, qsizetype memberLimit,
                           bool* visited);
    Status readWith(QByteArrayView data, bool seekable,
                    const std::function<bool(const QString&)>& wanted);

    QStringList m_names;
    QHash<QString, QByteArray> m_members;
};

// The path `href` (a relative link, percent-encoded) names when it is found in the
// member `base`: "text/ch1.xhtml" from "OEBPS/content.opf" is "OEBPS/text/ch1.xhtml".
QString resolveMemberPath(const QString& base, const QString& href);
