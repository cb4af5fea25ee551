#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The settings file of the program: a profile file of "[section]" lines and
// "key=value" lines in code page 1251 with CR LF line ends. Section and key names
// match without regard to letter case.
//
// The file is read once, when the object is made; reads answer from that copy. Writes
// change the copy: a key is replaced where it stands, a new key goes to the end of its
// section and a missing section to the end of the file; every other line stays byte
// for byte. save() writes the file once, through a temporary file, so a failed save
// leaves the file as it was. Reading and saving take time linear in the file's size.
class ProfileFile {
public:
    explicit ProfileFile(QString path);
    const QString& path() const { return m_path; }

    // The value without surrounding blanks or an enclosing pair of quotes, at most
    // 2047 characters; the default when the file, the section or the key is missing.
    QString readText(const QString& section, const QString& key, const QString& fallback) const;
    // "0x"/"0X" followed by hexadecimal digits is read as hexadecimal; anything
    // that is not an integer gives the default.
    int readInteger(const QString& section, const QString& key, int fallback) const;

    void writeText(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeFlag(const QString& section, const QString& key, bool value);

    // Writes the file with every change made so far. Throws TomeriaError
    // "Unable to write to <path>" when the file cannot be written.
    void save() const;
    // The bytes save() would write.
    QByteArray contents() const;

    static constexpr int kMaxValueLength = 2047;

private:
    struct KeyLine {
        QString foldedKey;
        qsizetype start; // the line's text, without its line end
        qsizetype end;
    };
    struct Section {
        QString foldedName;
        QList<KeyLine> keys;
        qsizetype insertAt; // just past the line end of the section's last non-blank line
        bool needsLineEnd;  // that line is the file's last and has no line end
    };
    struct Change {
        QString foldedSection;
        QString foldedKey;
        QByteArray line;      // the new "key=value" line, without a line end
        qsizetype start = -1; // the replaced line, or -1 for a new line
        qsizetype end = -1;
        int section = -1; // the section a new line goes to, -1 for a new section
        QByteArray sectionName;
    };

    void parse();
    // The index of the change made to that key, or -1.
    qsizetype changeOf(const QString& foldedSection, const QString& foldedKey) const;

    QString m_path;
    QByteArray m_data;
    QList<Section> m_sections;
    QList<Change> m_changes;
};
