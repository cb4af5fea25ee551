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

    // Writes the normalised piece at `out` and returns the number of characters written.
    // With a one-character break it never writes more than it reads, so `out` may point
    // into the same buffer as the piece, at or before it.
    qsizetype feedInto(QStringView piece, QChar* out);

private:
    QString m_break;
    bool m_pendingCr = false;
};

// Normalises the text in place, piece by piece, every line break becoming '\n'.
void normaliseInPlace(QString& text);

} // namespace TextImport
