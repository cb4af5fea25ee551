#pragma once

#include <QObject>
#include <QString>
#include <QStringView>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct _HyphenDict;

// Where a Russian word may be broken at a line's end, from the system's Russian
// hyphenation patterns (libhyphen). A word is a run of Cyrillic letters in any case,
// «ё» included; a break never leaves fewer than two letters on either side, so words
// of one to three letters are never broken. Loaded once; usable from any thread.
//
// The program's hyphenator is loaded on a thread of its own: loaded() never waits, and
// HyphenatorLoading::instance() tells when it is there, so a window lays out without
// hyphens meanwhile and again with them.
class Hyphenator {
public:
    static QString defaultPatterns() { return QStringLiteral("/usr/share/hyphen/hyph_ru_RU.dic"); }
    // The patterns of `patternsPath`, a libhyphen dictionary in KOI8-R. A missing or
    // unreadable file gives a hyphenator that finds no breaks.
    explicit Hyphenator(const QString& patternsPath = defaultPatterns());
    ~Hyphenator();
    Hyphenator(const Hyphenator&) = delete;
    Hyphenator& operator=(const Hyphenator&) = delete;

    // The program's hyphenator, waiting for it if it is still being loaded (the first
    // call starts the loading). Not for the window's thread: see loaded().
    static const Hyphenator& russian();
    // The program's hyphenator when its patterns are loaded, else nullptr; starts the
    // loading on a thread of its own if nothing has. Never waits.
    static const Hyphenator* loaded();
    // Loads the program's hyphenator again, from `patternsPath` (in the background, as at
    // first). A hyphenator handed out before stays valid.
    static void reload(const QString& patternsPath);

    bool available() const { return m_dict != nullptr; }
    // The places `word` may be broken at, ascending: i means between word[i - 1] and
    // word[i], with 2 <= i <= size - 2. None for a word that is not all Cyrillic
    // letters or is longer than kMaxWord.
    std::vector<int> points(QStringView word) const;
    // The same places as bits: bit i set for a break between word[i - 1] and word[i].
    // Each thread remembers the answers for the words it asked about lately (a book's
    // words repeat), so a word seen again costs a look-up; `remembered` false asks the
    // patterns every time.
    std::uint64_t breaks(QStringView word, bool remembered = true) const;
    // breaks() of each of `count` words into out[i], faster than one by one: the words
    // remembered are all looked up at once.
    void breaks(const QStringView* words, size_t count, std::uint64_t* out) const;
    // The word with `mark` at each place (for people and tests: «пере-но-сы»).
    QString marked(QStringView word, QChar mark = QLatin1Char('-')) const;

    static constexpr int kMaxWord = 64;
    // The longest pattern taken (the system's longest has 16 letters): a longer line of
    // a damaged file is left out, and so are patterns beyond kMaxPatternLetters letters in
    // all (the system's have 18,000). A file over kMaxFile bytes is not read.
    static constexpr int kMaxPattern = 64;
    static constexpr int kMaxPatternLetters = 64 * 1024;
    static constexpr qint64 kMaxFile = 2 * 1024 * 1024;
    // Whether a character can be part of a word this hyphenator breaks.
    static bool isLetter(QChar c);

private:
    // The breaks of a word of `size` KOI8-R letters (lower case), from the patterns.
    std::uint64_t patternBreaks(const char* koi8, int size) const;

    _HyphenDict* m_dict = nullptr;
    // The library keeps no state between calls, but it is not documented as safe to
    // share one dictionary between threads: each call takes a dictionary of its own from
    // these copies (loaded again from m_patterns when all are in use), so threads never
    // wait for each other.
    QByteArray m_patterns;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_returned; // a copy back among the spare ones
    mutable std::vector<_HyphenDict*> m_spare;
    mutable std::vector<_HyphenDict*> m_copies;
    // Told apart from every other hyphenator ever made (the remembered words are its own).
    std::uint64_t m_id = 0;
};

// Tells the window's thread that the program's hyphenator has been loaded.
class HyphenatorLoading : public QObject {
    Q_OBJECT
public:
    static HyphenatorLoading* instance();
Q_SIGNALS:
    // The program's hyphenator is loaded: Hyphenator::loaded() now gives it.
    void ready();
};
