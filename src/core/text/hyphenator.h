#pragma once

#include <QString>
#include <QStringView>

#include <memory>
#include <mutex>
#include <vector>

struct _HyphenDict;

// Where a Russian word may be broken at a line's end, from the system's Russian
// hyphenation patterns (libhyphen). A word is a run of Cyrillic letters in any case,
// «ё» included; a break never leaves fewer than two letters on either side, so words
// of one to three letters are never broken. Loaded once; usable from any thread.
class Hyphenator {
public:
    static QString defaultPatterns() { return QStringLiteral("/usr/share/hyphen/hyph_ru_RU.dic"); }
    // The patterns of `patternsPath`, a libhyphen dictionary in KOI8-R. A missing or
    // unreadable file gives a hyphenator that finds no breaks.
    explicit Hyphenator(const QString& patternsPath = defaultPatterns());
    ~Hyphenator();
    Hyphenator(const Hyphenator&) = delete;
    Hyphenator& operator=(const Hyphenator&) = delete;

    // The program's hyphenator of the default patterns, loaded on first use.
    static const Hyphenator& russian();

    bool available() const { return m_dict != nullptr; }
    // The places `word` may be broken at, ascending: i means between word[i - 1] and
    // word[i], with 2 <= i <= size - 2. None for a word that is not all Cyrillic
    // letters or is longer than kMaxWord.
    std::vector<int> points(QStringView word) const;
    // The word with `mark` at each place (for people and tests: «пере-но-сы»).
    QString marked(QStringView word, QChar mark = QLatin1Char('-')) const;

    static constexpr int kMaxWord = 64;
    // Whether a character can be part of a word this hyphenator breaks.
    static bool isLetter(QChar c);

private:
    _HyphenDict* m_dict = nullptr;
    mutable std::mutex m_mutex;
};
