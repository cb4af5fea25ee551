#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Small helpers for tests that judge by the files on disk.
namespace TestFiles {
QByteArray read(const QString& path);
void write(const QString& path, const QByteArray& bytes);
QByteArray cp1251(const QString& text);
// Makes a file or folder read-only (permission bits), or writable again.
void setReadOnly(const QString& path, bool readOnly);
// A file of `size` bytes that takes no room on disk (a hole).
void makeSparse(const QString& path, qint64 size);
// Every file and folder under `folder` (hidden ones too, at any depth) with its bytes,
// for comparing a folder before and after an action.
QMap<QString, QByteArray> snapshot(const QString& folder);
// The message of the TomeriaError the action throws, or an empty text.
QString errorOf(const std::function<void()>& action);
// What a program prints on its standard output, as UTF-8 (empty when it cannot run).
QString run(const QString& program, const QStringList& args);
// The text of each page of a PDF file, in order, trimmed (pdftotext from poppler-utils).
QStringList pdfPages(const QString& pdf);
} // namespace TestFiles
