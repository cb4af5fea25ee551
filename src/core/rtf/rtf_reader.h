#pragma once

#include <QByteArrayView>
#include <QColor>
#include <QFont>
#include <QList>
#include <QMap>
#include <QString>

class QTextDocument;

// A document read from RTF: paragraphs of formatted runs.
struct RtfCharFormat {
    int font = -1;       // font number of the font table, -1 for none
    int halfPoints = 24; // \fs
    int color = 0;       // index in the colour table, 0 = automatic
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool operator==(const RtfCharFormat&) const = default;
};

struct RtfRun {
    QString text;
    RtfCharFormat format;
};

struct RtfParagraph {
    Qt::Alignment alignment = Qt::AlignLeft;
    int outlineLevel = 0; // \outlinelevelN as N + 1: a heading of the contents; 0 for text
    QList<RtfRun> runs;
};

struct RtfFont {
    QString name;
    int codePage = 0;
};

struct RtfDocument {
    QList<RtfParagraph> paragraphs;
    QMap<int, RtfFont> fonts;
    QList<QColor> colors; // entry 0 may be invalid: automatic

    // The text, paragraphs joined by '\n'.
    QString plainText() const;
};

// Reads RTF source. Returns false when the data is not RTF at all (it does not open
// with "{\rtf"); otherwise reads whatever it can, whatever the damage: unbalanced
// groups, a truncated file and junk give the text read so far. Linear time, no
// recursion, any nesting depth.
bool readRtf(QByteArrayView data, RtfDocument& document);

// Whether the data opens as an RTF document.
bool looksLikeRtf(QByteArrayView data);

// Replaces the content of a text document with the RTF document, its formatting
// applied over the document's default font.
void fillTextDocument(const RtfDocument& rtf, QTextDocument& target);
