#include "core/formats/epub_reader.h"

#include "core/formats/html_reader.h"
#include "core/formats/xml_guard.h"

#include <QHash>
#include <QSet>
#include <QXmlStreamReader>

namespace EpubReader {

namespace {

const QString kContainer = QStringLiteral("META-INF/container.xml");

QString packagePath(const ZipArchive& archive) {
    QXmlStreamReader xml(XmlGuard::checked(archive.member(kContainer)));
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"rootfile")
            return resolveMemberPath(
                QString(), xml.attributes().value(QLatin1StringView("full-path")).toString());
    // Without a container file, the first package document there is.
    for (const QString& name : archive.names())
        if (name.endsWith(QLatin1String(".opf"), Qt::CaseInsensitive))
            return name;
    return QString();
}

struct Package {
    QString title;
    QStringList authors;
    QStringList pages;      // in spine order
    QStringList extraPages; // non-linear spine items
};

Package readPackage(const QByteArray& data, const QString& path) {
    Package package;
    QHash<QString, QString> manifest;
    QStringList spine;
    QStringList extra;
    QXmlStreamReader xml(XmlGuard::checked(data));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        const QXmlStreamAttributes attributes = xml.attributes();
        if (name == u"title" && package.title.isEmpty()) {
            package.title = XmlGuard::elementText(xml).simplified();
        } else if (name == u"creator") {
            const QStringView role = attributes.value(QLatin1StringView("role"));
            const QString creator = XmlGuard::elementText(xml).simplified();
            if (!creator.isEmpty() && (role.isEmpty() || role == u"aut"))
                package.authors.append(creator);
        } else if (name == u"item") {
            const QString type = attributes.value(QLatin1StringView("media-type")).toString();
            if (type == u"application/xhtml+xml" || type == u"text/html" ||
                type == u"application/x-dtbook+xml")
                manifest.insert(attributes.value(QLatin1StringView("id")).toString(),
                                resolveMemberPath(
                                    path, attributes.value(QLatin1StringView("href")).toString()));
        } else if (name == u"itemref") {
            const QString id = attributes.value(QLatin1StringView("idref")).toString();
            (attributes.value(QLatin1StringView("linear")) == u"no" ? extra : spine).append(id);
        }
    }
    // Each page is read once, however often the spine names it.
    QSet<QString> seen;
    for (const QString& id : spine)
        if (manifest.contains(id) && !seen.contains(manifest.value(id))) {
            package.pages.append(manifest.value(id));
            seen.insert(manifest.value(id));
        }
    for (const QString& id : extra)
        if (manifest.contains(id) && !seen.contains(manifest.value(id))) {
            package.extraPages.append(manifest.value(id));
            seen.insert(manifest.value(id));
        }
    return package;
}

} // namespace

bool isEpub(const ZipArchive& archive) {
    return archive.member(QStringLiteral("mimetype")).trimmed() == "application/epub+zip" ||
           archive.names().contains(kContainer);
}

bool wanted(const QString& member) {
    const QString lower = member.toLower();
    for (const char* suffix : {".xhtml", ".html", ".htm", ".xml", ".opf", ".ncx"})
        if (lower.endsWith(QLatin1StringView(suffix)))
            return true;
    return lower == u"mimetype";
}

bool read(const ZipArchive& archive, BookBuilder& builder) {
    const QString path = packagePath(archive);
    if (path.isEmpty() || !archive.contains(path))
        return false;
    const Package package = readPackage(archive.member(path), path);
    for (const QString& page : package.pages)
        if (archive.contains(page))
            HtmlReader::readXhtml(archive.member(page), builder);
    for (const QString& page : package.extraPages) {
        if (!archive.contains(page))
            continue;
        builder.beginNotes();
        HtmlReader::readXhtml(archive.member(page), builder);
        builder.endNotes();
    }
    builder.setTitle(package.title);
    builder.setAuthor(package.authors.join(QStringLiteral(", ")));
    return true;
}

} // namespace EpubReader
