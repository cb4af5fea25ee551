#include "core/text/hyphenator.h"

#include "core/base/regular_file.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <hyphen.h>

namespace {

// KOI8-R of the lower-case letters а..я, then ё.
constexpr unsigned char kKoi8[32] = {
    0xc1, 0xc2, 0xd7, 0xc7, 0xc4, 0xc5, 0xd6, 0xda, 0xc9, 0xca, 0xcb, 0xcc, 0xcd, 0xce, 0xcf, 0xd0,
    0xd2, 0xd3, 0xd4, 0xd5, 0xc6, 0xc8, 0xc3, 0xde, 0xdb, 0xdd, 0xdf, 0xd9, 0xd8, 0xdc, 0xc0, 0xd1};

// The KOI8-R byte of a Cyrillic letter in either case, or 0. The patterns know no «ё»:
// it is broken as «е» is.
unsigned char koi8(QChar c) {
    const char16_t u = c.unicode();
    if (u >= 0x0430 && u <= 0x044f)
        return kKoi8[u - 0x0430];
    if (u >= 0x0410 && u <= 0x042f)
        return kKoi8[u - 0x0410];
    if (u == 0x0451 || u == 0x0401)
        return kKoi8[5];
    return 0;
}

// The patterns as libhyphen needs them. Its matcher reports, at each step, only the
// values of the longest pattern read so far; a shorter pattern inside it (or inside a
// beginning of a longer one) is lost unless its values were merged in beforehand.
// Without the merging, the system's Russian patterns leave «мама» and «книга» whole.
// So every beginning of every pattern becomes a pattern of its own, holding the largest
// value at each place of all the patterns found inside it. Keyword lines stay as they are.
//
// A damaged file costs no more than a sound one: a line longer than kMaxPattern
// letters, or holding a control character, is no pattern and is left out; patterns
// beyond kMaxPatternLetters letters in all are not taken; and each beginning adds only
// the patterns that end where it ends (each pattern's beginnings cost the square of its
// length, not the cube).
QByteArray completePatterns(const QByteArray& file) {
    QList<QByteArray> lines = file.split('\n');
    QByteArray out;
    std::unordered_map<std::string, std::string> values; // letters -> digit per gap
    std::vector<std::string> order;
    size_t longest = 0, total = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('%'))
            continue;
        if (std::any_of(line.begin(), line.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            continue;
        // The first line names the code page; keywords are upper-case Latin words.
        if (i == 0 || (line[0] >= 'A' && line[0] <= 'Z')) {
            if (line.size() <= Hyphenator::kMaxPattern)
                out += line + '\n';
            continue;
        }
        std::string letters, digits(1, '0');
        for (const char c : line) {
            if (c >= '0' && c <= '9') {
                digits.back() = c;
            } else {
                letters += c;
                digits += '0';
            }
        }
        if (letters.empty() || letters.size() > size_t(Hyphenator::kMaxPattern))
            continue;
        if (total + letters.size() > size_t(Hyphenator::kMaxPatternLetters))
            break;
        longest = std::max(longest, letters.size());
        if (values.emplace(letters, digits).second) {
            order.push_back(letters);
            total += letters.size();
        }
    }
    std::unordered_set<std::string> done;
    std::string merged, key;
    for (const std::string& pattern : order) {
        merged.assign(1, '0');
        for (size_t length = 1; length <= pattern.size(); ++length) {
            // The values of the beginning one letter shorter, and those of every pattern
            // that ends at this beginning's end.
            merged += '0';
            for (size_t from = length > longest ? length - longest : 0; from < length; ++from) {
                key.assign(pattern, from, length - from);
                const auto found = values.find(key);
                if (found == values.end())
                    continue;
                for (size_t k = 0; k < found->second.size(); ++k)
                    merged[from + k] = std::max(merged[from + k], found->second[k]);
            }
            if (!done.insert(pattern.substr(0, length)).second)
                continue;
            if (merged.find_first_not_of('0') == std::string::npos)
                continue;
            for (size_t k = 0; k < length; ++k) {
                if (merged[k] != '0')
                    out += merged[k];
                out += pattern[k];
            }
            if (merged.back() != '0')
                out += merged.back();
            out += '\n';
        }
    }
    return out;
}

} // namespace

namespace {

_HyphenDict* loadPatterns(QByteArray& patterns) {
    _HyphenDict* dict = nullptr;
    if (FILE* stream = ::fmemopen(patterns.data(), size_t(patterns.size()), "r")) {
        dict = hnj_hyphen_load_file(stream);
        std::fclose(stream);
    }
    return dict;
}

} // namespace

