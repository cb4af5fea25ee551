#include "core/settings/profile_file.h"

#include "core/base/cp1251.h"
#include "core/base/safe_file.h"

#include <QList>

namespace {

struct Line {
    QByteArray text;   // without its line end
    QByteArray ending; // "\r\n", "\n", "\r" or empty for a last line without one
};

QList<Line> splitLines(const QByteArray& data) {
    QList<Line> lines;
    qsizetype pos = 0;
    const qsizetype n = data.size();
    while (pos < n) {
        qsizetype stop = pos;
        while (stop < n && data[stop] != '\r' && data[stop] != '\n')
            ++stop;
        Line line{data.mid(pos, stop - pos), {}};
        if (stop < n) {
            if (data[stop] == '\r' && stop + 1 < n && data[stop + 1] == '\n')
                line.ending = "\r\n";
            else
                line.ending = QByteArray(1, data[stop]);
        }
        pos = stop + line.ending.size();
        lines.append(line);
    }
    return lines;
}

// The section name of a "[name]" line, or a null string for any other line.
QString sectionOf(const QByteArray& line) {
    const QByteArray t = line.trimmed();
    if (!t.startsWith('['))
        return QString();
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return QString();
    QString name = Cp1251::decode(t.mid(1, close - 1)).trimmed();
    return name.isNull() ? QStringLiteral("") : name;
}

bool keyOf(const QByteArray& line, QString* key, QByteArray* value) {
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.startsWith(';') || t.startsWith('['))
        return false;
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return false;
    *key = Cp1251::decode(line.left(eq)).trimmed();
    if (value)
        *value = line.mid(eq + 1);
    return true;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool readFile(const QString& path, QByteArray& data) {
    return SafeFile::read(path, data);
}

} // namespace

QString ProfileFile::readText(const QString& section, const QString& key,
                              const QString& fallback) const {
    QByteArray data;
    if (!readFile(m_path, data))
        return fallback.left(kMaxValueLength);
    bool inSection = false;
    for (const Line& line : splitLines(data)) {
        const QString name = sectionOf(line.text);
        if (!name.isNull()) {
            inSection = sameName(name, section);
            continue;
        }
        QString lineKey;
        QByteArray value;
        if (!inSection || !keyOf(line.text, &lineKey, &value) || !sameName(lineKey, key))
            continue;
        QString text = Cp1251::decode(value).trimmed();
        if (text.size() >= 2 &&
            (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\'')) &&
            text.back() == text.front())
            text = text.mid(1, text.size() - 2);
        return text.left(kMaxValueLength);
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

namespace {

// Puts "key=value" into the lines: in place of the section's key, else at the end of
// the section, else in a new section at the end.
void setKey(QList<Line>& lines, const QString& section, const QString& key, const QString& value) {
    const QByteArray newLine = Cp1251::encode(key) + '=' + Cp1251::encode(value);

    qsizetype sectionStart = -1;
    qsizetype lastInSection = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = sectionOf(lines[i].text);
        if (!name.isNull()) {
            if (inSection)
                break; // past our section
            inSection = sameName(name, section);
            if (inSection) {
                sectionStart = i;
                lastInSection = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!lines[i].text.trimmed().isEmpty())
            lastInSection = i;
        QString lineKey;
        if (keyOf(lines[i].text, &lineKey, nullptr) && sameName(lineKey, key)) {
            lines[i].text = newLine;
            return; // replaced in place
        }
    }

    auto terminateLast = [&lines](qsizetype index) {
        if (index >= 0 && lines[index].ending.isEmpty())
            lines[index].ending = "\r\n";
    };
    if (sectionStart >= 0) {
        terminateLast(lastInSection);
        lines.insert(lastInSection + 1, Line{newLine, "\r\n"});
    } else {
        terminateLast(lines.size() - 1);
        lines.append(Line{'[' + Cp1251::encode(section) + ']', "\r\n"});
        lines.append(Line{newLine, "\r\n"});
    }
}

} // namespace

void ProfileFile::writeText(const QString& section, const QString& key,
                            const QString& value) const {
    writeTexts(section, {{key, value}});
}

void ProfileFile::writeTexts(const QString& section,
                             const QList<std::pair<QString, QString>>& keyValues) const {
    const QString error = QStringLiteral("Unable to write to %1").arg(m_path);
    QByteArray data;
    readFile(m_path, data);
    QList<Line> lines = splitLines(data);
    for (const auto& [key, value] : keyValues)
        setKey(lines, section, key, value);
    QByteArray out;
    out.reserve(data.size() + 64 * keyValues.size());
    for (const Line& line : lines)
        out += line.text + line.ending;
    SafeFile::write(m_path, out, error, error);
}

void ProfileFile::writeInteger(const QString& section, const QString& key, int value) const {
    writeText(section, key, QString::number(value));
}

void ProfileFile::writeFlag(const QString& section, const QString& key, bool value) const {
    writeText(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
