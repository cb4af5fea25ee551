#include "core/formats/fb2_reader.h"

#include "core/formats/xml_guard.h"

#include <QXmlStreamReader>

#include <vector>

namespace Fb2Reader {

namespace {

enum Action : unsigned {
    Paragraph = 1,
    Bold = 2,
    Italic = 4,
    Notes = 8,
    Heading = 16,
    Cell = 32,
};

struct Frame {
    unsigned actions = 0;
    BookBuilder::Style style = BookBuilder::Style::Body;
    int level = 0;      // a title's: the depth of its section
    int paragraphs = 0; // a title's paragraphs begun so far
};

class Reader {
public:
    Reader(QByteArrayView data, BookBuilder& builder)
        : m_data(XmlGuard::checked(QByteArray::fromRawData(data.data(), data.size()))),
          m_xml(m_data), m_builder(builder) {}

    bool read() {
        if (!m_xml.readNextStartElement() || m_xml.name() != u"FictionBook")
            return false;
        while (!m_xml.atEnd()) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
                start();
                break;
            case QXmlStreamReader::EndElement:
                end();
                break;
            case QXmlStreamReader::Characters:
                if (!m_xml.isWhitespace() || m_inParagraph > 0)
                    m_builder.addText(m_xml.text());
                break;
            default:
                break;
            }
        }
        m_builder.setTitle(m_title);
        m_builder.setAuthor(m_authors.join(QStringLiteral(", ")));
        return true;
    }

private:
    void start() {
        const QStringView name = m_xml.name();
        if (name == u"description") {
            readDescription();
            return;
        }
        if (name == u"binary" || name == u"stylesheet" || name == u"image") {
            m_xml.skipCurrentElement();
            return;
        }
        Frame frame;
        if (name == u"body") {
            const QStringView kind = m_xml.attributes().value(QLatin1StringView("name"));
            if (kind == u"notes" || kind == u"comments" || kind == u"footnotes")
                frame.actions |= Notes;
        } else if (name == u"section") {
            ++m_sectionDepth;
        } else if (name == u"title") {
            frame.actions |= Heading;
            frame.style =
                m_sectionDepth <= 1 ? BookBuilder::Style::Heading : BookBuilder::Style::Subheading;
            frame.level = qMax(1, m_sectionDepth);
        } else if (name == u"p" || name == u"v" || name == u"text-author" || name == u"tr") {
            frame.actions |= Paragraph;
        } else if (name == u"subtitle") {
            frame.actions |= Paragraph;
            frame.style = BookBuilder::Style::Subheading;
        } else if (name == u"td" || name == u"th") {
            frame.actions |= Cell;
        } else if (name == u"empty-line") {
            m_builder.emptyLine();
        } else if (name == u"emphasis") {
            frame.actions |= Italic;
        } else if (name == u"strong") {
            frame.actions |= Bold;
        }
        if (frame.actions & Notes)
            m_builder.beginNotes();
        if (frame.actions & Paragraph) {
            BookBuilder::Style style = frame.style;
            int level = 0;
            for (auto it = m_stack.rbegin(); it != m_stack.rend(); ++it) {
                if (it->actions & Heading) {
                    if (style == BookBuilder::Style::Body)
                        style = it->style;
                    // The title's first paragraph opens the heading, the others go on.
                    if (!m_builder.inNotes() && !(frame.actions & Heading))
                        level = it->paragraphs++ == 0 ? it->level : -it->level;
                    break;
                }
            }
            m_builder.beginParagraph(style, level);
            ++m_inParagraph;
            m_cells = 0;
        }
        if (frame.actions & Cell) {
            if (m_cells++ > 0)
                m_builder.addText(u"\t", false);
        }
        if (frame.actions & Bold)
            m_builder.pushBold();
        if (frame.actions & Italic)
            m_builder.pushItalic();
        m_stack.push_back(frame);
    }

    void end() {
        if (m_xml.name() == u"section")
            m_sectionDepth = qMax(0, m_sectionDepth - 1);
        if (m_stack.empty())
            return;
        const Frame frame = m_stack.back();
        m_stack.pop_back();
        if (frame.actions & Italic)
            m_builder.popItalic();
        if (frame.actions & Bold)
            m_builder.popBold();
        if (frame.actions & Paragraph) {
            m_builder.endParagraph();
            --m_inParagraph;
        }
        if (frame.actions & Notes)
            m_builder.endNotes();
    }

    // The book's title and authors from <title-info>; the rest of the description
    // (document history, publisher) is not part of the book.
    void readDescription() {
        int depth = 1;
        bool titleInfo = false;
        QString author[4];
        while (depth > 0 && !m_xml.atEnd()) {
            const auto token = m_xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                ++depth;
                const QStringView name = m_xml.name();
                if (name == u"title-info") {
                    titleInfo = true;
                } else if (titleInfo && name == u"book-title") {
                    m_title = XmlGuard::elementText(m_xml);
                    --depth;
                } else if (titleInfo && name == u"author") {
                    for (QString& part : author)
                        part.clear();
                } else if (titleInfo && (name == u"first-name" || name == u"middle-name" ||
                                         name == u"last-name" || name == u"nickname")) {
                    const int index = name == u"first-name"    ? 0
                                      : name == u"middle-name" ? 1
                                      : name == u"last-name"   ? 2
                                                               : 3;
                    author[index] = XmlGuard::elementText(m_xml).simplified();
                    --depth;
                } else if (name == u"binary" || name == u"coverpage" || name == u"annotation") {
                    m_xml.skipCurrentElement();
                    --depth;
                }
            } else if (token == QXmlStreamReader::EndElement) {
                --depth;
                const QStringView name = m_xml.name();
                if (name == u"title-info") {
                    titleInfo = false;
                } else if (titleInfo && name == u"author") {
                    QStringList parts;
                    for (int i = 0; i < 3; ++i)
                        if (!author[i].isEmpty())
                            parts.append(author[i]);
                    if (parts.isEmpty() && !author[3].isEmpty())
                        parts.append(author[3]);
                    if (!parts.isEmpty())
                        m_authors.append(parts.join(QLatin1Char(' ')));
                }
            }
        }
    }

    QByteArray m_data;
    QXmlStreamReader m_xml;
    BookBuilder& m_builder;
    std::vector<Frame> m_stack;
    int m_sectionDepth = 0;
    int m_inParagraph = 0;
    int m_cells = 0;
    QString m_title;
    QStringList m_authors;
};

} // namespace

bool read(QByteArrayView data, BookBuilder& builder) {
    return Reader(data, builder).read();
}

bool looksLikeFb2(QByteArrayView data) {
    const QByteArrayView head = data.first(qMin<qsizetype>(data.size(), 4096));
    return head.contains("<FictionBook");
}

} // namespace Fb2Reader
