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
    QString ncx;            // the EPUB 2 table of contents
    QString nav;            // the EPUB 3 navigation document
};

// One entry of the book's navigation: the page it names and its depth.
struct NavEntry {
    QString page;
    int depth = 1;
};

// The entries of an NCX (nested navPoint) or of an EPUB 3 nav document («toc»: nested
// ol/li/a), in order.
QList<NavEntry> readNavigation(const QByteArray& data, const QString& path, bool ncx) {
    QList<NavEntry> entries;
    QXmlStreamReader xml(XmlGuard::checked(data));
    int depth = 0;
    int inToc = 0; // nav elements open, the first «toc» one counting
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        const QStringView name = xml.name();
        if (token == QXmlStreamReader::EndElement) {
            if (name == (ncx ? u"navPoint" : u"ol"))
                depth = qMax(0, depth - 1);
            else if (name == u"nav" && inToc > 0)
                --inToc;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (ncx) {
            if (name == u"navPoint")
                ++depth;
            else if (name == u"content" && depth > 0)
                entries.append(NavEntry{
                    resolveMemberPath(
                        path,
                        attributes.value(QLatin1StringView("src")).toString().section(u'#', 0, 0)),
                    qMin(depth, 9)});
        } else if (name == u"nav") {
            if (inToc > 0 || attributes.value(QLatin1StringView("epub:type")) == u"toc" ||
                attributes.value(QLatin1StringView("type")) == u"toc")
                ++inToc;
        } else if (inToc > 0 && name == u"ol") {
            ++depth;
        } else if (inToc > 0 && name == u"a" && depth > 0) {
            entries.append(NavEntry{
                resolveMemberPath(
                    path,
                    attributes.value(QLatin1StringView("href")).toString().section(u'#', 0, 0)),
                qMin(depth, 9)});
        }
    }
    return entries;
}

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
            const QString href =
                resolveMemberPath(path, attributes.value(QLatin1StringView("href")).toString());
            if (type == u"application/x-dtbncx+xml")
                package.ncx = href;
            if (attributes.value(QLatin1StringView("properties")).split(u' ').contains(u"nav"))
                package.nav = href;
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
    QHash<QString, qsizetype> pageStarts; // the first paragraph of each page read
    for (const QString& page : package.pages)
        if (archive.contains(page)) {
            pageStarts.insert(page, builder.paragraphCount());
            HtmlReader::readXhtml(archive.member(page), builder);
        }
    // Pages without headings of their own: the book's navigation names its chapters.
    if (!builder.hasHeadings()) {
        const bool ncx = package.nav.isEmpty();
        const QString navigation = ncx ? package.ncx : package.nav;
        if (!navigation.isEmpty() && archive.contains(navigation)) {
            QSet<QString> named;
            for (const NavEntry& entry :
                 readNavigation(archive.member(navigation), navigation, ncx))
                if (pageStarts.contains(entry.page) && !named.contains(entry.page)) {
                    named.insert(entry.page);
                    builder.addHeading(pageStarts.value(entry.page), entry.depth);
                }
        }
    }
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
