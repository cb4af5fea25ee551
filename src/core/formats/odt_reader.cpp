#include "core/formats/odt_reader.h"

#include "core/formats/xml_guard.h"

#include <QHash>
#include <QXmlStreamReader>

#include <vector>

namespace OdtReader {

namespace {

const QString kContent = QStringLiteral("content.xml");

struct StyleInfo {
    QString parent;
    int bold = -1; // -1: as the parent
    int italic = -1;
    BookBuilder::Style heading = BookBuilder::Style::Body;
    int level = 0; // in the contents: "Heading 2" is 2; a subtitle is none
    int list = 0;  // a list style: 1 bullets, 2 numbers (its first level's)
};

using Styles = QHash<QString, StyleInfo>;

// The styles of a styles.xml or of content.xml's automatic styles.
void readStyles(const QByteArray& data, Styles& styles) {
    QXmlStreamReader xml(XmlGuard::checked(data));
    QString current;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement && xml.name() == u"body")
            return; // the text follows: no more styles
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == u"style" && xml.namespaceUri().endsWith(u":style:1.0")) {
            current = attributes.value(QLatin1StringView("style:name")).toString();
            StyleInfo info;
            info.parent = attributes.value(QLatin1StringView("style:parent-style-name")).toString();
            const QString shown =
                attributes.value(QLatin1StringView("style:display-name")).toString().toLower();
            const QString name = current.toLower();
            for (const QString& n : {name, shown}) {
                if (n == u"title" || n == u"heading_20_1" || n == u"heading 1") {
                    info.heading = BookBuilder::Style::Heading;
                    info.level = 1;
                } else if (n == u"subtitle" || n.startsWith(u"heading_20_") ||
                           n.startsWith(u"heading ")) {
                    info.heading = BookBuilder::Style::Subheading;
                    const qsizetype space = n.lastIndexOf(u'_') > n.lastIndexOf(u' ')
                                                ? n.lastIndexOf(u'_')
                                                : n.lastIndexOf(u' ');
                    info.level = n == u"subtitle" ? 0 : qBound(1, n.mid(space + 1).toInt(), 9);
                }
            }
            styles.insert(current, info);
        } else if (xml.name() == u"list-style") {
            current = attributes.value(QLatin1StringView("style:name")).toString();
            styles.insert(current, StyleInfo());
        } else if ((xml.name() == u"list-level-style-number" ||
                    xml.name() == u"list-level-style-bullet") &&
                   !current.isEmpty() && styles[current].list == 0) {
            styles[current].list = xml.name() == u"list-level-style-number" ? 2 : 1;
        } else if (xml.name() == u"text-properties" && !current.isEmpty()) {
            StyleInfo& info = styles[current];
            const QStringView weight = attributes.value(QLatin1StringView("fo:font-weight"));
            if (!weight.isEmpty())
                info.bold = weight == u"bold" || weight.toInt() >= 600;
            const QStringView style = attributes.value(QLatin1StringView("fo:font-style"));
            if (!style.isEmpty())
                info.italic = style == u"italic" || style == u"oblique";
        }
    }
}

// A style's effective values, following its parents (a bounded number of steps, so a
// circle of parents ends).
StyleInfo resolve(const Styles& styles, const QString& name) {
    StyleInfo result;
    result.bold = result.italic = 0;
    bool boldSet = false;
    bool italicSet = false;
    bool headingSet = false;
    QString current = name;
    for (int step = 0; step < 16 && !current.isEmpty(); ++step) {
        const auto it = styles.constFind(current);
        if (it == styles.constEnd())
            break;
        if (!boldSet && it->bold >= 0) {
            result.bold = it->bold;
            boldSet = true;
        }
        if (!italicSet && it->italic >= 0) {
            result.italic = it->italic;
            italicSet = true;
        }
        if (!headingSet && it->heading != BookBuilder::Style::Body) {
            result.heading = it->heading;
            result.level = it->level;
            headingSet = true;
        }
        current = it->parent;
    }
    return result;
}

class Reader {
public:
    Reader(const QByteArray& content, const Styles& styles, BookBuilder& builder)
        : m_xml(content), m_styles(styles), m_builder(builder) {}

    void read() {
        bool inText = false;
        while (!m_xml.atEnd()) {
            const auto token = m_xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                if (!inText) {
                    inText =
                        m_xml.name() == u"text" && m_xml.namespaceUri().endsWith(u":office:1.0");
                    continue;
                }
                start();
            } else if (token == QXmlStreamReader::EndElement && inText) {
                end();
            } else if (token == QXmlStreamReader::Characters && inText && m_inParagraph > 0) {
                m_builder.addText(m_xml.text());
            }
        }
    }

