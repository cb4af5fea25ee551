#pragma once

#include <QByteArrayView>
#include <QString>

// The code page of an imported text file (the add-book preview). A byte-order mark or
// valid UTF-8 with a multi-byte sequence decide first; then UTF-16 without a mark is
// known by its zero bytes, and uchardet names a Cyrillic code page. A short or unclear
// text is code page 1251. Books of the library are not read this way: they are always
// the library's own code page 1251.
namespace ImportedText {

enum class CodePage { Cp1251, Koi8R, Cp866, Iso88595, MacCyrillic, Utf8, Utf16LE, Utf16BE };

CodePage detect(QByteArrayView bytes);
// Decodes in the given code page (dropping a byte-order mark). Every text file, a
// book of the library or an import, is decoded here: a damaged character, also one
// cut off at the end, becomes U+FFFD.
QString decode(QByteArrayView bytes, CodePage codePage);
inline QString decode(QByteArrayView bytes) {
    return decode(bytes, detect(bytes));
}
// UTF-16 in the byte order its mark or its zero bytes tell; little-endian when neither
// does (a code page chosen by hand).
CodePage utf16Order(QByteArrayView bytes);
// The encoding name a charset declaration would use ("koi8-r").
QString nameOf(CodePage codePage);
// A code page from a declared name ("windows-1251", "cp866"...), if it is one of ours.
bool fromName(QStringView name, CodePage* codePage);

} // namespace ImportedText
