#include "core/library/catalogue.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"

#include <cstring>

namespace {

QString duplicateMessage(const QString& name) {
    return QStringLiteral("A key with the name of \"%1\" already exists").arg(name);
}

QByteArrayView nameBytes(QByteArrayView line, bool* hasEquals) {
    const qsizetype eq = line.indexOf('=');
    if (hasEquals)
        *hasEquals = eq >= 0;
    return eq < 0 ? QByteArrayView() : line.first(eq);
}

} // namespace

Catalogue::Catalogue() {
    m_rows.append(QByteArray());
}

QString Catalogue::LineName(const QString& line) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.left(eq);
}

QString Catalogue::LineNote(const QString& line) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? line : line.mid(eq + 1);
}

QString Catalogue::foldedName(QByteArrayView line, bool* hasEquals) {
    return Cp1251::decode(nameBytes(line, hasEquals)).toCaseFolded();
}

void Catalogue::indexRow(int row) const {
    bool hasEquals = false;
    const QByteArrayView name = nameBytes(m_rows[row], &hasEquals);
    if (!hasEquals)
        return;
    // A name no book file could carry is not copied into the index: a line of a
    // hundred megabytes would cost several times its size there.
    if (name.size() > kMaxIndexedName) {
        m_longRows.append(row);
        return;
    }
    const QString key = Cp1251::decode(name).toCaseFolded();
    if (!m_firstRow.contains(key))
        m_firstRow.insert(key, row);
}

void Catalogue::rebuildIndex() const {
    m_firstRow.clear();
    m_longRows.clear();
    m_firstRow.reserve(m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i)
        indexRow(i);
    m_indexValid = true;
}

void Catalogue::LoadCatalogue(const QString& path) {
    // A FIFO or a device in the catalogue's place is refused, never read.
    QByteArray data;
    if (RegularFile::read(path, RegularFile::kMaxSize, data) != RegularFile::Status::Read)
        throw TomeriaError(QStringLiteral("Cannot open file %1").arg(AnchoredPath::current(path)));

    m_rows.clear();
    // A NUL byte is kept as any other byte of its line: ending the text there would drop
    // every row after it at the next save, and the books with them.
    const qsizetype end = data.size();
    const char* text = data.constData();
    qsizetype pos = 0;
    while (pos < end) {
        const char* found =
            static_cast<const char*>(std::memchr(text + pos, '\n', size_t(end - pos)));
        const char* cr = static_cast<const char*>(
            std::memchr(text + pos, '\r', size_t((found ? found - text : end) - pos)));
        const qsizetype stop = cr ? cr - text : found ? found - text : end;
        const QByteArrayView rest(text + stop, end - stop);
        if (pos == 0 && (rest.isEmpty() || rest == "\r" || rest == "\n" || rest == "\r\n")) {
            // The whole file is one line: it becomes the row without a copy.
            data.truncate(stop);
            m_rows.append(std::move(data));
            break;
        }
        m_rows.append(QByteArray(text + pos, stop - pos));
        pos = stop;
        if (pos < end && text[pos] == '\r')
            ++pos;
        if (pos < end && text[pos] == '\n')
            ++pos;
    }
    // Every line is kept, even one repeating an earlier name (only an outside edit
    // can make one): the first row still wins every look-up.
    rebuildIndex();
    clampCurrentRow();
}

QByteArray Catalogue::serialized() const {
    qsizetype total = 0;
    for (const QByteArray& row : m_rows)
        total += row.size() + 2;
    QByteArray out;
    out.reserve(total);
    for (const QByteArray& row : m_rows) {
        out.append(row);
        out.append("\r\n", 2);
    }
    return out;
}

void Catalogue::SaveCatalogue(const QString& path) const {
    SafeFile::write(path, serialized(),
                    QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(path)),
                    QStringLiteral("Stream write error"));
}

int Catalogue::ListedRowCount() const {
    return m_rows.isEmpty() ? 1 : int(m_rows.size());
}

qsizetype Catalogue::nameLengthAt(int row) const {
    return row >= 0 && row < m_rows.size() ? nameBytes(m_rows[row], nullptr).size() : 0;
}

