#include "core/settings/profile_file.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"

#include <algorithm>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

QString folded(const QString& name) {
    return name.trimmed().toCaseFolded();
}

// The value of a "key=value" line as a read gives it: decoded, without surrounding
// blanks or an enclosing pair of quotes, cut to the longest value a read returns.
QString valueText(QByteArrayView bytes) {
    QString text = Cp1251::decode(bytes.toByteArray()).trimmed();
    if (text.size() >= 2 &&
        (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\'')) &&
        text.back() == text.front())
        text = text.mid(1, text.size() - 2);
    return text.left(ProfileFile::kMaxValueLength);
}

} // namespace

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {
    if (SafeFile::read(m_path, m_data))
        parse();
}

// One pass over the file: the sections with their key lines and the place where a new
// key of each goes. Blank lines cost nothing but the scan.
void ProfileFile::parse() {
    const char* data = m_data.constData();
    const qsizetype n = m_data.size();
    qsizetype pos = 0;
    while (pos < n) {
        qsizetype stop = pos;
        while (stop < n && data[stop] != '\r' && data[stop] != '\n')
            ++stop;
        qsizetype next = stop;
        if (stop < n)
            next += (data[stop] == '\r' && stop + 1 < n && data[stop + 1] == '\n') ? 2 : 1;
        qsizetype first = pos;
        while (first < stop && isBlank(data[first]))
            ++first;
        qsizetype last = stop;
        while (last > first && isBlank(data[last - 1]))
            --last;
        if (first < last) {
            const QByteArrayView text(data + first, last - first);
            const qsizetype close = text.indexOf(']');
            if (text.front() == '[' && close > 0) {
                m_sections.append({folded(Cp1251::decode(text.sliced(1, close - 1).toByteArray())),
                                   {},
                                   next,
                                   stop == next});
            } else if (!m_sections.isEmpty()) {
                Section& section = m_sections.last();
                section.insertAt = next;
                section.needsLineEnd = stop == next;
                const qsizetype eq = QByteArrayView(data + pos, stop - pos).indexOf('=');
                if (text.front() != ';' && text.front() != '[' && eq >= 0)
                    section.keys.append(
                        {folded(Cp1251::decode(QByteArray(data + pos, eq))), pos, stop});
            }
        }
        pos = next;
    }
}

qsizetype ProfileFile::changeOf(const QString& foldedSection, const QString& foldedKey) const {
    for (qsizetype i = 0; i < m_changes.size(); ++i)
        if (m_changes[i].foldedSection == foldedSection && m_changes[i].foldedKey == foldedKey)
            return i;
    return -1;
}

QString ProfileFile::readText(const QString& section, const QString& key,
                              const QString& fallback) const {
    const QString wantedSection = folded(section);
    const QString wantedKey = folded(key);
    if (const qsizetype changed = changeOf(wantedSection, wantedKey); changed >= 0) {
        const QByteArray& line = m_changes[changed].line;
        return valueText(QByteArrayView(line).sliced(line.indexOf('=') + 1));
    }
    for (const Section& s : m_sections) {
        if (s.foldedName != wantedSection)
            continue;
        for (const KeyLine& line : s.keys) {
            if (line.foldedKey != wantedKey)
                continue;
            const QByteArrayView text(m_data.constData() + line.start, line.end - line.start);
            return valueText(text.sliced(text.indexOf('=') + 1));
        }
    }
    return fallback.left(kMaxValueLength);
}

int ProfileFile::readInteger(const QString& section, const QString& key, int fallback) const {
    const QString text = readText(section, key, QString());
    bool ok = false;
    int value = 0;
    if (text.size() > 2 &&
        (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X"))))
        value = int(text.mid(2).toUInt(&ok, 16));
    else
        value = text.toInt(&ok, 10);
    return ok ? value : fallback;
}

void ProfileFile::writeText(const QString& section, const QString& key, const QString& value) {
    const QByteArray line = Cp1251::encode(key) + '=' + Cp1251::encode(value);
    const QString wantedSection = folded(section);
    const QString wantedKey = folded(key);
    if (const qsizetype known = changeOf(wantedSection, wantedKey); known >= 0) {
        m_changes[known].line = line;
        return;
    }
    Change change;
    change.foldedSection = wantedSection;
    change.foldedKey = wantedKey;
    change.line = line;
    const auto found = std::find_if(m_sections.cbegin(), m_sections.cend(), [&](const Section& s) {
        return s.foldedName == wantedSection;
    });
    if (found == m_sections.cend()) {
        change.sectionName = Cp1251::encode(section);
    } else {
        change.section = int(found - m_sections.cbegin());
        for (const KeyLine& keyLine : found->keys) {
            if (keyLine.foldedKey == wantedKey) {
                change.start = keyLine.start;
                change.end = keyLine.end;
                break;
            }
        }
    }
    m_changes.append(change);
}

void ProfileFile::writeInteger(const QString& section, const QString& key, int value) {
    writeText(section, key, QString::number(value));
}

void ProfileFile::writeFlag(const QString& section, const QString& key, bool value) {
    writeText(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray ProfileFile::contents() const {
    // Every change as a piece of the file that replaces [from, to) by its bytes; new
    // keys of a section are a piece of length zero at the section's end.
    struct Piece {
        qsizetype from;
        qsizetype to;
        QByteArray bytes;
    };
    QList<Piece> pieces;
    QList<QByteArray> added(m_sections.size());
    QList<QByteArray> newSections;
    QList<QByteArray> newSectionLines;
    for (const Change& change : m_changes) {
        if (change.start >= 0) {
            pieces.append({change.start, change.end, change.line});
        } else if (change.section >= 0) {
            added[change.section] += change.line + "\r\n";
        } else {
            qsizetype index = 0;
            while (index < newSections.size() &&
                   folded(Cp1251::decode(newSections[index])) != change.foldedSection)
                ++index;
            if (index == newSections.size()) {
                newSections.append(change.sectionName);
                newSectionLines.append(QByteArray());
            }
            newSectionLines[index] += change.line + "\r\n";
        }
    }
    for (qsizetype i = 0; i < m_sections.size(); ++i)
        if (!added[i].isEmpty())
            pieces.append(
                {m_sections[i].insertAt, m_sections[i].insertAt,
                 (m_sections[i].needsLineEnd ? QByteArray("\r\n") : QByteArray()) + added[i]});
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece& a, const Piece& b) { return a.from < b.from; });

    QByteArray out;
    qsizetype extra = 0;
    for (const Piece& piece : pieces)
        extra += piece.bytes.size() + 2;
    for (qsizetype i = 0; i < newSections.size(); ++i)
        extra += newSections[i].size() + newSectionLines[i].size() + 6;
    out.reserve(m_data.size() + extra);
    qsizetype pos = 0;
    for (const Piece& piece : pieces) {
        out.append(QByteArrayView(m_data).sliced(pos, piece.from - pos));
        out.append(piece.bytes);
        pos = piece.to;
    }
    out.append(QByteArrayView(m_data).sliced(pos));
    for (qsizetype i = 0; i < newSections.size(); ++i) {
        if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r'))
            out.append("\r\n");
        out.append('[' + newSections[i] + "]\r\n" + newSectionLines[i]);
    }
    return out;
}

void ProfileFile::save() const {
    const QString error =
        QStringLiteral("Unable to write to %1").arg(AnchoredPath::current(m_path));
    SafeFile::write(m_path, contents(), error, error);
}
