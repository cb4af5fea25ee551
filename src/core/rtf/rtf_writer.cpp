#include "core/rtf/rtf_writer.h"

#include "core/base/cp1251.h"

#include <QColor>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace {

void appendEscaped(QByteArray& out, QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += char(c);
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c == QChar::LineSeparator || c == u'\n') {
            out += "\\line ";
        } else if (c >= 0x20 && c < 0x80) {
            out += char(c);
        } else {
            const int b = Cp1251::fromUnicode(c);
            if (b >= 0 && c >= 0x20) {
                out += "\\'";
                out += QByteArray::number(b, 16).rightJustified(2, '0');
            } else {
                out += "\\u";
                out += QByteArray::number(qint16(c));
                out += '?';
            }
        }
    }
}

} // namespace

QByteArray writeRtf(const QTextDocument& document) {
    QStringList fonts;
    QList<QColor> colors;
    const QString defaultFamily = document.defaultFont().family();
    fonts.append(defaultFamily);

    QByteArray body;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin())
            body += "\\par\n";
        body += "\\pard";
        const Qt::Alignment align = block.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
        if (align & Qt::AlignHCenter)
            body += "\\qc";
        else if (align & Qt::AlignRight)
            body += "\\qr";
        else if (align & Qt::AlignJustify)
            body += "\\qj";
        body += ' ';
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            const QFont font = format.font();
            QString family = font.family();
            if (family.isEmpty())
                family = defaultFamily;
            qsizetype fontIndex = fonts.indexOf(family);
            if (fontIndex < 0) {
                fonts.append(family);
                fontIndex = fonts.size() - 1;
            }
            int colorIndex = 0;
            if (format.hasProperty(QTextFormat::ForegroundBrush)) {
                const QColor color = format.foreground().color();
                qsizetype index = colors.indexOf(color);
                if (index < 0) {
                    colors.append(color);
                    index = colors.size() - 1;
                }
                colorIndex = int(index) + 1;
            }
            qreal points = font.pointSizeF();
            if (points <= 0 && font.pixelSize() > 0)
                points = font.pixelSize() * 0.75;
            if (points <= 0)
                points = 12;
            body += "{\\f" + QByteArray::number(fontIndex);
            body += "\\fs" + QByteArray::number(qRound(points * 2));
            if (font.bold())
                body += "\\b";
            if (font.italic())
                body += "\\i";
            if (font.underline())
                body += "\\ul";
            if (font.strikeOut())
                body += "\\strike";
            if (colorIndex > 0)
                body += "\\cf" + QByteArray::number(colorIndex);
            body += ' ';
            appendEscaped(body, fragment.text());
            body += '}';
        }
    }

    QByteArray out = "{\\rtf1\\ansi\\ansicpg1251\\deff0\\uc1\n{\\fonttbl";
    for (qsizetype i = 0; i < fonts.size(); ++i) {
        out += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset204 ";
        appendEscaped(out, fonts[i]);
        out += ";}";
    }
    out += "}\n{\\colortbl;";
    for (const QColor& color : colors)
        out += "\\red" + QByteArray::number(color.red()) + "\\green" +
               QByteArray::number(color.green()) + "\\blue" + QByteArray::number(color.blue()) +
               ';';
    out += "}\n";
    out += body;
    out += "}\n";
    return out;
}
