#include "core/formats/html_reader.h"

#include "core/formats/html_content.h"
#include "core/formats/xml_guard.h"
#include "core/text/imported_text.h"
#include "core/text/text_import.h"

#include <QSet>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <gumbo.h>

#include <memory>
#include <vector>

namespace HtmlReader {

namespace {

struct GumboOutputDeleter {
    void operator()(GumboOutput* output) const {
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
};

// The code page an HTML page declares in its first bytes (<meta charset=...> or the
// http-equiv form): the name after "charset=".
QString declaredCharset(QByteArrayView data) {
    const QByteArray head = data.first(qMin<qsizetype>(data.size(), 4096)).toByteArray().toLower();
    const qsizetype at = head.indexOf("charset=");
    if (at < 0)
        return QString();
    qsizetype begin = at + 8;
    while (begin < head.size() && (head[begin] == '"' || head[begin] == '\'' || head[begin] == ' '))
        ++begin;
    qsizetype end = begin;
    while (end < head.size() &&
           (QChar::isLetterOrNumber(uchar(head[end])) || head[end] == '-' || head[end] == '_'))
        ++end;
    return QString::fromLatin1(head.mid(begin, end - begin));
}

QString decodeHtml(QByteArrayView data) {
    ImportedText::CodePage codePage = ImportedText::detect(data);
    const bool marked = data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") ||
                        data.startsWith("\xFE\xFF");
    if (!marked && codePage != ImportedText::CodePage::Utf8) {
        bool hasMultiByte = false;
        ImportedText::CodePage declared;
        if (TextImport::isValidUtf8(data, &hasMultiByte))
            codePage = ImportedText::CodePage::Utf8;
        else if (ImportedText::fromName(declaredCharset(data), &declared) &&
                 declared != ImportedText::CodePage::Utf8)
            codePage = declared;
    }
    return ImportedText::decode(data, codePage);
}

// Walks the parser's tree in document order without recursion.
void walk(const GumboNode* root, HtmlContent& content) {
    struct Step {
        const GumboNode* node;
        unsigned int next;
    };
    std::vector<Step> stack;
    auto enter = [&](const GumboNode* node) {
        const GumboElement& element = node->v.element;
        QString name;
        if (element.tag != GUMBO_TAG_UNKNOWN)
            name = QString::fromLatin1(gumbo_normalized_tagname(element.tag));
        else if (element.original_tag.data)
            name = QString::fromUtf8(element.original_tag.data + 1,
                                     qsizetype(element.original_tag.length) - 1)
                       .section(QLatin1Char(' '), 0, 0)
                       .toLower();
        content.start(name, [&element](QLatin1StringView attribute) {
            const GumboAttribute* found =
                gumbo_get_attribute(&element.attributes, attribute.data());
            return found ? QString::fromUtf8(found->value) : QString();
        });
        stack.push_back({node, 0});
    };
    enter(root);
    while (!stack.empty()) {
        Step& step = stack.back();
        const GumboVector& children = step.node->v.element.children;
        if (step.next >= children.length) {
            stack.pop_back();
            content.end();
            continue;
        }
        const auto* child = static_cast<const GumboNode*>(children.data[step.next++]);
        switch (child->type) {
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE:
            enter(child);
            break;
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            content.text(QString::fromUtf8(child->v.text.text));
            break;
        default:
            break;
        }
    }
}

// The HTML parser slows down with the square of the nesting depth, which no book comes
// near. The page is read up to the first tag nested deeper than this, or the first
// with thousands of attributes: the text before it is kept, as from any damaged file.
constexpr int kMaxDepth = 512;

// The elements the parser keeps open, as it would keep them, or more. An end tag closes
// only an element it really closes: "</x>" after "<span>" closes nothing. Emphasis
// closed by the end of an enclosing element is opened again by the parser, so it stays
// counted until its own end tag or the end of the table cell it is in.
class OpenElements {
public:
    int depth() const { return int(m_stack.size()); }

    void start(const QByteArray& name) {
        if (name == "td" || name == "th")
            closeInTable({"td", "th"});
        else if (name == "tr")
            closeInTable({"tr"});
        m_stack.push_back(name);
    }

