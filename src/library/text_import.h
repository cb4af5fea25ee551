#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Turning the bytes of a text file into text: the encoding rules and the
// line-break normaliser used by every plain load.
namespace TextImport {

enum class Encoding { Cp1251, Utf8, Utf16LE, Utf16BE };

// A file starting with a UTF-8 or UTF-16 byte-order mark, or valid UTF-8 holding at
// least one multi-byte sequence, is that encoding; anything else is code page 1251.
Encoding detectEncoding(QByteArrayView bytes);
QString decode(QByteArrayView bytes);
bool isValidUtf8(QByteArrayView bytes, bool* hasMultiByte);

// Turns CR LF, a lone CR and a lone LF each into one line break. Text arrives in
// pieces; a CR at the end of one piece and an LF at the start of the next are one break.
class LineBreakNormaliser {
public:
    explicit LineBreakNormaliser(QStringView lineBreak) : m_break(lineBreak.toString()) {}
    void feed(QStringView piece, QString& out);
    void finish(QString& out);

private:
    QString m_break;
    bool m_pendingCr = false;
};

// The whole text with every line break as '\n', passed through the normaliser in pieces.
QString normalisedText(QStringView text);

} // namespace TextImport
