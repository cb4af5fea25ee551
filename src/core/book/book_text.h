#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

// A book's text as the reading view holds it: the file's code-page-1251 bytes, one byte
// one character, with every line break a CR LF pair (two characters, as the editor counts
// offsets), plus where each paragraph starts. A book with a UTF-8 or UTF-16 byte-order
// mark is converted once: to code page 1251 when every character has a form there, else
// it is held as UTF-16 ("wide"), one QChar one character.
class BookText {
public:
    BookText() { m_starts.push_back(0); }

    // One read of an ordinary file (RegularFile::readBook: its size limit, its messages).
    static BookText readFile(const QString& path);
    // The bytes of a book file.
    static BookText fromBytes(QByteArray bytes);
    // A text as the editor gives it (WholeText: CR LF breaks, NUL shown as U+2400).
    static BookText fromText(QStringView text);

    qsizetype length() const { return m_wide ? m_chars.size() : m_bytes.size(); }
    bool isEmpty() const { return length() == 0; }
    bool isWide() const { return m_wide; }
    // The raw characters: bytes of code page 1251, or UTF-16 code units of a wide book.
    const unsigned char* bytes() const {
        return reinterpret_cast<const unsigned char*>(m_bytes.constData());
    }
    const char16_t* chars() const { return reinterpret_cast<const char16_t*>(m_chars.constData()); }

    // The character at an offset as shown: a NUL byte shows as U+2400.
    char16_t at(qsizetype offset) const;
    // The characters [from, to) as shown, line breaks as CR LF.
    QString text(qsizetype from, qsizetype to) const;
    QString wholeText() const { return text(0, length()); }

    int paragraphCount() const { return int(m_starts.size()); }
    qsizetype paragraphStart(int paragraph) const { return m_starts[size_t(paragraph)]; }
    // The end of the paragraph's characters, before its line break.
    qsizetype paragraphEnd(int paragraph) const {
        return size_t(paragraph) + 1 < m_starts.size() ? m_starts[size_t(paragraph) + 1] - 2
                                                       : length();
    }
    // The paragraph that holds the offset; an offset inside a line break, or at the end,
    // belongs to the paragraph the break ends.
    int paragraphAt(qsizetype offset) const;
    // The longest paragraph's length.
    qsizetype longestParagraph() const { return m_longest; }

    struct FindOptions {
        bool forward = true;
        bool wholeWord = false;
        bool matchCase = false;
    };
    // Forward: the first occurrence starting at or after `from`; backward: the last one
    // ending at or before `from`. -1 when there is none.
    qsizetype find(QStringView wanted, qsizetype from, FindOptions options) const;

    // find() over any run of characters: code-page-1251 bytes or UTF-16 units, `size`
    // of them; whole words end at the run's edges.
    static qsizetype findInBytes(const unsigned char* d, qsizetype size, QStringView wanted,
                                 qsizetype from, FindOptions options);
    static qsizetype findInChars(const char16_t* d, qsizetype size, QStringView wanted,
                                 qsizetype from, FindOptions options);

    // Letters, digits and the underscore: what whole-word matching and double-click take
    // as a word.
    static bool isWordCharacter(char16_t ch);

private:
    friend class BookDocument;
    void indexParagraphs();
    // Makes every lone CR and lone LF a CR LF pair, in place.
    void normaliseBytes(qsizetype loneBreaks);

    QByteArray m_bytes;
    QString m_chars;
    bool m_wide = false;
    // Paragraph starts as 32-bit offsets: a book is at most 128 MB, its breaks doubled.
    std::vector<std::uint32_t> m_starts;
    qsizetype m_longest = 0;
};