private:
    struct Frame {
        bool paragraph = false;
        bool bold = false;
        bool italic = false;
        bool notes = false;
        bool citation = false;
        bool list = false;
        bool row = false;
    };
    struct List {
        bool ordered = false;
        int count = 0;
    };

    void start() {
        const QStringView name = m_xml.name();
        const QXmlStreamAttributes attributes = m_xml.attributes();
        Frame frame;
        if (name == u"tracked-changes" || name == u"annotation" || name == u"sequence-decls" ||
            name == u"forms") {
            m_xml.skipCurrentElement();
            return;
        }
        if ((name == u"p" || name == u"h") && m_rows > 0) {
            // A table cell's paragraphs go on its row's line.
            if (m_cellParagraphs++ > 0)
                m_builder.addText(u" ", false);
            frame.bold = frame.italic = false;
            ++m_inParagraph;
            frame.paragraph = true;
            frame.row = true; // ends no paragraph
        } else if (name == u"p" || name == u"h") {
            const StyleInfo style = resolve(
                m_styles, attributes.value(QLatin1StringView("text:style-name")).toString());
            BookBuilder::Style kind = style.heading;
            int level = style.level;
            if (name == u"h") {
                const int outline =
                    attributes.value(QLatin1StringView("text:outline-level")).toInt();
                if (kind == BookBuilder::Style::Body)
                    kind =
                        outline <= 1 ? BookBuilder::Style::Heading : BookBuilder::Style::Subheading;
                level = qBound(1, outline, 9);
            }
            m_builder.beginParagraph(kind, m_builder.inNotes() ? 0 : level);
            // A list item's number or bullet, as the other formats give it.
            if (!m_itemPrefix.isEmpty())
                m_builder.addText(std::exchange(m_itemPrefix, QString()), false);
            if (!m_notePrefix.isEmpty())
                m_builder.addText(std::exchange(m_notePrefix, QString()), false);
            frame.paragraph = true;
            frame.bold = style.bold > 0;
            frame.italic = style.italic > 0;
            ++m_inParagraph;
        } else if (name == u"span" || name == u"a") {
            const StyleInfo style = resolve(
                m_styles, attributes.value(QLatin1StringView("text:style-name")).toString());
            frame.bold = style.bold > 0;
            frame.italic = style.italic > 0;
        } else if (name == u"list") {
            const QString styleName =
                attributes.value(QLatin1StringView("text:style-name")).toString();
            const auto style = m_styles.constFind(styleName);
            const bool ordered = style != m_styles.constEnd() && style->list != 0
                                     ? style->list == 2
                                     : !m_lists.empty() && m_lists.back().ordered;
            m_lists.push_back(List{ordered, 0});
            frame.list = true;
        } else if (name == u"list-item" && !m_lists.empty()) {
            List& list = m_lists.back();
            ++list.count;
            m_itemPrefix =
                list.ordered ? QStringLiteral("%1. ").arg(list.count) : QStringLiteral("• ");
        } else if (name == u"table-row" && m_rows++ == 0) {
            m_builder.beginParagraph();
            m_cells = 0;
            frame.row = true;
        } else if (name == u"table-cell" && m_rows > 0) {
            if (m_cells++ > 0)
                m_builder.addText(u"\t", false);
            m_cellParagraphs = 0;
        } else if (name == u"s") {
            const int count = qBound(1, attributes.value(QLatin1StringView("text:c")).toInt(), 64);
            m_builder.addText(QString(count, QLatin1Char(' ')), false);
        } else if (name == u"tab") {
            m_builder.addText(u"\t", false);
        } else if (name == u"line-break") {
            m_builder.beginParagraph();
        } else if (name == u"note-citation") {
            m_citation = XmlGuard::elementText(m_xml).simplified();
            m_builder.addText(QStringLiteral("[%1]").arg(m_citation), false);
            return;
        } else if (name == u"note-body") {
            frame.notes = true;
            m_notePrefix = QStringLiteral("[%1] ").arg(m_citation);
        }
        if (frame.notes)
            m_builder.beginNotes();
        if (frame.bold)
            m_builder.pushBold();
        if (frame.italic)
            m_builder.pushItalic();
        m_stack.push_back(frame);
    }

    void end() {
        if (m_stack.empty())
            return;
        const Frame frame = m_stack.back();
        m_stack.pop_back();
        if (frame.italic)
            m_builder.popItalic();
        if (frame.bold)
            m_builder.popBold();
        if (frame.paragraph) {
            if (!frame.row)
                m_builder.endParagraph();
            --m_inParagraph;
        } else if (frame.row) {
            m_builder.endParagraph();
        }
        if (m_xml.name() == u"table-row" && m_rows > 0)
            --m_rows;
        if (frame.list && !m_lists.empty())
            m_lists.pop_back();
        if (frame.notes) {
            m_builder.endNotes();
            m_notePrefix.clear();
        }
    }

    QXmlStreamReader m_xml;
    const Styles& m_styles;
    BookBuilder& m_builder;
    std::vector<Frame> m_stack;
    int m_inParagraph = 0;
    std::vector<List> m_lists;
    QString m_itemPrefix;
    int m_rows = 0; // table rows open (a table inside a cell stays on its row)
    int m_cells = 0;
    int m_cellParagraphs = 0;
    QString m_citation;
    QString m_notePrefix;
};

void readMeta(const QByteArray& data, BookBuilder& builder) {
    QXmlStreamReader xml(XmlGuard::checked(data));
    QString creator;
    QString initialCreator;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"title")
            builder.setTitle(XmlGuard::elementText(xml));
        else if (xml.name() == u"creator")
            creator = XmlGuard::elementText(xml);
        else if (xml.name() == u"initial-creator")
            initialCreator = XmlGuard::elementText(xml);
    }
    builder.setAuthor(initialCreator.isEmpty() ? creator : initialCreator);
}

} // namespace

bool isOdt(const ZipArchive& archive) {
    return archive.member(QStringLiteral("mimetype"))
               .startsWith("application/vnd.oasis.opendocument.text") ||
           (archive.contains(kContent) &&
            !archive.names().contains(QStringLiteral("META-INF/container.xml")));
}

bool wanted(const QString& member) {
    return member == kContent || member == u"styles.xml" || member == u"meta.xml" ||
           member == u"mimetype";
}

bool read(const ZipArchive& archive, BookBuilder& builder) {
    if (!archive.contains(kContent))
        return false;
    Styles styles;
    readStyles(archive.member(QStringLiteral("styles.xml")), styles);
    const QByteArray content = XmlGuard::checked(archive.member(kContent));
    readStyles(content, styles);
    Reader(content, styles, builder).read();
    readMeta(archive.member(QStringLiteral("meta.xml")), builder);
    return true;
}

} // namespace OdtReader
