#include "ui/library/book_list_model.h"

#include "core/library/library.h"

#include <algorithm>
#include <vector>

BookListModel::BookListModel(Library& library, QObject* parent)
    : QAbstractListModel(parent), m_library(library) {
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    connect(&library, &Library::bookAdded, this, [this](const QString& name) { insertName(name); });
    connect(&library, &Library::bookRemoved, this,
            [this](const QString& name) { removeName(name); });
}

int BookListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_names.size());
}

QVariant BookListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    return role == Qt::DisplayRole ? displayName(index.row()) : m_names.at(index.row());
}

QString BookListModel::shownStart(const QString& name) {
    if (name.size() <= kShownLength)
        return name;
    // Cut before a character of two code units, never inside it.
    qsizetype cut = kShownLength;
    if (name.at(cut - 1).isHighSurrogate())
        --cut;
    return name.first(cut) + QChar(0x2026);
}

QString BookListModel::sortText(const QString& name) {
    // An overlong name is collated by its start: its key would cost several times its
    // size. Names alike there keep their catalogue order, a strict weak order still.
    return (name.size() <= kShownLength ? name : name.first(kShownLength)).toCaseFolded();
}

void BookListModel::reload() {
    const Catalogue& catalogue = m_library.catalogue();
    const int count = catalogue.ListedRowCount();
    struct Entry {
        QString name;
        QCollatorSortKey key;
    };
    std::vector<Entry> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        QString name = catalogue.NameAt(i);
        // Folded first: without a locale of its own the collator compares code points.
        QCollatorSortKey key = m_collator.sortKey(sortText(name));
        entries.push_back({std::move(name), std::move(key)});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.key.compare(b.key) < 0; });
    beginResetModel();
    m_names.clear();
    m_names.reserve(count);
    for (Entry& entry : entries)
        m_names.append(std::move(entry.name));
    endResetModel();
}

int BookListModel::firstStartingWith(const QString& text) const {
    for (int i = 0; i < m_names.size(); ++i)
        if (m_names[i].startsWith(text, Qt::CaseInsensitive))
            return i;
    return -1;
}

int BookListModel::listedRows() const {
    return m_library.catalogue().ListedRowCount();
}

void BookListModel::insertName(const QString& name) {
    // After the names it sorts with, as a later catalogue row is placed.
    const QString key = sortText(name);
    const auto at = std::upper_bound(m_names.cbegin(), m_names.cend(), key,
                                     [this](const QString& k, const QString& listed) {
                                         return m_collator.compare(k, sortText(listed)) < 0;
                                     });
    const int row = int(at - m_names.cbegin());
    beginInsertRows(QModelIndex(), row, row);
    m_names.insert(row, name);
    endInsertRows();
    // More rows than the catalogue lists: the first book took the place of a blank row
    // (names of one batch of the folder import come one by one, so fewer is no fault).
    if (m_names.size() > listedRows())
        reload();
}

void BookListModel::removeName(const QString& name) {
    const int row = int(m_names.indexOf(name));
    if (row >= 0) {
        beginRemoveRows(QModelIndex(), row, row);
        m_names.removeAt(row);
        endRemoveRows();
    }
    // Fewer rows than the catalogue lists: the last book left, an empty item stays.
    if (m_names.size() < listedRows())
        reload();
}
