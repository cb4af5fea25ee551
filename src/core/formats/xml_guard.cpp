#include "core/formats/xml_guard.h"

#include <QChar>
#include <QXmlStreamReader>

namespace XmlGuard {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

enum class TagKind { Start, End, Empty };

// Calls `visit(kind, begin, end)` for each tag in order (`end` past its '>'), skipping
// comments, CDATA and declarations; stops before a tag with more than `maxAttributes`
// attributes, or when `visit` returns false. Returns where it stopped (the length of
// the data when it read to the end).
template <typename Visit> qsizetype scanTags(QByteArrayView data, int maxAttributes, Visit visit) {
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        i = data.indexOf('<', i);
        if (i < 0 || i + 1 >= n)
            return n;
        const char next = data[i + 1];
        if (next == '!' || next == '?') {
            // Comments, CDATA, declarations: their own ends are looked for only where
            // they could hide a '<'.
            qsizetype end = -1;
            if (data.sliced(i).startsWith("<!--"))
                end = data.indexOf("-->", i + 4);
            else if (data.sliced(i).startsWith("<![CDATA["))
                end = data.indexOf("]]>", i + 9);
            else
                end = i + 1;
            if (end < 0)
                return n;
            i = end + 1;
            continue;
        }
        const bool endTag = next == '/';
        const char first = endTag ? (i + 2 < n ? data[i + 2] : ' ') : next;
        if (!(QChar::isLetter(uchar(first)) || first == '_' || first == ':' ||
              uchar(first) >= 0x80)) {
            ++i; // a lone '<' of a damaged page's text
            continue;
        }
        const qsizetype start = i;
        int attributes = 0;
        bool afterEquals = false;
        bool inToken = false;
        for (++i; i < n; ++i) {
            const char c = data[i];
            if (c == '>')
                break;
            if ((c == '"' || c == '\'') && afterEquals) {
                const qsizetype close = data.indexOf(c, i + 1);
                if (close < 0)
                    return n;
                i = close;
                afterEquals = false;
                continue;
            }
            if (isSpace(c)) {
                inToken = false;
                continue;
            }
            if (c == '=') {
                afterEquals = true;
                inToken = false;
                continue;
            }
            afterEquals = false;
            if (!inToken) {
                inToken = true;
                if (++attributes > maxAttributes + 1) // the first token is the name
                    return start;
            }
        }
        if (i >= n)
            return n;
        ++i;
        const TagKind kind = endTag               ? TagKind::End
                             : data[i - 2] == '/' ? TagKind::Empty
                                                  : TagKind::Start;
        if (!visit(kind, start, i))
            return start;
    }
    return n;
}

} // namespace

qsizetype lengthBeforeCrowdedTag(QByteArrayView data, int maxAttributes) {
    return scanTags(data, maxAttributes, [](TagKind, qsizetype, qsizetype) { return true; });
}

bool declaresEntities(QByteArrayView data) {
    return data.indexOf("<!ENTITY") >= 0;
}

QByteArray checked(const QByteArray& data) {
    if (declaresEntities(data))
        return QByteArray();
    // Tags nested deeper than the limit are left out, their text kept: the XML reader
    // keeps every open element, and no book nests so deep.
    QByteArray shallow;
    qsizetype copied = 0;
    qsizetype depth = 0;
    const qsizetype length =
        scanTags(data, kMaxAttributes, [&](TagKind kind, qsizetype begin, qsizetype end) {
            if (kind == TagKind::End)
                --depth;
            const bool deep = depth >= kMaxDepth;
            if (kind == TagKind::Start)
                ++depth;
            if (deep) {
                if (shallow.isEmpty())
                    shallow.reserve(data.size());
                shallow.append(data.constData() + copied, begin - copied);
                copied = end;
            }
            return true;
        });
    if (copied == 0)
        return length == data.size() ? data : data.first(length);
    shallow.append(data.constData() + copied, length - copied);
    return shallow;
}

QString elementText(QXmlStreamReader& xml) {
    QString text;
    qsizetype depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            text += xml.text();
            break;
        default:
            break;
        }
    }
    return text;
}

} // namespace XmlGuard
