#include "core/formats/xml_guard.h"

#include <QChar>
#include <QXmlStreamReader>

namespace XmlGuard {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

} // namespace

qsizetype lengthBeforeCrowdedTag(QByteArrayView data, int maxAttributes) {
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        i = data.indexOf('<', i);
        if (i < 0 || i + 1 >= n)
            return n;
        const char next = data[i + 1];
        if (!(QChar::isLetter(uchar(next)) || next == '_' || next == ':' || uchar(next) >= 0x80) &&
            next != '!' && next != '?' && next != '/') {
            ++i; // a lone '<' of a damaged page's text
            continue;
        }
        if (next == '!' || next == '?' || next == '/') {
            // Comments, declarations and end tags hold no attributes; their own ends
            // are looked for only where they could hide a '<'.
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
        ++i;
    }
    return n;
}

bool declaresEntities(QByteArrayView data) {
    return data.indexOf("<!ENTITY") >= 0;
}

QByteArray checked(const QByteArray& data) {
    if (declaresEntities(data))
        return QByteArray();
    const qsizetype length = lengthBeforeCrowdedTag(data);
    return length == data.size() ? data : data.first(length);
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
