#pragma once

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
