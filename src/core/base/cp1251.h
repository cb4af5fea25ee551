#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
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
} // namespace Cp1251
