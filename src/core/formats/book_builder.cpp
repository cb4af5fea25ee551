#include "core/formats/book_builder.h"

namespace {

constexpr int kBodyHalfPoints = 24;

int halfPointsOf(BookBuilder::Style style) {
    switch (style) {
    case BookBuilder::Style::Title:
        return 36;
    case BookBuilder::Style::Heading:
        return 32;
    case BookBuilder::Style::Subheading:
        return 28;
    case BookBuilder::Style::Body:
        break;
    }
    return kBodyHalfPoints;
}

// White space that HTML and XML books collapse; a no-break space is kept.
inline bool isCollapsibleSpace(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u == u' ' || u == u'\n' || u == u'\t' || u == u'\r' || u == u'\f' || u == u'\v';
    return u != 0xA0 && c.isSpace();
}

bool isBlank(const RtfParagraph& paragraph) {
    for (const RtfRun& run : paragraph.runs)
        for (const QChar c : run.text)
            if (!c.isSpace())
                return false;
    return true;
}

QString textOf(const RtfParagraph& paragraph) {
    QString text;
    for (const RtfRun& run : paragraph.runs)
        text += run.text;
    return text.simplified();
}

RtfParagraph line(const QString& text, BookBuilder::Style style) {
    RtfParagraph paragraph;
    if (!text.isEmpty()) {
        RtfCharFormat format;
        format.halfPoints = halfPointsOf(style);
        format.bold = style != BookBuilder::Style::Body;
        paragraph.runs.append(RtfRun{text, format});
    }
    return paragraph;
}

} // namespace

RtfCharFormat BookBuilder::currentFormat(Style style) const {
    RtfCharFormat format;
    format.halfPoints = halfPointsOf(style);
    format.bold = m_bold > 0 || style != Style::Body;
    format.italic = m_italic > 0;
    return format;
}

void BookBuilder::beginParagraph(Style style, int level) {
    endParagraph();
    Stream& s = stream();
    const qsizetype index = s.document.paragraphs.size();
    if (level > 0) {
        s.headings.append(HeadingPlace{index, level});
    } else if (level < 0) {
        // A further line of a heading right after its first stays one heading.
        const bool continues = !s.headings.isEmpty() && s.headings.last().level == -level &&
                               s.headings.last().paragraph + s.headings.last().paragraphs == index;
        if (continues)
            ++s.headings.last().paragraphs;
        else
            s.headings.append(HeadingPlace{index, -level});
    }
    s.document.paragraphs.append(RtfParagraph());
    s.open = true;
    s.style = style;
    s.pendingSpace = false;
    s.hasText = false;
}

void BookBuilder::endParagraph() {
    Stream& s = stream();
    if (!s.open)
        return;
    s.open = false;
    RtfParagraph& last = s.document.paragraphs.last();
    if (isBlank(last)) {
        s.document.paragraphs.removeLast();
        const qsizetype removed = s.document.paragraphs.size();
        if (!s.headings.isEmpty() && s.headings.last().paragraph == removed)
            s.headings.removeLast();
        else if (!s.headings.isEmpty() &&
                 s.headings.last().paragraph + s.headings.last().paragraphs > removed)
            --s.headings.last().paragraphs;
        return;
    }
    // Trailing white space of the paragraph is dropped.
    while (!last.runs.isEmpty()) {
        QString& text = last.runs.last().text;
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1).isSpace())
            --end;
        text.truncate(end);
        if (!text.isEmpty())
            break;
        last.runs.removeLast();
    }
}

void BookBuilder::emptyLine() {
    endParagraph();
    stream().document.paragraphs.append(RtfParagraph());
}

void BookBuilder::endNotes() {
    endParagraph();
    m_inNotes = qMax(0, m_inNotes - 1);
}

void BookBuilder::addText(QStringView text, bool collapse) {
    if (text.isEmpty())
        return;
    Stream& s = stream();
    if (!s.open)
        beginParagraph(Style::Body);
    RtfParagraph& paragraph = s.document.paragraphs.last();
    const RtfCharFormat format = currentFormat(s.style);
    if (paragraph.runs.isEmpty() || !(paragraph.runs.last().format == format))
        paragraph.runs.append(RtfRun{QString(), format});
    QString& out = paragraph.runs.last().text;
    const qsizetype before = out.size();
    if (!collapse) {
        if (s.pendingSpace && !text.front().isSpace())
            out += QLatin1Char(' ');
        s.pendingSpace = false;
        const qsizetype start = out.size();
        out += text;
        // A line break inside kept text would split the paragraph: it is a space.
        for (qsizetype i = start; i < out.size(); ++i)
            if (out[i] == u'\n' || out[i] == u'\r')
                out[i] = QLatin1Char(' ');
        s.hasText = true;
    } else {
        // Runs of visible characters are copied whole (no reserve: a paragraph made
        // of many small pieces must grow geometrically).
        const QChar* p = text.data();
        const qsizetype n = text.size();
        qsizetype i = 0;
        while (i < n) {
            if (isCollapsibleSpace(p[i])) {
                s.pendingSpace = s.pendingSpace || s.hasText;
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < n && !isCollapsibleSpace(p[j]))
                ++j;
            if (s.pendingSpace) {
                // The space between two runs belongs to the first ("a *b*", not "a* b*").
                if (out.isEmpty() && paragraph.runs.size() > 1) {
                    paragraph.runs[paragraph.runs.size() - 2].text += QLatin1Char(' ');
                    ++m_size;
                } else {
                    out += QLatin1Char(' ');
                }
            }
            s.pendingSpace = false;
            s.hasText = true;
            out.append(p + i, j - i);
            i = j;
        }
    }
    m_size += out.size() - before;
}

