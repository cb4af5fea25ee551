#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <utility>
#include <vector>

// How a book is kept in the search index. One document a book: its words' stems with
// their positions (1, 2, 3... in text order); the book's name, file, size and time as
// values; and as data every 32nd word's byte and CR LF offset, from which any word's
// place in the book file is found by reading a few hundred bytes.
namespace IndexFormat {

// Raised when the format changes; an index of another format is rebuilt.
inline constexpr const char* kFormatKey = "tomeria-format";
// 2: a surname in «ов»/«ев» is held by the stem of its other forms.
inline constexpr const char* kFormat = "2";

enum Slot { NameSlot = 0, StampSlot = 1, PathSlot = 2, ConvertedSlot = 3 };
constexpr int kCheckpointEvery = 32;

// The unique term naming a book's document.
std::string idTerm(const QString& name);
// The term telling that a book uses a word in «ов»/«ев» as a surname, by its surname stem.
std::string surnameTerm(const std::string& surnameStem);
// Size and modification time of a book file ("" when it is missing).
QString stampOf(const QString& path);

using Checkpoints = std::vector<std::pair<qint64, qint64>>; // (byte, offset)
std::string encodeCheckpoints(const Checkpoints& points);
Checkpoints decodeCheckpoints(const std::string& data);

// A book's text as code page 1251 bytes, as the reader decodes it: the file itself, or
// for a book with a byte-order mark or in UTF-8, its text converted (`converted` true).
QByteArray bookImage(const QByteArray& fileBytes, bool* converted);

} // namespace IndexFormat
