#pragma once

#include "core/library/book_folder.h"
#include "core/library/catalogue.h"
#include "core/library/reading_state.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

// The library in its folder: the catalogue (books.dat) and the book files (books/*.boo),
// kept in agreement. Adding and deleting a book are single steps: each either completes,
// or undoes what it had done and throws TomeriaError with the message to show, so after
// any failure the files on disk are as they were before the step.
//
// Every change of the library is announced once, whatever made it: the add panel, the
// folder import, a deletion, the reader's save and the repairs made at the start. The
// search index, the reading state, the reader and the book list follow these signals;
// no other code tells them of a change.
class Library : public QObject {
    Q_OBJECT
public:
    explicit Library(QObject* parent = nullptr);

    enum class LoadResult {
        Loaded,     // books.dat read
        Missing,    // no books.dat: the caller announces and saves a new one
        Unreadable, // books.dat exists but cannot be read: it is never written over
    };

    Catalogue& catalogue() { return m_catalogue; }
    const Catalogue& catalogue() const { return m_catalogue; }
    BookFolder& folder() { return m_folder; }
    const BookFolder& folder() const { return m_folder; }
    // Where each book was left and the reader's look (reading.dat).
    ReadingState& reading() { return m_reading; }

    QString readingPath() const { return m_folder.programFolder() + ReadingState::fileName(); }

    // Reads books.dat from the library folder; for Unreadable, `error` gets the message.
    // reading.dat is read too; whatever it holds, it never stops the catalogue's load.
    LoadResult load(QString* error);
    bool catalogueUnreadable() const { return m_catalogueUnreadable; }
    // Writes books.dat; refused ("Cannot create file") while it is unreadable.
    void saveCatalogue();

    // The catalogue row a list item stands for: the first row whose name is the item's
    // text exactly, else the first row whose name matches it in another letter case;
    // not found for an item no row names.
    Catalogue::Match rowOfItem(const QString& itemName) const;

    // The path of the book's file when it can be opened: a valid name whose file is a
    // file; empty otherwise.
    QString openPath(const QString& name) const;

    // Whether adding a book of this name would replace a file that no row lists: a book
    // file (or a symbolic link) left in books/ under the name. The window asks first.
    bool hasUnlistedBookFile(const QString& name) const;
    // The characters of a name that cannot be stored as typed, each once, in the order
    // they first appear: those code page 1251 lacks (the list would show "?" while the
    // file has the real name), '=' (it ends the name in the catalogue) and line breaks.
    static QString unstorableNameCharacters(const QString& name);
    // The message refusing such a name.
    static QString unstorableNameMessage(const QString& characters);
    // The question asked before a text is stored with characters code page 1251 lacks
    // (they would become «?»), naming the first few; empty when the text loses none.
    static QString lostCharactersQuestion(const QString& text);
    // Whether the name's book file fits the file system's limit on a file name (255
    // bytes), and the message refusing a name that does not.
    static bool nameFitsFileName(const QString& name);
    static QString longNameMessage();
    // The one line a name or note field holds: the text up to its first line break.
    static QString firstLine(const QString& text);

    // Adds a book: the name is refused before anything is written when the catalogue
    // holds it, when it has characters that cannot be stored (unstorableNameMessage),
    // when it is no valid file name or while the catalogue is unreadable; then
    // the book's file gets `text` (its bytes as stored), the row is added and the
    // catalogue saved. A failed step removes the file written and the row added. A
    // symbolic link in the book file's place is replaced itself (its target is never
    // written) and put back when the step fails. A new book starts at its beginning,
    // whatever a book of that name had remembered.
    void addBook(const QString& name, const QString& note, const QByteArray& text);

    // Deletes the book a list item stands for: its row and its file. The row is the
    // item's own row (rowOfItem); an item with an empty name stands for the current row
    // if that has an empty name, else the first row with an empty name. The file is set
    // aside, the catalogue saved, then the file removed; a failed save puts both back.
    // The book's remembered position is forgotten.
    void deleteBook(const QString& itemName);

    // Changes made outside addBook and deleteBook, announced here: the reader wrote a
    // book's file (a path outside the books folder is no book of the library); the
    // folder import put books in place or took them back.
    void noteBookSaved(const QString& path);
    void noteBooksAdded(const QStringList& names);
    void noteBooksRemoved(const QStringList& names);

Q_SIGNALS:
    // A book entered the library (its row and file are on disk).
    void bookAdded(const QString& name, const QString& path);
    // A book left the library (its row and file are gone).
    void bookRemoved(const QString& name, const QString& path);
    // A listed book's file has new contents (a save, or a file put back at the start).
    void bookSaved(const QString& name, const QString& path);

private:
    // Book files that an add or a delete set aside and a killed run left there: put back
    // when the step did not go through (nothing stands in their place and, for a
    // deletion, the catalogue still lists the book), removed otherwise.
    void recoverSetAside();

    Catalogue m_catalogue;
    BookFolder m_folder;
    ReadingState m_reading;
    bool m_catalogueUnreadable = false;
};
