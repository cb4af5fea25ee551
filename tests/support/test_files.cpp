#include "support/test_files.h"

#include "core/base/cp1251.h"
#include "core/base/tomeria_error.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace TestFiles {

QByteArray read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray cp1251(const QString& text) {
    return Cp1251::encode(text);
}

void setReadOnly(const QString& path, bool readOnly) {
    const bool folder = QFileInfo(path).isDir();
    QFile::Permissions p = QFile::ReadOwner | QFile::ReadUser | QFile::ReadGroup | QFile::ReadOther;
    if (folder)
        p |= QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
    if (!readOnly)
        p |= QFile::WriteOwner | QFile::WriteUser;
    QFile::setPermissions(path, p);
}

void makeSparse(const QString& path, qint64 size) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.resize(size);
}

QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path),
                     it.fileInfo().isDir() ? QByteArray("<folder>") : read(path));
    }
    return files;
}

QString errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TomeriaError& e) {
        return e.message();
    }
    return QString();
}

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QStringList pdfPages(const QString& pdf) {
    QStringList pages =
        run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast(); // after the last page's form feed
    for (QString& page : pages)
        page = page.trimmed();
    return pages;
}

} // namespace TestFiles
