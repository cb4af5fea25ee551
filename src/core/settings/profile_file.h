#pragma once

#include <QList>
#include <QString>

#include <utility>

// The settings file of the program: a profile file of "[section]" lines and
// "key=value" lines in code page 1251 with CR LF line ends. Section and key names
// match without regard to letter case. A write replaces a key where it stands, adds
// a new key at the end of its section and a missing section at the end of the file,
// and leaves every other line byte for byte; it goes through a temporary file, so a
// failed write leaves the file as it was.
class ProfileFile {
public:
    explicit ProfileFile(QString path) : m_path(std::move(path)) {}
    const QString& path() const { return m_path; }

    // The value without surrounding blanks or an enclosing pair of quotes, at most
    // 2047 characters; the default when the file, the section or the key is missing.
    QString readText(const QString& section, const QString& key, const QString& fallback) const;
    // "0x"/"0X" followed by hexadecimal digits is read as hexadecimal; anything
    // that is not an integer gives the default.
    int readInteger(const QString& section, const QString& key, int fallback) const;

    // Throws TomeriaError "Unable to write to <path>" when the file cannot be written.
    void writeText(const QString& section, const QString& key, const QString& value) const;
    void writeInteger(const QString& section, const QString& key, int value) const;
    void writeFlag(const QString& section, const QString& key, bool value) const;
    // Writes several keys of one section with a single write of the file, as if they
    // were written one after the other.
    void writeTexts(const QString& section,
                    const QList<std::pair<QString, QString>>& keyValues) const;

    static constexpr int kMaxValueLength = 2047;

private:
    QString m_path;
};
