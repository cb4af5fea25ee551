#include "support/test_books.h"

#include "support/test_files.h"

#include <QRegularExpression>

#include <archive.h>
#include <archive_entry.h>

namespace TestBooks {

QString path(const QString& name) {
    return QStringLiteral(TOMERIA_TEST_BOOKS "/") + name;
}

QByteArray read(const QString& name) {
    return TestFiles::read(path(name));
}

QStringList words(const QString& text) {
    static const QRegularExpression word(QStringLiteral("[\\p{L}]+(?:-[\\p{L}]+)*"));
    QStringList out;
    for (auto it = word.globalMatch(text); it.hasNext();)
        out.append(it.next().captured());
    return out;
}

QString title() {
    return QStringLiteral("Капитанская дочка");
}

QString author() {
    return QStringLiteral("Александр Пушкин");
}

QStringList expectedWords() {
    // The source without its front matter and note definition; the notes follow under
    // their heading.
    const QString source = QString::fromUtf8(read(QStringLiteral("book.md")));
    const QString body = source.section(QStringLiteral("---\n"), 2);
    QString text;
    QString note;
    for (const QString& line : body.split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("[^1]:")))
            note = line.mid(5);
        else
            text += line + QLatin1Char('\n');
    }
    text.remove(QStringLiteral("[^1]"));
    return words(title() + QLatin1Char('\n') + author() + QLatin1Char('\n') + text +
                 QStringLiteral("Примечания\n") + note);
}

QByteArray zip(const QList<QPair<QString, QByteArray>>& members) {
    QByteArray out(1 << 20, '\0');
    for (const auto& member : members)
        out.resize(out.size() + member.second.size() + 1024);
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    size_t used = 0;
    archive_write_open_memory(a, out.data(), size_t(out.size()), &used);
    for (const auto& member : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, member.first.toUtf8().constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, member.second.size());
        archive_write_header(a, entry);
        archive_write_data(a, member.second.constData(), size_t(member.second.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    out.truncate(qsizetype(used));
    return out;
}

} // namespace TestBooks
