#include "core/base/safe_file.h"

#include "core/base/tomeria_error.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {

bool permitsWriting(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::access(native.constData(), W_OK) != 0)
        return false;
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return false;
    if (::geteuid() == 0 && (st.st_mode & S_IWUSR) == 0)
        return false;
    return true;
}

void write(const QString& path, const QByteArray& data, const QString& createError,
           const QString& writeError) {
    if (path.isEmpty() || path.contains(QChar(0)))
        throw TomeriaError(createError);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir() && !info.isSymLink()) {
        // A device or pipe: there is nothing to rename over, write straight to it.
        QFile device(path);
        if (!device.open(QIODevice::WriteOnly))
            throw TomeriaError(createError);
        if (device.write(data) != data.size() || !device.flush())
            throw TomeriaError(writeError);
        return;
    }
    if (info.isDir() || (info.exists() && !permitsWriting(path)))
        throw TomeriaError(createError);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir() || !permitsWriting(folder))
        throw TomeriaError(createError);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw TomeriaError(createError);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        throw TomeriaError(writeError);
    }
    if (!file.commit())
        throw TomeriaError(writeError);
}

bool read(const QString& path, QByteArray& data) {
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        return false;
    data = file.readAll();
    return file.error() == QFileDevice::NoError;
}

} // namespace SafeFile
