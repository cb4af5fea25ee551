#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// The catalogue of books: one row per book, each row one line "name=note" of
// code-page-1251 text kept byte for byte as read or composed, plus a current row.
// It is stored in books.dat, one line per row, every line ended by CR LF.
//
// Beside its rows it keeps an index from the case-folded name to the first row
// carrying it, so loading, look-ups and adding are linear or better; the answers
// stay those of a scan in row order (the first match wins).
class Catalogue {
public:
    struct Match {
        bool found = false;
        int row = -1;
    };

    // A new catalogue holds one blank row, with CurrentRow 0.
    Catalogue();

    void LoadCatalogue(const QString& path);
    void SaveCatalogue(const QString& path) const;

    // Number of rows listed: the row count, but never below 1.
    int ListedRowCount() const;
    QString NameAt(int row) const;
    // The length of the row's name in characters (one byte each), without decoding it.
    qsizetype nameLengthAt(int row) const;
    Match FindName(const QString& name) const;
    QString NoteOf(const QString& name) const;
    int CurrentRow() const { return m_currentRow; }
    void SelectRow(int target);
    int AddRecord(const QString& name, const QString& note);
    void RemoveRecord(int row);

    int rowCount() const { return int(m_rows.size()); }
    // The row's line, decoded from code page 1251.
    QString lineAt(int row) const;
    // The bytes SaveCatalogue writes.
    QByteArray serialized() const;

    static QString LineName(const QString& line);
    static QString LineNote(const QString& line);

private:
    static QString foldedName(QByteArrayView line, bool* hasEquals);
    bool isBlank(int row) const;
    void checkNameFree(const QString& name, int ownRow) const;
    void clampCurrentRow();
    void rebuildIndex() const;
    void indexRow(int row) const;

    QList<QByteArray> m_rows;
    int m_currentRow = 0;
    bool m_removing = false;
    // Names longer than this (no file name holds one) are looked up by a scan of their
    // rows instead of through the index.
    static constexpr qsizetype kMaxIndexedName = 4096;
    // Folded name -> first row carrying it; rebuilt lazily after a removal.
    mutable QHash<QString, int> m_firstRow;
    mutable QList<int> m_longRows; // rows with a longer name, in row order
    mutable bool m_indexValid = true;
};
