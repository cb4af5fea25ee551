#pragma once

#include "core/book/book_text.h"
#include "core/book/text_change.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One open book, as the reader shows and edits it: the file's characters as read (a
// BookText's code-page-1251 bytes, or UTF-16 for a wide book) plus what the edits added,
// held as a table of pieces of those two buffers, so that an edit costs the same
// anywhere in a big book and nothing is copied whole.
//
// Offsets are the book's: one character one offset, a line break two (CR LF); the text
// never holds a lone CR or LF, and no edit starts or ends between the CR and the LF of a
// break. A NUL shows as U+2400 (and U+2400 given to an edit is stored as NUL).
//
// The paragraph starts are kept through edits in blocks of 32-bit offsets relative to
// each block's base. Every edit is a step of the undo history (a run of typing is one
// step); the modified flag follows the history back to the state last saved.
//
// A book of code page 1251 stays one byte a character until an edit brings a character
// the code page lacks: then both buffers become UTF-16, offsets unchanged.
class BookDocument {
public:
    BookDocument();
    explicit BookDocument(BookText text);
    BookDocument(const BookDocument&) = delete;
    BookDocument& operator=(const BookDocument&) = delete;
    BookDocument(BookDocument&&) = default;
    BookDocument& operator=(BookDocument&&) = default;

    static BookDocument readFile(const QString& path) {
        return BookDocument(BookText::readFile(path));
    }
    static BookDocument fromBytes(QByteArray bytes) {
        return BookDocument(BookText::fromBytes(std::move(bytes)));
    }
    static BookDocument fromText(QStringView text) {
        return BookDocument(BookText::fromText(text));
    }

    qsizetype length() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    bool isWide() const { return m_wide; }

    // The character at an offset as shown (NUL as U+2400).
    char16_t at(qsizetype offset) const;
    // The characters [from, to) as shown, line breaks as CR LF.
    QString text(qsizetype from, qsizetype to) const;
    QString wholeText() const { return text(0, length()); }

    // The raw characters [from, to) in one run: in place when one piece holds them all,
    // else copied to `scratch`. Bytes of code page 1251 (a narrow book) or UTF-16 units
    // (a wide one).
    const unsigned char* bytes(qsizetype from, qsizetype to, std::string& scratch) const;
    const char16_t* chars(qsizetype from, qsizetype to, std::u16string& scratch) const;

    int paragraphCount() const { return m_paragraphs; }
    qsizetype paragraphStart(int paragraph) const;
    // The end of the paragraph's characters, before its line break.
    qsizetype paragraphEnd(int paragraph) const {
        return paragraph + 1 < m_paragraphs ? paragraphStart(paragraph + 1) - 2 : m_length;
    }
    // The paragraph that holds the offset; an offset inside a line break, or at the end,
    // belongs to the paragraph the break ends.
    int paragraphAt(qsizetype offset) const;
    // At least the longest paragraph's length (edits may have shortened it since).
    qsizetype longestParagraph() const { return m_longest; }
    // Calls f(paragraph, start, end) for every paragraph in order.
    template <class F> void forEachParagraph(F f) const;

    using FindOptions = BookText::FindOptions;
    // Forward: the first occurrence starting at or after `from`; backward: the last one
    // ending at or before `from`. -1 when there is none.
    qsizetype find(QStringView wanted, qsizetype from, FindOptions options) const;

    // Replaces the characters [from, to) by `text` (line breaks of any kind become CR LF)
    // as one step of the history; `typing` joins it to the typing step before when it
    // goes on where that one ended. Returns where the new text starts (the range given
    // is widened to whole line breaks).
    qsizetype replace(qsizetype from, qsizetype to, QStringView text, bool typing = false);
    // Moves the characters [from, to) to `at` (an offset of the text before the move) as
    // one step; returns where they start after it.
    qsizetype move(qsizetype from, qsizetype to, qsizetype at);

    // What an undo or redo changed: the text [from, from + removed) of before became
    // [from, from + inserted).
    struct Change {
        qsizetype from = 0;
        qsizetype removed = 0;
        qsizetype inserted = 0;
    };
    bool canUndo() const { return !m_undo.empty(); }
    // The steps that can be undone: each state of the history has its own depth.
    int undoDepth() const { return int(m_undo.size()); }
    bool canRedo() const { return !m_redo.empty(); }
    // Each gives the changes of the step, in the order they were applied.
    std::vector<Change> undo();
    std::vector<Change> redo();
    // The changes of the last replace, move, undo or redo.
    const std::vector<Change>& lastChanges() const { return m_lastChanges; }
    // Ends the present typing step: the next letter typed starts a new one.
    void closeTypingStep() { m_typingOpen = false; }

    bool isModified() const { return m_modified || int(m_undo.size()) != m_savedDepth; }
    // Marks the present text as saved (false) or as differing from the file (true).
    void setModified(bool modified);

    // The file's stamp as it was read or last written (the caller's own token).
    const QByteArray& fileStamp() const { return m_stamp; }
    void setFileStamp(const QByteArray& stamp) { m_stamp = stamp; }

