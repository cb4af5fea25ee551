#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

// Code page 1251 codec of our own: each of the 256 byte values maps to exactly one
// Unicode character (0x98, undefined in the code page, maps to U+0098), so decoding
// and encoding unchanged text gives back the same bytes. Characters without a
// code-page form are written as '?'.
namespace Cp1251 {
QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);
char16_t toUnicode(unsigned char byte);
// The byte for a character, or -1 when the code page has no form for it.
int fromUnicode(char16_t ch);

// The text as a book is stored: combining accents dropped (the letters stay readable),
// typographic spaces, hyphens, dashes, the minus and a few marks of other code pages in
// their nearest code-page form, letters with diacritics as their base letters. What
// has no near form is left as it is (and becomes '?' when encoded).
QString storable(QStringView text);
// encode(storable(text)).
QByteArray encodeStorable(QStringView text);
// The distinct characters of the text that the code page lacks (a character outside
// the basic plane counts once), in order of first appearance, at most `limit`.
QStringList missingCharacters(QStringView text, int limit);
} // namespace Cp1251
