#pragma once

#include "core/book/book_lines.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// Counts the display lines of a whole book on a worker thread: for every piece, the
// number of display lines before it. The window asks while the count runs and is told
// of its progress; a new count (another width, font or book) ends the one before.
class LineCounter : public QObject {
    Q_OBJECT
public:
    explicit LineCounter(QObject* parent = nullptr) : QObject(parent) {}
    ~LineCounter() override { stop(); }

    void start(std::shared_ptr<const BookLines> lines);
    // After an edit: the pieces below `keepPieces` are those of the count stopped last
    // (it had counted them), and the count goes on from paragraph `fromParagraph`,
    // whose first piece is keepPieces.
    void resume(std::shared_ptr<const BookLines> lines, int keepPieces, int fromParagraph);
    void stop();

    // Pieces whose first line's number is known: linesBefore(n) answers for n up to this.
    int counted() const { return m_run ? m_run->counted.load(std::memory_order_acquire) : 0; }
    int linesBefore(int piece) const { return m_run->starts[size_t(piece)]; }
    bool finished() const { return m_run && counted() == m_run->lines->pieceCount(); }
    const BookLines* lines() const { return m_run ? m_run->lines.get() : nullptr; }

Q_SIGNALS:
    // More pieces are counted (sent from the window's thread).
    void progress();

private:
    struct Run {
        std::shared_ptr<const BookLines> lines;
        std::vector<int> starts; // starts[n]: display lines before piece n
        std::atomic<int> counted{0};
        std::atomic<bool> cancel{false};
    };
    void count(Run& run, int fromParagraph);

    std::shared_ptr<Run> m_run;
    std::thread m_thread;
};