    // The characters code page 1251 has no form for, even a near one, as they would be
    // saved («?»): distinct, in order, at most `limit`, in one text.
    QString lostCharacters(int limit = 5) const;
    // Writes the text through SafeFile, piece by piece: in code page 1251 (each character
    // in its nearest form), or in UTF-8 (a copy kept elsewhere, every letter as it is);
    // throws TomeriaError with the messages given.
    enum class Encoding { Cp1251, Utf8 };
    void save(const QString& path, const QString& createError, const QString& writeError,
              Encoding encoding = Encoding::Cp1251) const;

    // The text as it stands, made when the function returned is called, on any thread:
    // the buffers are shared, not copied (a later edit copies the characters it adds to,
    // never these), so taking it costs the table of pieces alone.
    std::function<BookText()> textSnapshot() const;

    // Whether the text as first read (or last settled) is held in `text`'s bytes, the
    // same memory rather than a copy.
    bool readInto(const BookText& text) const {
        return !m_wide && !text.isWide() && text.length() == m_fileBytes.size() &&
               reinterpret_cast<const char*>(text.bytes()) == m_fileBytes.constData();
    }
    // The one change that turns the text as first read (or last settled) into the text
    // as it stands: what lies between their common start and their common end, as
    // TextChange::between gives it, found from the pieces without making either text.
    // A book of code page 1251 only.
    TextChange changeSinceRead() const;

    // After a save: the text becomes one piece again, held in the memory of the text as
    // first read, rearranged there when the document alone holds it (a big book is never
    // held twice), otherwise copied once. The history keeps what it needs of the text
    // before. Returns the text, its bytes shared; nothing for a wide book. Not while
    // another thread reads the document.
    std::optional<BookText> settle();

    // The number of pieces the text is held in (one for a book not edited).
    int pieceCount() const { return int(m_pieces.size()); }

private:
    struct Piece {
        bool added = false; // of the add buffer, else of the file's
        qsizetype start = 0;
        qsizetype length = 0;
    };
    struct Block {
        qsizetype base = 0;                // the first start's offset
        int first = 0;                     // the first start's paragraph
        std::vector<std::uint32_t> starts; // relative to base
    };
    struct Step {
        // Each change: at `at`, `removed` was taken out and `inserted` put in.
        struct Part {
            qsizetype at = 0;
            std::vector<Piece> removed;
            std::vector<Piece> inserted;
        };
        std::vector<Part> parts;
        bool typing = false;
    };
    static constexpr size_t kBlockSize = 1024;

    static qsizetype lengthOf(const std::vector<Piece>& pieces);
    // The piece holding the offset (the last one for the end).
    size_t pieceAt(qsizetype offset) const;
    // Splits the piece holding the offset there; returns the index of the piece starting
    // at it (pieceCount() at the end).
    size_t splitAt(qsizetype offset);
    // Replaces [at, at + length) by `inserted`; returns the pieces taken out.
    std::vector<Piece> splice(qsizetype at, qsizetype length, const std::vector<Piece>& inserted);
    void recountPieces(size_t from);
    void mergeAround(size_t index);
    // Appends text to the add buffer as pieces, line breaks made CR LF.
    std::vector<Piece> addText(QStringView text);
    void makeWide();
    // Paragraph index: the starts in (from, from + removed] are gone, the text inserted
    // at `from` (inserted characters long) brings its own, later ones move.
    void reindex(qsizetype from, qsizetype removed, qsizetype inserted);
    // The starts of the paragraphs that line breaks in [from, to) begin, added to `starts`.
    void scanBreaks(qsizetype from, qsizetype to, std::vector<qsizetype>& starts) const;
    // Makes longestParagraph() cover the paragraphs touching [from, to].
    void noteLongest(qsizetype from, qsizetype to);
    void pushStep(Step step);
    void buildIndex(const std::vector<std::uint32_t>& starts);
    size_t blockOfParagraph(int paragraph) const;
    size_t blockOfOffset(qsizetype offset) const;
    qsizetype widenStart(qsizetype from) const;
    qsizetype widenEnd(qsizetype to) const;
    Change apply(const Step::Part& part, bool forward);
    // The history's pieces of the text as first read move to the add buffer.
    void keepHistoryBytes();

    QByteArray m_fileBytes;
    QString m_fileChars;
    QByteArray m_addBytes;
    QString m_addChars;
    bool m_wide = false;
    std::vector<Piece> m_pieces;
    std::vector<qsizetype>
        m_pieceStarts; // m_pieceStarts[i]: offset of piece i; one more at the end
    qsizetype m_length = 0;
    std::vector<Block> m_blocks;
    int m_paragraphs = 1;
    qsizetype m_longest = 0;
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    bool m_typingOpen = false;
    std::vector<Change> m_lastChanges;
    int m_savedDepth = 0;
    bool m_modified = false;
    QByteArray m_stamp;
};

template <class F> void BookDocument::forEachParagraph(F f) const {
    int p = 0;
    qsizetype previous = -1;
    for (const Block& block : m_blocks)
        for (const std::uint32_t rel : block.starts) {
            const qsizetype start = block.base + rel;
            if (previous >= 0) {
                f(p, previous, start - 2);
                ++p;
            }
            previous = start;
        }
    f(p, previous, m_length);
}