QString Catalogue::NameAt(int row) const {
    if (m_rows.isEmpty())
        return QString();
    if (row < 0 || row >= m_rows.size())
        throw TomeriaError(QStringLiteral("List index out of bounds (%1)").arg(row));
    return Cp1251::decode(nameBytes(m_rows[row], nullptr));
}

QString Catalogue::lineAt(int row) const {
    return Cp1251::decode(m_rows.at(row));
}

Catalogue::Match Catalogue::FindName(const QString& name) const {
    if (!m_indexValid)
        rebuildIndex();
    if (name.size() > kMaxIndexedName) {
        // Folding keeps the length of every code-page character, so only a long row
        // can carry a long name.
        const QString folded = name.toCaseFolded();
        for (const int row : std::as_const(m_longRows))
            if (foldedName(m_rows[row], nullptr) == folded)
                return {true, row};
        return {};
    }
    const auto it = m_firstRow.constFind(name.toCaseFolded());
    if (it == m_firstRow.constEnd())
        return {};
    return {true, it.value()};
}

QString Catalogue::NoteOf(const QString& name) const {
    const Match match = FindName(name);
    if (!match.found)
        return QString();
    return LineNote(lineAt(match.row));
}

bool Catalogue::isBlank(int row) const {
    const QByteArray& line = m_rows[row];
    return line.isEmpty() || line == "=";
}

void Catalogue::checkNameFree(const QString& name, int ownRow) const {
    if (name.isEmpty())
        return;
    const Match match = FindName(name);
    if (match.found && match.row != ownRow)
        throw TomeriaError(duplicateMessage(name));
}

void Catalogue::clampCurrentRow() {
    if (m_currentRow > ListedRowCount() - 1)
        m_currentRow = ListedRowCount() - 1;
}

void Catalogue::SelectRow(int target) {
    for (;;) {
        if (target == m_currentRow)
            return;
        if (target < 0 || target >= ListedRowCount())
            throw TomeriaError(QStringLiteral("Grid index out of range"));
        if (m_currentRow < m_rows.size() && isBlank(m_currentRow) && !m_removing) {
            const bool below = target < m_currentRow;
            RemoveRecord(m_currentRow);
            if (below) {
                m_currentRow = target;
                return;
            }
            --target; // the target's line moved up one place
            continue;
        }
        m_currentRow = target;
        return;
    }
}

int Catalogue::AddRecord(const QString& name, const QString& note) {
    if (m_currentRow < m_rows.size() && isBlank(m_currentRow)) {
        const QString first = name + QLatin1Char('=');
        const QString rowName = LineName(first);
        checkNameFree(rowName, m_currentRow);
        const QString line = rowName + QLatin1Char('=') + note;
        m_rows[m_currentRow] = Cp1251::encode(line);
        if (m_indexValid) {
            // The row may have carried no name before; re-index it if it is first.
            const QString key = rowName.toCaseFolded();
            const auto it = m_firstRow.constFind(key);
            if (it == m_firstRow.constEnd() || it.value() > m_currentRow)
                rebuildIndex();
        }
        return m_currentRow;
    }
    const QString line = name + QLatin1Char('=') + note;
    checkNameFree(LineName(line), -1);
    m_rows.append(Cp1251::encode(line));
    if (m_indexValid)
        indexRow(int(m_rows.size()) - 1);
    return int(m_rows.size()) - 1;
}

void Catalogue::RemoveRecord(int row) {
    if (m_removing)
        return;
    m_removing = true;
    struct ClearFlag {
        bool& flag;
        ~ClearFlag() { flag = false; }
    } clear{m_removing};

    if (m_currentRow >= ListedRowCount() - 1 && m_rows.size() > 1)
        SelectRow(m_currentRow - 1);
    if (row < 0 || row >= m_rows.size())
        throw TomeriaError(QStringLiteral("List index out of bounds (%1)").arg(row));
    m_rows.removeAt(row);
    m_indexValid = false;
    clampCurrentRow();
}
