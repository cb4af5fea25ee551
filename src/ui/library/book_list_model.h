#pragma once

#include <QAbstractListModel>
#include <QCollator>
#include <QStringList>

class Library;

// The book list: one row per listed catalogue row (an empty catalogue lists one empty
// name), sorted by name without regard to letter case in the collation order, names
// that sort alike in catalogue order. It follows the library: a book added is sorted in
// and a book removed leaves; when that cannot give the catalogue's rows (a blank row
// taken over by the first book, the last book gone) the list is read anew.
//
// A name longer than any shown line (a catalogue line of megabytes) is shown by its start
// (displayName) and sorted by the collation of its start, names alike there in catalogue
// order; the row still holds the whole name, which every operation on the book uses.
class BookListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Empty until the first reload().
    explicit BookListModel(Library& library, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Reads every name from the catalogue again (a reset).
    void reload();
    const QStringList& names() const { return m_names; }
    // The row's whole name, as the catalogue holds it: what opening, deleting and the
    // details use.
    QString nameAt(int row) const { return m_names.value(row); }
    // What the list shows for the row: the name, or the start of an overlong one.
    QString displayName(int row) const { return shownStart(m_names.value(row)); }
    static QString shownStart(const QString& name);
    // The longest name shown and sorted whole, in characters.
    static constexpr qsizetype kShownLength = 1024;
    // The row of the first name beginning with `text`, letter case ignored; -1 for none.
    int firstStartingWith(const QString& text) const;

private:
    void insertName(const QString& name);
    void removeName(const QString& name);
    int listedRows() const;
    // The collation key's text: the case-folded name, or of an overlong one its start.
    static QString sortText(const QString& name);

    Library& m_library;
    QCollator m_collator;
    QStringList m_names;
};
