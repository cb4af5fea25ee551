#pragma once

#include <QByteArray>

class QTextDocument;

// Writes a text document as RTF: code page 1251, a font and a colour table, the
// character formatting of every run and the alignment of every paragraph.
// Code-page characters are written as \'hh, all others as \uN with '?' as fallback.
QByteArray writeRtf(const QTextDocument& document);