    void end(const QByteArray& name) {
        if (formatting().contains(name)) {
            for (qsizetype i = qsizetype(m_stack.size()) - 1; i >= 0; --i) {
                if (m_stack[i] == name) {
                    bool blockInside = false;
                    for (qsizetype k = i + 1; k < qsizetype(m_stack.size()); ++k)
                        blockInside = blockInside || special().contains(m_stack[k]);
                    if (blockInside)
                        m_stack[i] = QByteArray(); // moved, not closed: still counted
                    else
                        popFrom(i, true);
                    return;
                }
                if (scopeEnd().contains(m_stack[i]))
                    return;
            }
            return;
        }
        const bool isSpecial = special().contains(name);
        for (qsizetype i = qsizetype(m_stack.size()) - 1; i >= 0; --i) {
            if (m_stack[i] == name) {
                popFrom(i, false);
                return;
            }
            if (isSpecial ? scopeEnd().contains(m_stack[i]) : special().contains(m_stack[i]))
                return;
        }
    }

private:
    static const QSet<QByteArray>& formatting() {
        static const QSet<QByteArray> names = {"a",      "b",      "big",  "code", "em",
                                               "font",   "i",      "nobr", "s",    "small",
                                               "strike", "strong", "tt",   "u"};
        return names;
    }
    // Elements an end tag of another name does not pass.
    static const QSet<QByteArray>& special() {
        static const QSet<QByteArray> names = {
            "address", "applet",   "article",    "aside",    "blockquote", "body",     "button",
            "caption", "center",   "dd",         "details",  "dir",        "div",      "dl",
            "dt",      "fieldset", "figcaption", "figure",   "footer",     "form",     "frameset",
            "h1",      "h2",       "h3",         "h4",       "h5",         "h6",       "head",
            "header",  "hgroup",   "html",       "iframe",   "li",         "listing",  "main",
            "marquee", "menu",     "nav",        "noembed",  "noframes",   "noscript", "object",
            "ol",      "p",        "plaintext",  "pre",      "section",    "select",   "summary",
            "table",   "tbody",    "td",         "template", "tfoot",      "th",       "thead",
            "tr",      "ul",       "xmp"};
        return names;
    }
    // Where the parser stops looking for an element to close.
    static const QSet<QByteArray>& scopeEnd() {
        static const QSet<QByteArray> names = {"applet", "caption", "html",   "table",   "td",
                                               "th",     "marquee", "object", "template"};
        return names;
    }
    static bool isMarker(const QByteArray& name) {
        return name == "td" || name == "th" || name == "caption" || name == "applet" ||
               name == "object" || name == "marquee" || name == "template";
    }

    void closeInTable(std::initializer_list<const char*> names) {
        for (qsizetype i = qsizetype(m_stack.size()) - 1; i >= 0; --i) {
            if (m_stack[i] == "table")
                return;
            for (const char* name : names)
                if (m_stack[i] == name) {
                    popFrom(i, false);
                    return;
                }
        }
    }

    // Closes the element at `index` and all above it; the emphasis among them that the
    // parser opens again (outside any table cell closed with them) stays.
    void popFrom(qsizetype index, bool skipFirst) {
        std::vector<QByteArray> reopened;
        for (qsizetype k = index + (skipFirst ? 1 : 0); k < qsizetype(m_stack.size()); ++k) {
            if (isMarker(m_stack[k]))
                break;
            if (formatting().contains(m_stack[k]))
                reopened.push_back(m_stack[k]);
        }
        m_stack.resize(std::size_t(index));
        for (QByteArray& name : reopened)
            m_stack.push_back(std::move(name));
    }

