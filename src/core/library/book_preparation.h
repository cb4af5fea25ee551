#pragma once

#include "core/formats/book_import.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

class Library;

// What a book to add becomes before anything is written, one rule set for the add-book
// panel and the folder import: the name proposed from its title or first line, the
// bytes its file stores (code page 1251, CR LF, letters the code page lacks in their
// nearest form), the reasons a name or a text is refused and the questions asked
// before it is stored. Pure functions of their arguments (and of the library's
// catalogue and books folder for `check`), safe on any thread but `check`.
namespace BookPreparation {

// ---- The proposal ---------------------------------------------------------------------

// Names proposed from a title or a line are at most this many characters (a longer
// one would not fit a file name).
constexpr qsizetype kMaxProposedName = 100;
// The name of a book that gives nothing else to name it by.
QString fallbackName();

// A name as the library can store it: mapped as the stored text is (stress marks
// dropped, typographic spaces and dashes in their plain forms), '/' as '-', every
// other character a name cannot hold ('=', control characters, line breaks, tabs,
// characters code page 1251 lacks) as a space, each run of blanks one space, trimmed,
// and never starting with '.' (a file name starting with a dot is a hidden file).
QString storableName(QStringView raw);
// The name proposed from one line of text (the add panel passes the preview's display
// line): its storable form, at most kMaxProposedName characters; empty when nothing
// in it can name a book.
QString nameFromLine(QStringView line);
// The first line of a text that holds a visible character, trimmed, at most `limit`
// characters.
QString firstNonBlankLine(QStringView text, qsizetype limit = kMaxProposedName);
// The name proposed for a book read from a file named `fileName`: its title, else its
// first line, else the file name without its extension, else fallbackName(). Never
// empty, never starting with '.'.
QString proposedName(const ImportedBook& book, const QString& fileName);
// The author or authors as the book names them, one line, or empty.
QString proposedNote(const ImportedBook& book);

// ---- The stored text ----------------------------------------------------------------

// The text a book file stores, before encoding: every paragraph or line separator as
// CR LF, the NUL symbol the editor shows as NUL, in its nearest code page 1251 form.
QString storableText(const ImportedBook& book);
// The same for a text as the add panel's editor gives it (paragraphs already CR LF
// or LF, NUL shown as its symbol).
QString storableText(const QString& editorText);
// The bytes of the book file: storableText encoded.
QByteArray storedBytes(const ImportedBook& book);

// ---- Refusals and questions ---------------------------------------------------------

enum class Refusal {
    None,
    Missing,    // no name (or one of blanks), no file, or a text of blanks
    Unstorable, // '=', '/', line breaks, characters code page 1251 lacks
    LeadingDot, // the file would be hidden
    TooLong,    // the file name would pass the file system's 255 bytes
    Duplicate,  // the catalogue holds the name (letter case ignored)
};

// The characters of a typed name that cannot be stored as typed, each once, in order
// of first appearance, separated by spaces: '=', '/', line breaks and those code page
// 1251 lacks.
QString unstorableCharacters(const QString& name);
// Why a typed name cannot be stored, without looking at the catalogue (Duplicate never).
Refusal nameRefusal(const QString& name);
// The message telling a refusal of `name`. Missing and the others are plain messages;
// Duplicate is the catalogue's error text.
QString refusalMessage(Refusal refusal, const QString& name);

struct Question {
    enum class Kind {
        ReplaceUnlistedFile, // a book file (or link) no row lists stands under the name
        LoseCharacters,      // characters still without a form would become «?»
    };
    Kind kind;
    QString text;
    QString confirmButton; // «Заменить», «Сохранить»
};

// A book ready to be added, or the first reason it cannot be.
struct Prepared {
    Refusal refusal = Refusal::None;
    QString message;           // for a refusal
    QString name;              // as given
    QString note;              // its first line
    QByteArray bytes;          // the book file's bytes (empty when refused)
    QList<Question> questions; // asked in this order; every one must be confirmed
};

// Checks a book the user names: `name` and `note` as typed, `text` as the editor holds
// it, `fileChosen` whether a file was loaded. The library tells the duplicates and the
// unlisted files.
Prepared check(const Library& library, const QString& name, const QString& note,
               const QString& text, bool fileChosen);

} // namespace BookPreparation
