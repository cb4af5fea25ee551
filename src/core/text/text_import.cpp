#include "core/text/text_import.h"

#include "core/base/cp1251.h"
#include "core/text/imported_text.h"

#include <QStringDecoder>

namespace TextImport {

bool isValidUtf8(QByteArrayView bytes, bool* hasMultiByte) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    bool multi = false;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        unsigned int cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        multi = true;
        i += extra + 1;
    }
    if (hasMultiByte)
        *hasMultiByte = multi;
    return true;
}

Encoding detectEncoding(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return Encoding::Utf8;
    if (bytes.startsWith("\xFF\xFE"))
        return Encoding::Utf16LE;
    if (bytes.startsWith("\xFE\xFF"))
        return Encoding::Utf16BE;
    bool multi = false;
    if (isValidUtf8(bytes, &multi) && multi)
        return Encoding::Utf8;
    return Encoding::Cp1251;
}

QString decode(QByteArrayView bytes) {
    switch (detectEncoding(bytes)) {
    case Encoding::Utf8:
        return ImportedText::decode(bytes, ImportedText::CodePage::Utf8);
    case Encoding::Utf16LE:
        return ImportedText::decode(bytes, ImportedText::CodePage::Utf16LE);
    case Encoding::Utf16BE:
        return ImportedText::decode(bytes, ImportedText::CodePage::Utf16BE);
    case Encoding::Cp1251:
        break;
    }
    return Cp1251::decode(bytes);
}

qsizetype LineBreakNormaliser::feedInto(QStringView piece, QChar* out) {
    const QChar* p = piece.data();
    const qsizetype n = piece.size();
    if (n == 0)
        return 0;
    QChar* w = out;
    auto emitBreak = [&w, this] {
        for (const QChar c : m_break)
            *w++ = c;
    };
    qsizetype i = 0;
    if (m_pendingCr) {
        m_pendingCr = false;
        emitBreak();
        if (p[0] == QLatin1Char('\n'))
            i = 1;
    }
    for (; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c == u'\n') {
            emitBreak();
        } else if (c == u'\r') {
            if (i + 1 == n) {
                m_pendingCr = true; // the LF may open the next piece
            } else {
                emitBreak();
                if (p[i + 1] == QLatin1Char('\n'))
                    ++i;
            }
        } else {
            *w++ = p[i];
        }
    }
    return w - out;
}

void LineBreakNormaliser::feed(QStringView piece, QString& out) {
    const qsizetype start = out.size();
    out.resize(start + piece.size() * qMax<qsizetype>(1, m_break.size()) + m_break.size());
    const qsizetype written = feedInto(piece, out.data() + start);
    out.truncate(start + written);
}

void LineBreakNormaliser::finish(QString& out) {
    if (m_pendingCr)
        out.append(m_break);
    m_pendingCr = false;
}

void normaliseInPlace(QString& text) {
    constexpr qsizetype kPiece = 1 << 16;
    LineBreakNormaliser normaliser(u"\n");
    QChar* buffer = text.data();
    qsizetype written = 0;
    for (qsizetype pos = 0; pos < text.size(); pos += kPiece)
        written += normaliser.feedInto(QStringView(buffer + pos, qMin(kPiece, text.size() - pos)),
                                       buffer + written);
    text.truncate(written);
    normaliser.finish(text);
}

} // namespace TextImport
