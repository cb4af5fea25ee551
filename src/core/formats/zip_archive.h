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

    enum class Status { Ok, NotZip, TooBig };

    // Reads the archive, keeping the members for which `wanted` (given the member's
    // path) is true. Every member name is listed either way.
    Status read(QByteArrayView data, const std::function<bool(const QString&)>& wanted);

    const QStringList& names() const { return m_names; }
    bool contains(const QString& name) const { return m_members.contains(name); }
    QByteArray member(const QString& name) const { return m_members.value(name); }

    static bool looksLikeZip(QByteArrayView data);

private:
    Status readWith(QByteArrayView data, bool seekable,
                    const std::function<bool(const QString&)>& wanted);

    QStringList m_names;
    QHash<QString, QByteArray> m_members;
};

// The path `href` (a relative link, percent-encoded) names when it is found in the
// member `base`: "text/ch1.xhtml" from "OEBPS/content.opf" is "OEBPS/text/ch1.xhtml".
QString resolveMemberPath(const QString& base, const QString& href);
