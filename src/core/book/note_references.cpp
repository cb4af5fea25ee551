#include "core/book/note_references.h"

#include "core/book/book_text.h"

#include <QString>

namespace NoteReferences {

namespace {

constexpr qsizetype kLongest = 6; // «[9999]»

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

std::optional<Reference> at(const BookText& text, qsizetype offset) {
    const qsizetype length = text.length();
    if (offset < 0 || offset > length)
        return std::nullopt;
    // The «[» at or before the place, within a reference's length.
    for (qsizetype open = std::min(offset, length - 1); open >= 0 && open >= offset - kLongest;
         --open) {
        const char16_t c = text.at(open);
        if (c == u'[') {
            qsizetype close = open + 1;
            int number = 0;
            while (close < length && close - open <= kLongest - 1 && isDigit(text.at(close))) {
                number = number * 10 + (text.at(close) - u'0');
                ++close;
            }
            if (close == open + 1 || close >= length || text.at(close) != u']' ||
                offset > close + 1)
                return std::nullopt;
            return Reference{open, close + 1, number};
        }
        if (c != u']' && !isDigit(c))
            return std::nullopt;
    }
    return std::nullopt;
}

qsizetype target(const BookText& text, const Reference& reference, qsizetype notes) {
    if (notes < 0)
        return -1;
    const QString mark = QStringLiteral("[%1]").arg(reference.number);
    BookText::FindOptions options;
    options.matchCase = true;
    if (reference.from < notes)
        return text.find(mark, notes, options);
    // Back from a note: the last reference before the notes.
    options.forward = false;
    return text.find(mark, notes, options);
}

qsizetype notesStart(const BookText& text) {
    BookText::FindOptions options;
    options.matchCase = true;
    options.forward = false;
    const QString heading = QStringLiteral("Примечания");
    qsizetype at = text.find(heading, text.length(), options);
    // A paragraph of its own.
    while (at >= 0) {
        const int paragraph = text.paragraphAt(at);
        if (text.text(text.paragraphStart(paragraph), text.paragraphEnd(paragraph)).trimmed() ==
            heading)
            return at;
        at = at > 0 ? text.find(heading, at, options) : -1;
    }
    return -1;
}

} // namespace NoteReferences
