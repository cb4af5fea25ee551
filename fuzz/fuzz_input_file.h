#pragma once

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

// Writes a fuzz input into a file of the given name in a folder kept for the run;
// returns its path, or an empty text when it cannot be written.
inline QString writeFuzzInput(const QString& name, const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    return path;
}
