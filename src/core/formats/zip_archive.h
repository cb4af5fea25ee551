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

    static bool looksLikeZip(QByteArrayView data);
    // A member's name from its stored bytes, whatever the process's locale: UTF-8 when
    // the bytes are UTF-8, else code page 866.
    static QString memberName(QByteArrayView raw);

private:
    Status readWith(QByteArrayView data, bool seekable,
                    const std::function<bool(const QString&)>& wanted);

    QStringList m_names;
    QHash<QString, QByteArray> m_members;
};

// The path `href` (a relative link, percent-encoded) names when it is found in the
// member `base`: "text/ch1.xhtml" from "OEBPS/content.opf" is "OEBPS/text/ch1.xhtml".
QString resolveMemberPath(const QString& base, const QString& href);
