#include "core/formats/html_content.h"

#include <QSet>

#include <algorithm>

namespace {

bool isBlock(QStringView name) {
    static const QSet<QString> blocks = {
        QStringLiteral("p"),          QStringLiteral("div"),     QStringLiteral("li"),
        QStringLiteral("blockquote"), QStringLiteral("dt"),      QStringLiteral("dd"),
        QStringLiteral("section"),    QStringLiteral("article"), QStringLiteral("header"),
        QStringLiteral("footer"),     QStringLiteral("aside"),   QStringLiteral("figure"),
        QStringLiteral("figcaption"), QStringLiteral("table"),   QStringLiteral("ul"),
        QStringLiteral("ol"),         QStringLiteral("main"),    QStringLiteral("address"),
        QStringLiteral("center"),     QStringLiteral("dl"),      QStringLiteral("hr"),
        QStringLiteral("caption"),    QStringLiteral("body"),    QStringLiteral("nav"),
        QStringLiteral("details"),    QStringLiteral("summary"), QStringLiteral("fieldset"),
        QStringLiteral("legend"),     QStringLiteral("form"),    QStringLiteral("tr"),
        QStringLiteral("pre"),        QStringLiteral("h1"),      QStringLiteral("h2"),
        QStringLiteral("h3"),         QStringLiteral("h4"),      QStringLiteral("h5"),
        QStringLiteral("h6"),         QStringLiteral("html"),    QStringLiteral("tbody"),
        QStringLiteral("thead"),      QStringLiteral("tfoot"),
    };
    return blocks.contains(name.toString());
}

bool isSkipped(QStringView name) {
    static const QSet<QString> skipped = {
        QStringLiteral("script"), QStringLiteral("style"),    QStringLiteral("template"),
        QStringLiteral("svg"),    QStringLiteral("math"),     QStringLiteral("iframe"),
        QStringLiteral("object"), QStringLiteral("select"),   QStringLiteral("noscript"),
        QStringLiteral("button"), QStringLiteral("textarea"),
    };
    return skipped.contains(name.toString());
}

bool hasWord(const QString& list, QLatin1StringView word) {
    for (const QStringView item : QStringView(list).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (item.compare(word, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Footnote and endnote bodies, however the page marks them.
bool isNoteBody(const HtmlContent::Attributes& attributes) {
    const QString type = attributes(QLatin1StringView("epub:type"));
    const QString role = attributes(QLatin1StringView("role"));
    const QString cls = attributes(QLatin1StringView("class"));
    for (const char* word :
         {"footnote", "footnotes", "endnote", "endnotes", "rearnote", "rearnotes", "note"})
        if (hasWord(type, QLatin1StringView(word)))
            return true;
    for (const char* word : {"doc-footnote", "doc-endnotes", "doc-endnote", "doc-footnotes"})
        if (hasWord(role, QLatin1StringView(word)))
            return true;
    return hasWord(cls, QLatin1StringView("footnotes"));
}

bool isNoteReference(const HtmlContent::Attributes& attributes) {
    return hasWord(attributes(QLatin1StringView("epub:type")), QLatin1StringView("noteref")) ||
           hasWord(attributes(QLatin1StringView("role")), QLatin1StringView("doc-noteref"));
}

bool isBackLink(const HtmlContent::Attributes& attributes) {
    return hasWord(attributes(QLatin1StringView("role")), QLatin1StringView("doc-backlink")) ||
           hasWord(attributes(QLatin1StringView("class")), QLatin1StringView("footnote-back"));
}

} // namespace

BookBuilder::Style HtmlContent::currentStyle() const {
    return m_stack.empty() ? BookBuilder::Style::Body : m_stack.back().style;
}

int HtmlContent::currentLevel() const {
    return m_stack.empty() ? 0 : m_stack.back().level;
}

void HtmlContent::start(QStringView name, const Attributes& attributes) {
    Frame frame;
    if (m_skip > 0 || isSkipped(name)) {
        frame.actions = Skip;
    } else if (name == u"head") {
        frame.actions = Head;
    } else if (m_head > 0) {
        if (name == u"title") {
            frame.actions = Title;
        } else if (name == u"meta") {
            const QString meta = attributes(QLatin1StringView("name")).toLower();
            if (meta == u"author" || meta == u"dc.creator")
                m_author = attributes(QLatin1StringView("content")).simplified();
        }
    } else if (name == u"br") {
        m_builder.beginParagraph(currentStyle(), m_builder.inNotes() ? 0 : -currentLevel());
    } else if (name == u"a" && isBackLink(attributes)) {
        frame.actions = Skip;
    } else {
        if (isBlock(name) && m_cells > 0 && name != u"tr" && name != u"table") {
            // A paragraph inside a table cell goes on the row's line, after a space.
            if (std::exchange(m_cellHasText, true))
                m_builder.addText(u" ", false);
        } else if (isBlock(name)) {
            frame.actions |= Block;
        }
        if (name.size() == 2 && name[0] == u'h' && name[1] >= u'1' && name[1] <= u'6') {
            frame.style =
                name[1] <= u'2' ? BookBuilder::Style::Heading : BookBuilder::Style::Subheading;
            frame.level = name[1].unicode() - u'0';
        }
        if (name == u"b" || name == u"strong" || name == u"th")
            frame.actions |= Bold;
        if (name == u"i" || name == u"em" || name == u"cite" || name == u"dfn" || name == u"var")
            frame.actions |= Italic;
        if (name == u"pre")
            frame.actions |= Preformatted;
        if (name == u"ol")
            frame.actions |= OrderedList;
        if (name == u"ul" || name == u"ol")
            frame.actions |= List;
        if (name == u"tr")
            frame.actions |= Row;
        if (isNoteBody(attributes))
            frame.actions |= Notes;
        else if ((name == u"a" || name == u"sup") && isNoteReference(attributes))
            frame.actions |= NoteReference;
    }

    if (frame.style == BookBuilder::Style::Body)
        frame.style = currentStyle();
    if (frame.level == 0)
        frame.level = currentLevel();
    const unsigned a = frame.actions;
    if (a & Notes)
        m_builder.beginNotes();
    if (a & Block)
        m_builder.beginParagraph(frame.style, m_builder.inNotes() ? 0 : frame.level);
    if (a & Bold)
        m_builder.pushBold();
    if (a & Italic)
        m_builder.pushItalic();
    if (a & NoteReference)
        m_builder.addText(u"[");
    if (a & List)
        m_lists.push_back(Counter{m_stack.size(), bool(a & OrderedList), 0});
    if (a & Row)
        m_rows.push_back(Counter{m_stack.size(), false, 0});
    if (name == u"li" && m_skip == 0 && !m_lists.empty()) {
        Counter& list = m_lists.back();
        ++list.count;
        // The number goes before the item's first text, also inside a paragraph.
        m_itemPrefix = list.ordered ? QStringLiteral("%1. ").arg(list.count) : QStringLiteral("• ");
    }
    if ((name == u"td" || name == u"th") && m_skip == 0 && !m_rows.empty()) {
        if (m_rows.back().count++ > 0)
            m_builder.addText(u"\t", false);
        frame.actions |= Cell;
        ++m_cells;
        m_cellHasText = false;
    }
    m_skip += (a & Skip) ? 1 : 0;
    m_head += (a & Head) ? 1 : 0;
    m_titleDepth += (a & Title) ? 1 : 0;
    m_preformatted += (a & Preformatted) ? 1 : 0;
    m_stack.push_back(frame);
}

void HtmlContent::end() {
    if (m_stack.empty())
        return;
    const Frame frame = m_stack.back();
    m_stack.pop_back();
    if (!m_lists.empty() && m_lists.back().depth == m_stack.size())
        m_lists.pop_back();
    if (!m_rows.empty() && m_rows.back().depth == m_stack.size())
        m_rows.pop_back();
    const unsigned a = frame.actions;
    m_skip -= (a & Skip) ? 1 : 0;
    m_head -= (a & Head) ? 1 : 0;
    m_titleDepth -= (a & Title) ? 1 : 0;
    m_preformatted -= (a & Preformatted) ? 1 : 0;
    m_cells -= (a & Cell) ? 1 : 0;
    if (a & NoteReference)
        m_builder.addText(u"]");
    if (a & Italic)
        m_builder.popItalic();
    if (a & Bold)
        m_builder.popBold();
    if (a & Block)
        m_builder.endParagraph();
    if (a & Notes)
        m_builder.endNotes();
}

void HtmlContent::text(QStringView text) {
    if (m_skip > 0)
        return;
    if (m_cells > 0 && !text.trimmed().isEmpty())
        m_cellHasText = true;
    if (m_titleDepth > 0) {
        m_title += text;
        return;
    }
    if (m_head > 0)
        return;
    if (!m_itemPrefix.isEmpty()) {
        if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); }))
            return;
        m_builder.addText(std::exchange(m_itemPrefix, QString()), false);
    }
    if (m_preformatted == 0) {
        m_builder.addText(text);
        return;
    }
    // Preformatted text keeps its lines and spaces.
    const auto lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            m_builder.beginParagraph(currentStyle());
        m_builder.addText(lines[i], false);
    }
}
