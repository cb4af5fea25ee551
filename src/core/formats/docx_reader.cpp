#include "core/formats/docx_reader.h"

#include "core/formats/xml_guard.h"

#include <QHash>
#include <QXmlStreamReader>

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

class Reader {
public:
    Reader(const ZipArchive& archive, BookBuilder& builder)
        : m_archive(archive), m_builder(builder),
          m_headings(headingStyles(archive.member(QStringLiteral("word/styles.xml")))) {}

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
                if (name == u"p")
                    m_builder.endParagraph();
                else if (name == u"r")
                    endRun();
                continue;
            }
            if (token != QXmlStreamReader::StartElement)
                continue;
            const QStringView name = xml.name();
            if (name == u"p") {
                m_builder.beginParagraph();
                if (!m_notePrefix.isEmpty())
                    m_builder.addText(std::exchange(m_notePrefix, QString()), false);
            } else if (name == u"pStyle" && !m_inNote) {
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
                m_builder.addText(XmlGuard::elementText(xml), false);
            } else if (name == u"tab") {
                m_builder.addText(u"\t", false);
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