Hyphenator::Hyphenator(const QString& patternsPath) {
    static std::atomic<std::uint64_t> made{0};
    m_id = ++made;
    QByteArray file;
    if (RegularFile::read(patternsPath, kMaxFile, file) != RegularFile::Status::Read)
        return;
    m_patterns = completePatterns(file);
    m_dict = loadPatterns(m_patterns);
    if (m_dict)
        m_spare.push_back(m_dict);
    else
        m_patterns.clear();
}

Hyphenator::~Hyphenator() {
    if (m_dict)
        hnj_hyphen_free(m_dict);
    for (_HyphenDict* copy : m_copies)
        hnj_hyphen_free(copy);
}

namespace {

// The program's hyphenator and its loading. Kept for the whole run (never destroyed, so
// a loading thread still at work when the program ends touches nothing destroyed); every
// hyphenator once loaded stays valid.
struct Shared {
    std::mutex mutex;
    std::condition_variable loadedCondition;
    const Hyphenator* current = nullptr;
    int generation = 0; // loadings started
    bool started = false;
    std::vector<std::unique_ptr<Hyphenator>> kept;

    void start(const QString& path) {
        // Under the mutex.
        started = true;
        current = nullptr;
        const int mine = ++generation;
        std::thread([this, path, mine] {
            auto hyphenator = std::make_unique<Hyphenator>(path);
            {
                std::lock_guard lock(mutex);
                if (mine != generation)
                    return;
                current = hyphenator.get();
                kept.push_back(std::move(hyphenator));
            }
            loadedCondition.notify_all();
            Q_EMIT HyphenatorLoading::instance()->ready();
        }).detach();
    }
};

Shared& shared() {
    static Shared* state = new Shared;
    return *state;
}

} // namespace

HyphenatorLoading* HyphenatorLoading::instance() {
    static HyphenatorLoading* loading = new HyphenatorLoading;
    return loading;
}

const Hyphenator& Hyphenator::russian() {
    Shared& state = shared();
    std::unique_lock lock(state.mutex);
    if (!state.started)
        state.start(defaultPatterns());
    state.loadedCondition.wait(lock, [&] { return state.current != nullptr; });
    return *state.current;
}

const Hyphenator* Hyphenator::loaded() {
    HyphenatorLoading::instance();
    Shared& state = shared();
    std::lock_guard lock(state.mutex);
    if (!state.started)
        state.start(defaultPatterns());
    return state.current;
}

void Hyphenator::reload(const QString& patternsPath) {
    HyphenatorLoading::instance();
    Shared& state = shared();
    std::lock_guard lock(state.mutex);
    state.start(patternsPath);
}

bool Hyphenator::isLetter(QChar c) {
    return koi8(c) != 0;
}

namespace {

// The words a thread asked one hyphenator about lately, with their breaks: a set of two
// slots (one cache line) for each hash of the word's letters, the word used last first.
// A word of more than kLongest letters is not kept. 32,768 sets of 64 bytes: 2 MB a
// thread; the commonest words of a book stay.
struct RememberedWords {
    static constexpr int kLongest = 22;
    static constexpr size_t kSets = 1 << 15;
    struct Slot {
        std::uint64_t breaks = 0;
        unsigned char size = 0; // 0: empty
        char letters[kLongest + 1] = {};
        bool holds(const char* koi8, int n) const {
            return size == n && std::memcmp(letters, koi8, size_t(n)) == 0;
        }
    };
    struct alignas(64) Set {
        Slot ways[2];
    };
    std::uint64_t owner = 0;
    std::unique_ptr<Set[]> sets;

    Set& setOf(std::uint64_t hyphenator, const char* koi8, int size) {
        if (owner != hyphenator || !sets) {
            sets = std::make_unique<Set[]>(kSets);
            owner = hyphenator;
        }
        std::uint64_t hash = 1469598103934665603ull; // FNV-1a
        for (int i = 0; i < size; ++i)
            hash = (hash ^ static_cast<unsigned char>(koi8[i])) * 1099511628211ull;
        return sets[(hash ^ (hash >> 29)) & (kSets - 1)];
    }
    // The word's breaks from its set, or from `compute` (the word then first in the set,
    // the one used longest ago dropped).
    template <class Compute>
    static std::uint64_t lookUp(Set& set, const char* koi8, int size, Compute compute) {
        if (set.ways[0].holds(koi8, size))
            return set.ways[0].breaks;
        if (set.ways[1].holds(koi8, size)) {
            std::swap(set.ways[0], set.ways[1]);
            return set.ways[0].breaks;
        }
        set.ways[1] = set.ways[0];
        Slot& slot = set.ways[0];
        slot.breaks = compute();
        slot.size = static_cast<unsigned char>(size);
        std::memcpy(slot.letters, koi8, size_t(size));
        return slot.breaks;
    }
};

thread_local RememberedWords remembered;

// The KOI8-R letters of a word (lower case), false when it is not all Russian letters.
bool toKoi8(QStringView word, char* out) {
    for (qsizetype i = 0; i < word.size(); ++i) {
        out[i] = char(koi8(word[i]));
        if (out[i] == 0)
            return false;
    }
    out[word.size()] = 0;
    return true;
}

} // namespace

