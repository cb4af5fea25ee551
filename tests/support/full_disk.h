#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// While alive, the files whose path matches `pattern` are on a disk with `free` bytes left
// (tests/support/short_write_shim.cpp, preloaded into the test, writes short and then
// fails with ENOSPC).
class FullDisk {
public:
    FullDisk(const QString& pattern, int free) {
        qputenv("TOMERIA_DISK_FREE", QByteArray::number(free));
        qputenv("TOMERIA_FULL_DISK", QFile::encodeName(pattern));
    }
    ~FullDisk() {
        qunsetenv("TOMERIA_FULL_DISK");
        qunsetenv("TOMERIA_DISK_FREE");
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;
};
