#pragma once

#include <QString>
#include <QStringView>

#include <atomic>
#include <vector>

class BookText;

// One heading of a book: where its paragraph starts in the text (the offset of its first
// visible character), its rank and the words shown in the contents.
struct Heading {
    // Ranks, from the top of a book down. A heading belongs under the nearest heading
    // before it of a smaller rank. Imported books give 1…6 from their nesting.
    enum Rank { Volume = 1, Part = 2, Book = 3, Chapter = 4, Numbered = 5 };
    qsizetype offset = 0;
    int rank = Chapter;
    QString title;
    bool operator==(const Heading&) const = default;
};

// Finds the headings of a plain text. A heading is a short paragraph (at most about 80
// characters, no sentence ending inside) standing at the start of the book or after an
// empty line that is a word of structure («Глава», «Часть», «Пролог»… with what follows),
// a Roman or Arabic numeral alone, or a line in capitals. Lines standing right under
// such a heading (its name: «ГЛАВА I» then «СЕРЖАНТ ГВАРДИИ») join its title. Scene
// breaks («* * *»), lines of dialogue and numbered items of a list are not headings.
// A pure function of the text, safe on any thread; `stop` ends it early (an empty result).
namespace HeadingDetector {

std::vector<Heading> detect(const BookText& text, const std::atomic<bool>* stop = nullptr);

// One paragraph judged alone (trimmed): its rank when it could be a heading, else 0.
// `structureOnly` is what the detector asks of a line that follows a heading.
int rankOf(QStringView paragraph);

} // namespace HeadingDetector
