#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QXmlStreamReader;

// What every XML part of a book (FB2, EPUB, DOCX, ODT) goes through before the XML
// reader sees it, and the one way the readers take an element's text.
// - A part that declares its own entities is no book's: entity tricks multiply a small
//   file into a huge text.
// - The XML reader keeps each open element: tags nested deeper than any book's are left
//   out, their text kept.
// - An element with thousands of attributes costs the XML reader time with their square:
//   the part ends before it, as a damaged file would.
namespace XmlGuard {

// Attributes one element may have, at most.
constexpr int kMaxAttributes = 2000;
// Elements nested deeper than this lose their tags, not their text.
constexpr int kMaxDepth = 1000;

// The part as the XML reader may read it: whole, cut before the first element with
// too many attributes, without the tags nested deeper than kMaxDepth, or empty when it
// declares entities.
QByteArray checked(const QByteArray& data);
// The length of `data` that holds no element with more than `maxAttributes`
// attributes (quoted values are counted; HTML's unquoted ones too).
qsizetype lengthBeforeCrowdedTag(QByteArrayView data, int maxAttributes = kMaxAttributes);
bool declaresEntities(QByteArrayView data);

// The text of the element just started and of all its children, however deep, read
// to the element's end without recursion.
QString elementText(QXmlStreamReader& xml);

} // namespace XmlGuard
