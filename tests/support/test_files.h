#pragma once

#include <QByteArray>
#include <QString>

// Small helpers for tests that judge by the files on disk.
namespace TestFiles {
QByteArray read(const QString& path);
void write(const QString& path, const QByteArray& bytes);
QByteArray cp1251(const QString& text);
// Makes a file or folder read-only (permission bits), or writable again.
void setReadOnly(const QString& path, bool readOnly);
} // namespace TestFiles
