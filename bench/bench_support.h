#pragma once

#include "core/base/cp1251.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

// A figure of this process from /proc/self/status ("VmRSS:", "VmHWM:"), in KB; VmHWM,
// unlike getrusage's peak, starts afresh at exec, so a child does not inherit its
// parent's.
inline qint64 statusKb(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray wanted(key);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(wanted))
            return line.mid(wanted.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// Writes a file of the benchmark into its folder; returns its path.
inline QString write(QTemporaryDir& dir, const QString& name, const QByteArray& data) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(data);
    return path;
}

inline double ms(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

// The fastest of `runs` runs of f, in ms.
template <class F> double bestOf(int runs, F&& f) {
    double best = 1e100;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, ms(t));
    }
    return best;
}

// How long the event loop was kept from running: a 10 ms timer notes the longest gap
// between its ticks while the meter lives.
class FreezeMeter {
public:
    FreezeMeter() {
        m_clock.start();
        QObject::connect(&m_ticker, &QTimer::timeout, &m_ticker, [this] { tick(); });
        m_ticker.start(10);
    }
    // The longest gap so far, in ms, the time since the last tick included.
    qint64 longest() {
        tick();
        return m_longest;
    }

private:
    void tick() {
        const qint64 now = m_clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }

    QElapsedTimer m_clock;
    QTimer m_ticker;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Prose in code page 1251 with CR LF line breaks, as the library stores a book, of `size`
// bytes: the corpus's texts in `folder` (*.txt) repeated, or one sentence without them.
inline QByteArray makeProse(const QString& folder, qsizetype size) {
    QByteArray prose;
    if (!folder.isEmpty()) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                prose += f.readAll() + "\n";
        }
        prose.replace("\r\n", "\n");
        prose.replace('\r', '\n');
        prose.replace("\n", "\r\n");
    }
    if (prose.isEmpty()) {
        const QString sentence = QStringLiteral(
            "Князь Андрей посмотрел на небо, высокое, чистое и бесконечное, и подумал о жизни. ");
        for (int i = 0; i < 2000; ++i)
            prose += Cp1251::encode(sentence) + (i % 7 == 6 ? "\r\n" : "");
    }
    QByteArray out;
    out.reserve(size + prose.size());
    while (out.size() < size)
        out += prose;
    out.truncate(size);
    return out;
}