    std::vector<QByteArray> m_stack;
};

qsizetype shallowPart(const QByteArray& html) {
    static const QSet<QByteArray> notNesting = {
        // void elements and elements closed without an end tag
        "area", "base", "br",     "col",    "embed", "hr",     "img",      "input",
        "link", "meta", "param",  "source", "track", "wbr",    "p",        "li",
        "dt",   "dd",   "option", "tbody",  "thead", "tfoot",  "colgroup", "optgroup",
        "rb",   "rt",   "rp",     "image",  "frame", "keygen", "basefont", "bgsound",
    };
    const qsizetype crowded = XmlGuard::lengthBeforeCrowdedTag(html);
    const char* p = html.constData();
    const qsizetype n = crowded;
    OpenElements open;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] != '<' || i + 1 >= n)
            continue;
        const qsizetype tagStart = i;
        const bool end = p[i + 1] == '/';
        qsizetype j = i + (end ? 2 : 1);
        if (!end && (p[j] == '!' || p[j] == '?'))
            continue;
        qsizetype nameEnd = j;
        while (nameEnd < n && (QChar::isLetterOrNumber(uchar(p[nameEnd])) || p[nameEnd] == '-' ||
                               p[nameEnd] == ':'))
            ++nameEnd;
        if (nameEnd == j || !QChar::isLetter(uchar(p[j])))
            continue;
        const QByteArray name = QByteArray(p + j, nameEnd - j).toLower();
        const qsizetype close = html.indexOf('>', nameEnd);
        if (close < 0 || close >= n)
            break;
        i = close;
        if (notNesting.contains(name))
            continue;
        if (end) {
            open.end(name);
            continue;
        }
        if (p[close - 1] == '/')
            continue;
        if (name == "script" || name == "style" || name == "textarea" || name == "title") {
            // Their text is not markup.
            const qsizetype after = html.indexOf("</" + name, close);
            i = after < 0 ? n : after - 1;
            continue;
        }
        open.start(name);
        if (open.depth() > kMaxDepth)
            return tagStart;
    }
    return crowded;
}

void parseHtml(QByteArray utf8, HtmlContent& content) {
    utf8.truncate(shallowPart(utf8));
    // The parser's list of errors copies its stack of open elements for each: not kept.
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    std::unique_ptr<GumboOutput, GumboOutputDeleter> output(
        gumbo_parse_with_options(&options, utf8.constData(), size_t(utf8.size())));
    if (output && output->root && output->root->type == GUMBO_NODE_ELEMENT)
        walk(output->root, content);
}

// Reads the page as XML; false when it is not well-formed (nothing is kept then).
bool parseXml(QByteArrayView data, BookBuilder& builder) {
    const BookBuilder::Mark mark = builder.mark();
    HtmlContent content(builder);
    QXmlStreamReader xml(XmlGuard::checked(QByteArray::fromRawData(data.data(), data.size())));
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            const QXmlStreamAttributes attributes = xml.attributes();
            content.start(xml.name().toString().toLower(), [&attributes](QLatin1StringView name) {
                for (const QXmlStreamAttribute& attribute : attributes)
                    if (attribute.qualifiedName() == name ||
                        (attribute.prefix().isEmpty() && attribute.name() == name) ||
                        (name == QLatin1StringView("epub:type") && attribute.name() == u"type" &&
                         attribute.namespaceUri() == u"http://www.idpf.org/2007/ops"))
                        return attribute.value().toString();
                return QString();
            });
            break;
        }
        case QXmlStreamReader::EndElement:
            content.end();
            break;
        case QXmlStreamReader::Characters:
            content.text(xml.text());
            break;
        default:
            break;
        }
    }
    if (xml.hasError()) {
        builder.rollback(mark);
        return false;
    }
    return true;
}

} // namespace

bool looksLikeHtml(QByteArrayView data) {
    const QByteArray head = data.first(qMin<qsizetype>(data.size(), 1024)).toByteArray().toLower();
    for (const char* marker : {"<!doctype html", "<html", "<body", "<head"})
        if (head.contains(marker))
            return true;
    return false;
}

bool readHtml(QByteArrayView data, BookBuilder& builder) {
    if (XmlGuard::declaresEntities(data))
        return false; // a trick of XML, not a page of a book
    HtmlContent content(builder);
    parseHtml(decodeHtml(data).toUtf8(), content);
    builder.setTitle(content.title());
    builder.setAuthor(content.author());
    return builder.hasText();
}

void readXhtml(QByteArrayView data, BookBuilder& builder) {
    if (XmlGuard::declaresEntities(data))
        return; // a trick of XML, not a page of a book
    if (parseXml(data, builder))
        return;
    HtmlContent content(builder);
    parseHtml(decodeHtml(data).toUtf8(), content);
}

} // namespace HtmlReader