void BookBuilder::addHeading(qsizetype paragraph, int level) {
    endParagraph();
    const QList<RtfParagraph>& paragraphs = m_text.document.paragraphs;
    while (paragraph < paragraphs.size() && paragraphs.at(paragraph).runs.isEmpty())
        ++paragraph;
    if (paragraph >= paragraphs.size())
        return;
    auto at = std::lower_bound(m_text.headings.begin(), m_text.headings.end(), paragraph,
                               [](const HeadingPlace& h, qsizetype p) { return h.paragraph < p; });
    if (at != m_text.headings.end() && at->paragraph == paragraph)
        return;
    m_text.headings.insert(at, HeadingPlace{paragraph, level});
}

BookBuilder::Mark BookBuilder::mark() {
    endParagraph();
    return Mark{m_text.document.paragraphs.size(), m_notes.document.paragraphs.size(), m_size,
                m_inNotes};
}

void BookBuilder::rollback(const Mark& mark) {
    m_text.open = m_notes.open = false;
    m_text.pendingSpace = m_notes.pendingSpace = false;
    m_text.document.paragraphs.resize(qMin(mark.text, m_text.document.paragraphs.size()));
    while (!m_text.headings.isEmpty() && m_text.headings.last().paragraph >= mark.text)
        m_text.headings.removeLast();
    while (!m_notes.headings.isEmpty() && m_notes.headings.last().paragraph >= mark.notes)
        m_notes.headings.removeLast();
    m_notes.document.paragraphs.resize(qMin(mark.notes, m_notes.document.paragraphs.size()));
    m_size = mark.size;
    m_bold = m_italic = 0;
    m_inNotes = mark.inNotes;
}

bool BookBuilder::hasText() const {
    return m_size > 0;
}

RtfDocument BookBuilder::finish() {
    endParagraph();
    m_inNotes = 1;
    endParagraph();
    m_inNotes = 0;

    RtfDocument result;
    QList<RtfParagraph>& out = result.paragraphs;
    QList<RtfParagraph>& text = m_text.document.paragraphs;
    qsizetype first = 0;
    auto skipEmpty = [&] {
        while (first < text.size() && text.at(first).runs.isEmpty())
            ++first;
    };
    if (!m_title.isEmpty() || !m_author.isEmpty()) {
        if (!m_title.isEmpty())
            out.append(line(m_title, Style::Title));
        if (!m_author.isEmpty())
            out.append(line(m_author, Style::Body));
        // The text often opens with the same title and author (a title page): they
        // are shown once.
        for (int i = 0; i < 3; ++i) {
            skipEmpty();
            if (first == text.size())
                break;
            const QString opening = textOf(text.at(first));
            if (opening.compare(m_title, Qt::CaseInsensitive) != 0 &&
                opening.compare(m_author, Qt::CaseInsensitive) != 0)
                break;
            ++first;
        }
        skipEmpty();
        out.append(RtfParagraph());
    }
    out.reserve(out.size() + text.size() - first + m_notes.document.paragraphs.size() + 2);
    m_headings.clear();
    const qsizetype shift = out.size() - first;
    for (const HeadingPlace& h : std::as_const(m_text.headings))
        if (h.paragraph >= first)
            m_headings.append(HeadingPlace{h.paragraph + shift, h.level, h.paragraphs});
    for (qsizetype i = first; i < text.size(); ++i)
        out.append(std::move(text[i]));
    if (!m_notes.document.paragraphs.isEmpty()) {
        if (!out.isEmpty())
            out.append(RtfParagraph());
        m_headings.append(HeadingPlace{out.size(), 1});
        out.append(line(QStringLiteral("Примечания"), Style::Heading));
        for (RtfParagraph& paragraph : m_notes.document.paragraphs)
            out.append(std::move(paragraph));
    }
    // Empty lines at the end are dropped.
    while (!out.isEmpty() && out.last().runs.isEmpty())
        out.removeLast();
    m_text = Stream();
    m_notes = Stream();
    return result;
}