std::vector<int> Hyphenator::points(QStringView word) const {
    std::vector<int> result;
    std::uint64_t bits = breaks(word);
    while (bits) {
        result.push_back(std::countr_zero(bits));
        bits &= bits - 1;
    }
    return result;
}

std::uint64_t Hyphenator::breaks(QStringView word, bool remember) const {
    const int size = int(word.size());
    if (!m_dict || size < 4 || size > kMaxWord)
        return 0;
    char bytes[kMaxWord + 1];
    if (!toKoi8(word, bytes))
        return 0;
    if (!remember || size > RememberedWords::kLongest)
        return patternBreaks(bytes, size);
    return RememberedWords::lookUp(remembered.setOf(m_id, bytes, size), bytes, size,
                                   [&] { return patternBreaks(bytes, size); });
}

void Hyphenator::breaks(const QStringView* words, size_t count, std::uint64_t* out) const {
    // First every word's set, fetched from memory together; then the answers.
    constexpr size_t kBatch = 64;
    char letters[kBatch][RememberedWords::kLongest + 1];
    RememberedWords::Set* sets[kBatch];
    for (size_t from = 0; from < count; from += kBatch) {
        const size_t n = std::min(kBatch, count - from);
        for (size_t i = 0; i < n; ++i) {
            const QStringView word = words[from + i];
            sets[i] = nullptr;
            if (!m_dict || word.size() < 4 || word.size() > RememberedWords::kLongest ||
                !toKoi8(word, letters[i]))
                continue;
            sets[i] = &remembered.setOf(m_id, letters[i], int(word.size()));
            __builtin_prefetch(sets[i]);
        }
        for (size_t i = 0; i < n; ++i) {
            const QStringView word = words[from + i];
            if (!sets[i]) {
                out[from + i] = word.size() > RememberedWords::kLongest ? breaks(word) : 0;
                continue;
            }
            const int size = int(word.size());
            out[from + i] = RememberedWords::lookUp(
                *sets[i], letters[i], size, [&] { return patternBreaks(letters[i], size); });
        }
    }
}

std::uint64_t Hyphenator::patternBreaks(const char* koi8, int size) const {
    char hyphens[kMaxWord + 5] = {};
    char** rep = nullptr;
    int* pos = nullptr;
    int* cut = nullptr;
    _HyphenDict* dict = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_spare.empty()) {
            dict = m_spare.back();
            m_spare.pop_back();
        }
    }
    if (!dict) {
        // Another thread is using each copy: one more (the patterns load in milliseconds),
        // or, should that fail, the next one given back.
        QByteArray patterns = m_patterns;
        dict = loadPatterns(patterns);
        std::unique_lock lock(m_mutex);
        if (dict) {
            m_copies.push_back(dict);
        } else {
            m_returned.wait(lock, [this] { return !m_spare.empty(); });
            dict = m_spare.back();
            m_spare.pop_back();
        }
    }
    const int failed =
        hnj_hyphen_hyphenate3(dict, koi8, size, hyphens, nullptr, &rep, &pos, &cut, 2, 2, 2, 2);
    {
        std::lock_guard lock(m_mutex);
        m_spare.push_back(dict);
    }
    m_returned.notify_one();
    if (rep) {
        for (int i = 0; i < size; ++i)
            free(rep[i]);
        free(rep);
    }
    free(pos);
    free(cut);
    if (failed)
        return 0;
    // An odd digit after letter i allows a break after it.
    std::uint64_t bits = 0;
    for (int i = 1; i + 2 < size; ++i)
        if (hyphens[i] & 1)
            bits |= std::uint64_t(1) << (i + 1);
    return bits;
}

QString Hyphenator::marked(QStringView word, QChar mark) const {
    QString out;
    int from = 0;
    for (const int at : points(word)) {
        out += word.mid(from, at - from);
        out += mark;
        from = at;
    }
    out += word.mid(from);
    return out;
}
