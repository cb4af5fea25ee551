#include "core/formats/docx_reader.h"

#include "core/formats/xml_guard.h"

#include <QHash>
#include <QXmlStreamReader>

#include <vector>

namespace DocxReader {

namespace {

const QString kDocument = QStringLiteral("word/document.xml");

// A run property switched on: <w:b/>, <w:b w:val="true"/>, not <w:b w:val="0"/>.
bool switchedOn(const QXmlStreamReader& xml) {
    const QStringView value = xml.attributes().value(QLatin1StringView("w:val"));
    return value.isEmpty() ||
           !(value == u"0" || value == u"false" || value == u"off" || value == u"none");
}

// A paragraph style that makes a heading: how it is set, and its level in the contents
// (0 for a subtitle, which is none of them).
struct HeadingStyle {
    BookBuilder::Style style = BookBuilder::Style::Heading;
    int level = 0;
};

// Paragraph styles that make a heading, by style id.
QHash<QString, HeadingStyle> headingStyles(const QByteArray& styles) {
    QHash<QString, HeadingStyle> headings;
    QXmlStreamReader xml(XmlGuard::checked(styles));
    QString id;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == u"style") {
            id = xml.attributes().value(QLatin1StringView("w:styleId")).toString();
        } else if (name == u"name" && !id.isEmpty()) {
            const QString styleName =
                xml.attributes().value(QLatin1StringView("w:val")).toString().toLower();
            if (styleName == u"title") {
                headings.insert(id, HeadingStyle{BookBuilder::Style::Heading, 1});
            } else if (styleName == u"subtitle") {
                headings.insert(id, HeadingStyle{BookBuilder::Style::Subheading, 0});
            } else if (styleName.startsWith(u"heading ")) {
                const int level = qBound(1, styleName.mid(8).toInt(), 9);
                headings.insert(id, HeadingStyle{level == 1 ? BookBuilder::Style::Heading
                                                            : BookBuilder::Style::Subheading,
                                                 level});
            }
        } else if (name == u"outlineLvl" && !id.isEmpty() && !headings.contains(id)) {
            const int level = xml.attributes().value(QLatin1StringView("w:val")).toInt();
            if (level >= 0 && level < 9)
                headings.insert(id, HeadingStyle{level == 0 ? BookBuilder::Style::Heading
                                                            : BookBuilder::Style::Subheading,
                                                 level + 1});
        }
    }
    return headings;
}

// Which lists number their items: by a list's number (w:numId) and level (w:ilvl), true
// for numbers, false for bullets (numbering.xml).
QHash<QString, QHash<int, bool>> listFormats(const QByteArray& numbering) {
    QHash<QString, QHash<int, bool>> abstract; // abstractNumId -> level -> ordered
    QHash<QString, QString> lists;             // numId -> abstractNumId
    QXmlStreamReader xml(XmlGuard::checked(numbering));
    QString abstractId;
    QString numId;
    int level = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        const QXmlStreamAttributes a = xml.attributes();
        if (name == u"abstractNum") {
            abstractId = a.value(QLatin1StringView("w:abstractNumId")).toString();
            numId.clear();
        } else if (name == u"lvl") {
            level = a.value(QLatin1StringView("w:ilvl")).toInt();
        } else if (name == u"numFmt" && !abstractId.isEmpty() && numId.isEmpty()) {
            const QStringView format = a.value(QLatin1StringView("w:val"));
            abstract[abstractId].insert(level, format != u"bullet" && format != u"none");
        } else if (name == u"num") {
            numId = a.value(QLatin1StringView("w:numId")).toString();
        } else if (name == u"abstractNumId" && !numId.isEmpty()) {
            lists.insert(numId, a.value(QLatin1StringView("w:val")).toString());
        }
    }
    QHash<QString, QHash<int, bool>> result;
    for (auto it = lists.cbegin(); it != lists.cend(); ++it)
        result.insert(it.key(), abstract.value(it.value()));
    return result;
}

