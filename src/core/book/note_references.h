#pragma once

#include <QtGlobal>

#include <optional>

class BookText;

// Note references of imported books: «[12]» in the text, the note «[12] …» after the
// heading «Примечания» at the end (as the importers place them).
namespace NoteReferences {

struct Reference {
    qsizetype from = 0; // the «[»
    qsizetype to = 0;   // after the «]»
    int number = 0;
};

// The reference a place stands in or beside, if any.
std::optional<Reference> at(const BookText& text, qsizetype offset);

// Where a reference leads: from the text to its note, from a note's own number back to
// the reference in the text. `notes` is where the notes begin (the heading «Примечания»),
// -1 when the book has none. -1 when there is nowhere to go.
qsizetype target(const BookText& text, const Reference& reference, qsizetype notes);

// Where the notes begin: the last paragraph «Примечания» of the book, or -1.
qsizetype notesStart(const BookText& text);

} // namespace NoteReferences
