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
    QString nameAt(int row) const { return m_names.value(row); }
    // The row of the first name beginning with `text`, letter case ignored; -1 for none.
    int firstStartingWith(const QString& text) const;

private:
    void insertName(const QString& name);
    void removeName(const QString& name);
    int listedRows() const;

    Library& m_library;
    QCollator m_collator;
    QStringList m_names;
};