class Reader {
public:
    Reader(const ZipArchive& archive, BookBuilder& builder)
        : m_archive(archive), m_builder(builder),
          m_headings(headingStyles(archive.member(QStringLiteral("word/styles.xml")))),
          m_lists(listFormats(archive.member(QStringLiteral("word/numbering.xml")))) {}

    void read() {
        QXmlStreamReader xml(XmlGuard::checked(m_archive.member(kDocument)));
        readPart(xml);
        // The notes, in the order of their marks in the text.
        m_inNote = true;
        m_builder.beginNotes();
        for (const char* part : {"footnote", "endnote"}) {
            QXmlStreamReader notes(XmlGuard::checked(
                m_archive.member(QStringLiteral("word/%1s.xml").arg(QLatin1StringView(part)))));
            readPart(notes);
        }
        m_builder.endNotes();
    }

private:
    void readPart(QXmlStreamReader& xml) {
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement) {
                const QStringView name = xml.name();
                if (name == u"p" && m_rows == 0)
                    m_builder.endParagraph();
                else if (name == u"r")
                    endRun();
                else if (name == u"numPr")
                    startItem();
                else if (name == u"tr" && m_rows > 0 && --m_rows == 0)
                    m_builder.endParagraph();
                continue;
            }
            if (token != QXmlStreamReader::StartElement)
                continue;
            const QStringView name = xml.name();
            if (name == u"p" && m_rows > 0) {
                // A table cell's paragraphs go on its row's line.
                if (m_cellParagraphs++ > 0)
                    m_builder.addText(u" ", false);
            } else if (name == u"tr") {
                if (m_rows++ == 0) {
                    m_builder.beginParagraph();
                    m_cells = 0;
                }
            } else if (name == u"tc" && m_rows > 0) {
                if (m_cells++ > 0)
                    m_builder.addText(u"\t", false);
                m_cellParagraphs = 0;
            } else if (name == u"numId") {
                m_numId = xml.attributes().value(QLatin1StringView("w:val")).toString();
            } else if (name == u"ilvl") {
                m_itemLevel =
                    qBound(0, xml.attributes().value(QLatin1StringView("w:val")).toInt(), 9);
            } else if (name == u"p") {
                m_numId.clear();
                m_itemLevel = 0;
                m_itemPrefix.clear();
                m_builder.beginParagraph();
                if (!m_notePrefix.isEmpty())
                    m_builder.addText(std::exchange(m_notePrefix, QString()), false);
            } else if (name == u"pStyle" && !m_inNote && m_rows == 0) {
                const auto style = m_headings.constFind(
                    xml.attributes().value(QLatin1StringView("w:val")).toString());
                if (style != m_headings.constEnd())
                    m_builder.beginParagraph(style->style, style->level);
            } else if (name == u"r") {
                endRun();
                m_inRun = true;
            } else if (name == u"rPr" && m_inRun) {
                readRunProperties(xml);
            } else if (name == u"t") {
                if (!m_itemPrefix.isEmpty())
                    m_builder.addText(std::exchange(m_itemPrefix, QString()), false);
                m_builder.addText(XmlGuard::elementText(xml), false);
            } else if (name == u"tab") {
                m_builder.addText(u"\t", false);
            } else if ((name == u"br" || name == u"cr") && m_rows > 0) {
                m_builder.addText(u" ", false);
            } else if (name == u"br" || name == u"cr") {
                m_builder.beginParagraph();
            } else if (name == u"noBreakHyphen") {
                m_builder.addText(u"-", false);
            } else if ((name == u"footnoteReference" || name == u"endnoteReference") && !m_inNote) {
                const QString key = name.left(3).toString() +
                                    xml.attributes().value(QLatin1StringView("w:id")).toString();
                if (!m_noteNumbers.contains(key))
                    m_noteNumbers.insert(key, int(m_noteNumbers.size()) + 1);
                m_builder.addText(QStringLiteral("[%1]").arg(m_noteNumbers.value(key)), false);
            } else if ((name == u"footnote" || name == u"endnote") && m_inNote) {
                // A note no mark refers to (the separator lines) is not text.
                const QString key = name.left(3).toString() +
                                    xml.attributes().value(QLatin1StringView("w:id")).toString();
                if (!m_noteNumbers.contains(key))
                    xml.skipCurrentElement();
                else
                    m_notePrefix = QStringLiteral("[%1] ").arg(m_noteNumbers.value(key));
            } else if (name == u"Fallback" || name == u"del" || name == u"instrText" ||
                       name == u"footnoteRef" || name == u"endnoteRef") {
                xml.skipCurrentElement();
            }
        }
    }

    void readRunProperties(QXmlStreamReader& xml) {
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"rPr")
                break;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"b")
                m_runBold = switchedOn(xml);
            else if (xml.name() == u"i")
                m_runItalic = switchedOn(xml);
        }
        if (m_runBold)
            m_builder.pushBold();
        if (m_runItalic)
            m_builder.pushItalic();
    }

    // A list item's number or bullet, as the other formats give it, before its text.
    void startItem() {
        const auto list = m_lists.constFind(m_numId);
        if (m_numId.isEmpty() || m_numId == u"0" || m_rows > 0 || list == m_lists.constEnd())
            return;
        std::vector<int>& counts = m_counts[m_numId];
        counts.resize(10, 0);
        ++counts[size_t(m_itemLevel)];
        // A new item of a level starts its sublevels again.
        std::fill(counts.begin() + m_itemLevel + 1, counts.end(), 0);
        m_itemPrefix = list->value(m_itemLevel, false)
                           ? QStringLiteral("%1. ").arg(counts[size_t(m_itemLevel)])
                           : QStringLiteral("• ");
    }

    void endRun() {
        if (m_runBold)
            m_builder.popBold();
        if (m_runItalic)
            m_builder.popItalic();
        m_runBold = m_runItalic = m_inRun = false;
    }

    const ZipArchive& m_archive;
    BookBuilder& m_builder;
    QHash<QString, HeadingStyle> m_headings;
    QHash<QString, QHash<int, bool>> m_lists;
    QHash<QString, std::vector<int>> m_counts; // items numbered so far, by list and level
    QString m_numId;                           // of the paragraph being read
    int m_itemLevel = 0;
    QString m_itemPrefix;
    int m_rows = 0; // table rows open (a table inside a cell stays on its row)
    int m_cells = 0;
    int m_cellParagraphs = 0;
    QHash<QString, int> m_noteNumbers; // "foo12" or "end3": the number of its mark
    QString m_notePrefix;
    bool m_runBold = false;
    bool m_runItalic = false;
    bool m_inRun = false;
    bool m_inNote = false;
};

// dc:title and dc:creator of the document's properties.
void readProperties(const QByteArray& data, BookBuilder& builder) {
    QXmlStreamReader xml(XmlGuard::checked(data));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"title")
            builder.setTitle(XmlGuard::elementText(xml));
        else if (xml.name() == u"creator")
            builder.setAuthor(XmlGuard::elementText(xml));
    }
}

} // namespace

bool isDocx(const ZipArchive& archive) {
    return archive.names().contains(kDocument);
}

bool wanted(const QString& member) {
    return member.startsWith(QLatin1String("word/"))
               ? member.count(QLatin1Char('/')) == 1 && member.endsWith(QLatin1String(".xml"))
               : member == u"docProps/core.xml";
}

bool read(const ZipArchive& archive, BookBuilder& builder) {
    if (!archive.contains(kDocument))
        return false;
    Reader(archive, builder).read();
    readProperties(archive.member(QStringLiteral("docProps/core.xml")), builder);
    return true;
}

} // namespace DocxReader
