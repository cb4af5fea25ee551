#include "core/book/book_document.h"

#include "core/base/cp1251.h"
#include "core/base/safe_file.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char16_t kNulSymbol = 0x2400;
// What find() reads in one run.
constexpr qsizetype kChunk = qsizetype(8) << 20;
// What save() and lostCharacters() map in one go: the mapping of a part makes copies of
// it, so a small part keeps a save of a big book to a fraction of a megabyte more.
constexpr qsizetype kMapPart = qsizetype(1) << 16;

bool isMark(char32_t c) {
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

// The length of the part of `run` from `a` to map next: about kMapPart characters, never
// ending between the halves of a pair nor before a combining mark (a letter and its mark
// may be one letter of the code page).
qsizetype mapPart(QStringView run, qsizetype a) {
    qsizetype end = a + std::min(kMapPart, run.size() - a);
    while (end < run.size()) {
        const QChar c = run[end];
        if (c.isLowSurrogate() || isMark(c.unicode())) {
            ++end;
        } else if (c.isHighSurrogate() && end + 1 < run.size() && run[end + 1].isLowSurrogate() &&
                   isMark(QChar::surrogateToUcs4(c, run[end + 1]))) {
            end += 2;
        } else {
            break;
        }
    }
    return end - a;
}

} // namespace

BookDocument::BookDocument() : BookDocument(BookText()) {}

BookDocument::BookDocument(BookText text) {
    m_wide = text.m_wide;
    m_length = text.length();
    if (m_wide)
        m_fileChars = std::move(text.m_chars);
    else
        m_fileBytes = std::move(text.m_bytes);
    if (m_length > 0)
        m_pieces.push_back({false, 0, m_length});
    recountPieces(0);
    m_longest = text.m_longest;
    buildIndex(text.m_starts);
}

TextChange BookDocument::changeSinceRead() const {
    const char* read = m_fileBytes.constData();
    const qsizetype readLength = m_fileBytes.size();
    const qsizetype shorter = std::min(readLength, m_length);
    const auto bytesOf = [this](const Piece& p) {
        return (p.added ? m_addBytes : m_fileBytes).constData() + p.start;
    };
    // The common start: a piece of the text as read at its own place is the same whole.
    qsizetype prefix = 0;
    for (size_t i = 0; i < m_pieces.size() && prefix < shorter; ++i) {
        const Piece& p = m_pieces[i];
        const qsizetype at = m_pieceStarts[i];
        const qsizetype n = std::min(p.length, shorter - at);
        if (!p.added && p.start == at) {
            prefix = at + n;
            continue;
        }
        const char* own = bytesOf(p);
        qsizetype k = 0;
        while (k < n && own[k] == read[at + k])
            ++k;
        prefix = at + k;
        if (k < p.length)
            break;
    }
    // The common end, never reaching into the common start.
    const qsizetype room = shorter - prefix;
    const qsizetype shift = readLength - m_length; // where the text as read has a place
    qsizetype suffix = 0;
    for (size_t i = m_pieces.size(); i-- > 0 && suffix < room;) {
        const Piece& p = m_pieces[i];
        const qsizetype end = m_pieceStarts[i + 1];
        const qsizetype n = std::min(p.length, room - suffix);
        if (!p.added && p.start + p.length == end + shift) {
            suffix += n;
            continue;
        }
        const char* own = bytesOf(p) + p.length;
        qsizetype k = 0;
        while (k < n && own[-1 - k] == read[end + shift - 1 - k])
            ++k;
        suffix += k;
        if (k < p.length)
            break;
    }
    return TextChange{prefix, readLength - prefix - suffix, m_length - prefix - suffix};
}

void BookDocument::keepHistoryBytes() {
    const auto keep = [this](std::vector<Piece>& pieces) {
        for (Piece& p : pieces) {
            if (p.added)
                continue;
            const qsizetype start = m_wide ? m_addChars.size() : m_addBytes.size();
            if (m_wide)
                m_addChars.append(m_fileChars.constData() + p.start, p.length);
            else
                m_addBytes.append(m_fileBytes.constData() + p.start, p.length);
            p = Piece{true, start, p.length};
        }
    };
    for (std::vector<Step>* steps : {&m_undo, &m_redo})
        for (Step& step : *steps)
            for (Step::Part& part : step.parts) {
                keep(part.removed);
                keep(part.inserted);
            }
}

std::optional<BookText> BookDocument::settle() {
    if (m_wide)
        return std::nullopt;
    if (!(m_pieces.size() == 1 && !m_pieces.front().added && m_pieces.front().start == 0 &&
          m_length == m_fileBytes.size())) {
        keepHistoryBytes();
        // The pieces of the text as read are rearranged in its own memory when each
        // comes from further on than the one before; one that comes from before (a
        // moved passage) is copied to the add buffer first.
        qsizetype readUpTo = 0;
        for (Piece& p : m_pieces) {
            if (p.added)
                continue;
            if (p.start < readUpTo) {
                const qsizetype start = m_addBytes.size();
                m_addBytes.append(m_fileBytes.constData() + p.start, p.length);
                p = Piece{true, start, p.length};
            } else {
                readUpTo = p.start + p.length;
            }
        }
        QByteArray text = std::exchange(m_fileBytes, QByteArray());
        if (text.isDetached()) {
            // The document alone holds it: the pieces move within it. Those moving back
            // go first, front to back, then those moving on, back to front: with their
            // sources in order, neither overwrites a source still to be moved.
            if (m_length > text.size())
                text.resize(m_length);
            char* d = text.data();
            for (size_t i = 0; i < m_pieces.size(); ++i) {
                const Piece& p = m_pieces[i];
                if (!p.added && m_pieceStarts[i] < p.start)
                    std::memmove(d + m_pieceStarts[i], d + p.start, size_t(p.length));
            }
            for (size_t i = m_pieces.size(); i-- > 0;) {
                const Piece& p = m_pieces[i];
                if (!p.added && m_pieceStarts[i] > p.start)
                    std::memmove(d + m_pieceStarts[i], d + p.start, size_t(p.length));
            }
            for (size_t i = 0; i < m_pieces.size(); ++i) {
                const Piece& p = m_pieces[i];
                if (p.added)
                    std::memcpy(d + m_pieceStarts[i], m_addBytes.constData() + p.start,
                                size_t(p.length));
            }
            text.truncate(m_length);
            text.squeeze();
        } else {
            // Another holder keeps the text as read unchanged: this one is copied.
            QByteArray made(m_length, Qt::Uninitialized);
            for (size_t i = 0; i < m_pieces.size(); ++i) {
                const Piece& p = m_pieces[i];
                std::memcpy(made.data() + m_pieceStarts[i],
                            (p.added ? m_addBytes : text).constData() + p.start, size_t(p.length));
            }
            text = std::move(made);
        }
        m_fileBytes = std::move(text);
        m_pieces.clear();
        if (m_length > 0)
            m_pieces.push_back({false, 0, m_length});
        recountPieces(0);
    }
    BookText settled;
    settled.m_bytes = m_fileBytes;
    settled.indexParagraphs();
    return settled;
}

std::function<BookText()> BookDocument::textSnapshot() const {
    return [wide = m_wide, length = m_length, pieces = m_pieces, fileBytes = m_fileBytes,
            addBytes = m_addBytes, fileChars = m_fileChars, addChars = m_addChars] {
        BookText text;
        text.m_wide = wide;
        if (wide) {
            text.m_chars.resize(length);
            QChar* out = text.m_chars.data();
            for (const Piece& p : pieces)
                out = std::copy_n((p.added ? addChars : fileChars).constData() + p.start, p.length,
                                  out);
        } else {
            text.m_bytes.resize(length);
            char* out = text.m_bytes.data();
            for (const Piece& p : pieces)
                out = std::copy_n((p.added ? addBytes : fileBytes).constData() + p.start, p.length,
                                  out);
        }
        text.indexParagraphs();
        return text;
    };
}

void BookDocument::buildIndex(const std::vector<std::uint32_t>& starts) {
    m_blocks.clear();
    for (size_t i = 0; i < starts.size(); i += kBlockSize) {
        Block block;
        block.base = starts[i];
        block.first = int(i);
        const size_t end = std::min(starts.size(), i + kBlockSize);
        block.starts.reserve(end - i);
        for (size_t j = i; j < end; ++j)
            block.starts.push_back(std::uint32_t(starts[j] - starts[i]));
        m_blocks.push_back(std::move(block));
    }
    if (m_blocks.empty())
        m_blocks.push_back({0, 0, {0}});
    m_paragraphs = int(starts.empty() ? 1 : starts.size());
}

// ---- Pieces ---------------------------------------------------------------------------

qsizetype BookDocument::lengthOf(const std::vector<Piece>& pieces) {
    qsizetype n = 0;
    for (const Piece& p : pieces)
        n += p.length;
    return n;
}

void BookDocument::recountPieces(size_t from) {
    m_pieceStarts.resize(m_pieces.size() + 1);
    if (from == 0)
        m_pieceStarts[0] = 0;
    for (size_t i = from; i < m_pieces.size(); ++i)
        m_pieceStarts[i + 1] = m_pieceStarts[i] + m_pieces[i].length;
    m_length = m_pieceStarts.back();
}

size_t BookDocument::pieceAt(qsizetype offset) const {
    if (m_pieces.empty())
        return 0;
    const auto it = std::upper_bound(m_pieceStarts.begin(), m_pieceStarts.end() - 1, offset);
    return size_t(std::max<std::ptrdiff_t>(0, it - m_pieceStarts.begin() - 1));
}

size_t BookDocument::splitAt(qsizetype offset) {
    if (offset >= m_length)
        return m_pieces.size();
    const size_t i = pieceAt(offset);
    const qsizetype inside = offset - m_pieceStarts[i];
    if (inside == 0)
        return i;
    Piece second = m_pieces[i];
    second.start += inside;
    second.length -= inside;
    m_pieces[i].length = inside;
    m_pieces.insert(m_pieces.begin() + std::ptrdiff_t(i) + 1, second);
    m_pieceStarts.insert(m_pieceStarts.begin() + std::ptrdiff_t(i) + 1, offset);
    return i + 1;
}

void BookDocument::mergeAround(size_t index) {
    // The pieces index - 1 and index join when one buffer holds them in a row.
    if (index == 0 || index >= m_pieces.size())
        return;
    Piece& a = m_pieces[index - 1];
    const Piece& b = m_pieces[index];
    if (a.added != b.added || a.start + a.length != b.start)
        return;
    a.length += b.length;
    m_pieces.erase(m_pieces.begin() + std::ptrdiff_t(index));
    m_pieceStarts.erase(m_pieceStarts.begin() + std::ptrdiff_t(index));
}

std::vector<BookDocument::Piece> BookDocument::splice(qsizetype at, qsizetype length,
                                                      const std::vector<Piece>& inserted) {
    const size_t a = splitAt(at);
    const size_t b = splitAt(at + length);
    std::vector<Piece> removed(m_pieces.begin() + std::ptrdiff_t(a),
                               m_pieces.begin() + std::ptrdiff_t(b));
    m_pieces.erase(m_pieces.begin() + std::ptrdiff_t(a), m_pieces.begin() + std::ptrdiff_t(b));
    m_pieces.insert(m_pieces.begin() + std::ptrdiff_t(a), inserted.begin(), inserted.end());
    recountPieces(a);
    mergeAround(a + inserted.size());
    mergeAround(a);
    recountPieces(a > 0 ? a - 1 : 0);
    return removed;
}

void BookDocument::makeWide() {
    if (m_wide)
        return;
    m_fileChars = Cp1251::decode(m_fileBytes);
    m_fileBytes = QByteArray();
    m_addChars = Cp1251::decode(m_addBytes);
    m_addBytes = QByteArray();
    m_wide = true;
}

std::vector<BookDocument::Piece> BookDocument::addText(QStringView text) {
    if (text.isEmpty())
        return {};
    Piece piece;
    piece.added = true;
    const qsizetype n = text.size();
    const QChar* in = text.constData();
    // Every line break is CR LF; U+2400 stands for NUL.
    const auto lineBreak = [](char16_t ch) {
        return ch == u'\r' || ch == u'\n' || ch == QChar::LineSeparator ||
               ch == QChar::ParagraphSeparator;
    };
    if (!m_wide) {
        // Straight into the add buffer in code page 1251, while every character has a form.
        const qsizetype base = m_addBytes.size();
        if (m_addBytes.capacity() < base + 2 * n) // grows by half at least: typing stays cheap
            m_addBytes.reserve(std::max(base + 2 * n, base + base / 2));
        m_addBytes.resize(base + 2 * n);
        char* out = m_addBytes.data() + base;
        char* const begin = out;
        bool narrow = true;
        for (qsizetype i = 0; i < n && narrow; ++i) {
            const char16_t ch = in[i].unicode();
            if (lineBreak(ch)) {
                *out++ = '\r';
                *out++ = '\n';
                if (ch == u'\r' && i + 1 < n && in[i + 1] == u'\n')
                    ++i;
                continue;
            }
            const int b = ch == kNulSymbol ? 0 : Cp1251::fromUnicode(ch);
            if (b < 0)
                narrow = false;
            else
                *out++ = char(b);
        }
        if (narrow) {
            piece.start = base;
            piece.length = out - begin;
            m_addBytes.resize(base + piece.length);
            return {piece};
        }
        m_addBytes.resize(base);
        makeWide();
    }
    piece.start = m_addChars.size();
    if (m_addChars.capacity() < piece.start + 2 * n)
        m_addChars.reserve(std::max(piece.start + 2 * n, piece.start + piece.start / 2));
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ch = in[i].unicode();
        if (lineBreak(ch)) {
            m_addChars += QLatin1String("\r\n");
            if (ch == u'\r' && i + 1 < n && in[i + 1] == u'\n')
                ++i;
            continue;
        }
        m_addChars += QChar(ch == kNulSymbol ? char16_t(0) : ch);
    }
    piece.length = m_addChars.size() - piece.start;
    return {piece};
}

// ---- Reading --------------------------------------------------------------------------

char16_t BookDocument::at(qsizetype offset) const {
    const size_t i = pieceAt(offset);
    const Piece& p = m_pieces[i];
    const qsizetype k = p.start + offset - m_pieceStarts[i];
    if (m_wide) {
        const char16_t ch = (p.added ? m_addChars : m_fileChars)[k].unicode();
        return ch == 0 ? kNulSymbol : ch;
    }
    const auto b = static_cast<unsigned char>((p.added ? m_addBytes : m_fileBytes)[k]);
    return b == 0 ? kNulSymbol : Cp1251::toUnicode(b);
}

QString BookDocument::text(qsizetype from, qsizetype to) const {
    from = std::clamp<qsizetype>(from, 0, m_length);
    to = std::clamp<qsizetype>(to, from, m_length);
    QString out;
    out.reserve(to - from);
    for (size_t i = pieceAt(from); i < m_pieces.size() && m_pieceStarts[i] < to; ++i) {
        const Piece& p = m_pieces[i];
        const qsizetype a = std::max(from, m_pieceStarts[i]) - m_pieceStarts[i] + p.start;
        const qsizetype b = std::min(to, m_pieceStarts[i + 1]) - m_pieceStarts[i] + p.start;
        if (m_wide)
            out += QStringView(p.added ? m_addChars : m_fileChars).sliced(a, b - a);
        else
            out +=
                Cp1251::decode(QByteArrayView(p.added ? m_addBytes : m_fileBytes).sliced(a, b - a));
    }
    if (out.contains(QChar(0)))
        out.replace(QChar(0), QChar(kNulSymbol));
    return out;
}

const unsigned char* BookDocument::bytes(qsizetype from, qsizetype to, std::string& scratch) const {
    from = std::clamp<qsizetype>(from, 0, m_length);
    to = std::clamp<qsizetype>(to, from, m_length);
    const size_t first = pieceAt(from);
    if (first < m_pieces.size() && to <= m_pieceStarts[first + 1]) {
        const Piece& p = m_pieces[first];
        const QByteArray& buffer = p.added ? m_addBytes : m_fileBytes;
        return reinterpret_cast<const unsigned char*>(buffer.constData()) + p.start + from -
               m_pieceStarts[first];
    }
    scratch.resize(size_t(to - from));
    char* out = scratch.data();
    for (size_t i = first; i < m_pieces.size() && m_pieceStarts[i] < to; ++i) {
        const Piece& p = m_pieces[i];
        const qsizetype a = std::max(from, m_pieceStarts[i]) - m_pieceStarts[i] + p.start;
        const qsizetype b = std::min(to, m_pieceStarts[i + 1]) - m_pieceStarts[i] + p.start;
        std::memcpy(out, (p.added ? m_addBytes : m_fileBytes).constData() + a, size_t(b - a));
        out += b - a;
    }
    return reinterpret_cast<const unsigned char*>(scratch.data());
}

const char16_t* BookDocument::chars(qsizetype from, qsizetype to, std::u16string& scratch) const {
    from = std::clamp<qsizetype>(from, 0, m_length);
    to = std::clamp<qsizetype>(to, from, m_length);
    const size_t first = pieceAt(from);
    if (first < m_pieces.size() && to <= m_pieceStarts[first + 1]) {
        const Piece& p = m_pieces[first];
        const QString& buffer = p.added ? m_addChars : m_fileChars;
        return reinterpret_cast<const char16_t*>(buffer.constData()) + p.start + from -
               m_pieceStarts[first];
    }
    scratch.resize(size_t(to - from));
    char16_t* out = scratch.data();
    for (size_t i = first; i < m_pieces.size() && m_pieceStarts[i] < to; ++i) {
        const Piece& p = m_pieces[i];
        const qsizetype a = std::max(from, m_pieceStarts[i]) - m_pieceStarts[i] + p.start;
        const qsizetype b = std::min(to, m_pieceStarts[i + 1]) - m_pieceStarts[i] + p.start;
        std::memcpy(out, (p.added ? m_addChars : m_fileChars).constData() + a,
                    size_t(b - a) * sizeof(char16_t));
        out += b - a;
    }
    return scratch.data();
}

// ---- Paragraphs -----------------------------------------------------------------------

size_t BookDocument::blockOfParagraph(int paragraph) const {
    const auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), paragraph,
                                     [](int p, const Block& b) { return p < b.first; });
    return size_t(std::max<std::ptrdiff_t>(0, it - m_blocks.begin() - 1));
}

size_t BookDocument::blockOfOffset(qsizetype offset) const {
    const auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), offset,
                                     [](qsizetype o, const Block& b) { return o < b.base; });
    return size_t(std::max<std::ptrdiff_t>(0, it - m_blocks.begin() - 1));
}

qsizetype BookDocument::paragraphStart(int paragraph) const {
    paragraph = std::clamp(paragraph, 0, m_paragraphs - 1);
    const Block& b = m_blocks[blockOfParagraph(paragraph)];
    return b.base + b.starts[size_t(paragraph - b.first)];
}

int BookDocument::paragraphAt(qsizetype offset) const {
    offset = std::clamp<qsizetype>(offset, 0, m_length);
    const Block& b = m_blocks[blockOfOffset(offset)];
    const auto it =
        std::upper_bound(b.starts.begin(), b.starts.end(), std::uint32_t(offset - b.base));
    return b.first + int(it - b.starts.begin()) - 1;
}

void BookDocument::scanBreaks(qsizetype from, qsizetype to, std::vector<qsizetype>& starts) const {
    for (size_t i = pieceAt(from); i < m_pieces.size() && m_pieceStarts[i] < to; ++i) {
        const Piece& p = m_pieces[i];
        const qsizetype shift = m_pieceStarts[i] - p.start; // buffer index to offset
        const qsizetype a = std::max(from, m_pieceStarts[i]) - shift;
        const qsizetype e = std::min(to, m_pieceStarts[i + 1]) - shift;
        if (m_wide) {
            const QChar* d = (p.added ? m_addChars : m_fileChars).constData();
            for (qsizetype j = a; j < e; ++j)
                if (d[j] == u'\n')
                    starts.push_back(j + shift + 1);
        } else {
            const char* d = (p.added ? m_addBytes : m_fileBytes).constData();
            for (const char* q = d + a;
                 (q = static_cast<const char*>(std::memchr(q, '\n', size_t(d + e - q)))) != nullptr;
                 ++q)
                starts.push_back(q - d + shift + 1);
        }
    }
}

void BookDocument::reindex(qsizetype from, qsizetype removed, qsizetype inserted) {
    const qsizetype delta = inserted - removed;
    // The blocks holding starts in [from, from + removed] (offsets of before the edit).
    const size_t firstBlock = blockOfOffset(from);
    const size_t lastBlock = blockOfOffset(from + removed);
    std::vector<qsizetype> starts;
    std::vector<qsizetype> moved;
    for (size_t k = firstBlock; k <= lastBlock; ++k) {
        const Block& b = m_blocks[k];
        for (const std::uint32_t rel : b.starts) {
            const qsizetype s = b.base + rel;
            if (s <= from)
                starts.push_back(s);
            else if (s > from + removed)
                moved.push_back(s + delta);
        }
    }
    scanBreaks(from, from + inserted, starts);
    starts.insert(starts.end(), moved.begin(), moved.end());
    // The starts of those blocks anew, in blocks of at most kBlockSize.
    std::vector<Block> rebuilt;
    int paragraph = m_blocks[firstBlock].first;
    for (size_t i = 0; i < starts.size(); i += kBlockSize) {
        Block block;
        block.base = starts[i];
        block.first = paragraph;
        const size_t end = std::min(starts.size(), i + kBlockSize);
        block.starts.reserve(end - i);
        for (size_t j = i; j < end; ++j)
            block.starts.push_back(std::uint32_t(starts[j] - starts[i]));
        paragraph += int(end - i);
        rebuilt.push_back(std::move(block));
    }
    const size_t after = firstBlock + rebuilt.size();
    m_blocks.erase(m_blocks.begin() + std::ptrdiff_t(firstBlock),
                   m_blocks.begin() + std::ptrdiff_t(lastBlock) + 1);
    m_blocks.insert(m_blocks.begin() + std::ptrdiff_t(firstBlock),
                    std::make_move_iterator(rebuilt.begin()),
                    std::make_move_iterator(rebuilt.end()));
    for (size_t k = after; k < m_blocks.size(); ++k) {
        m_blocks[k].base += delta;
        m_blocks[k].first = paragraph;
        paragraph += int(m_blocks[k].starts.size());
    }
    m_paragraphs = paragraph;
}

void BookDocument::noteLongest(qsizetype from, qsizetype to) {
    const int last = paragraphAt(to);
    for (int p = paragraphAt(from); p <= last; ++p)
        m_longest = std::max(m_longest, paragraphEnd(p) - paragraphStart(p));
}

// ---- Edits ----------------------------------------------------------------------------

qsizetype BookDocument::widenStart(qsizetype from) const {
    from = std::clamp<qsizetype>(from, 0, m_length);
    if (from > 0 && from < m_length && at(from) == u'\n' && at(from - 1) == u'\r')
        --from;
    return from;
}

qsizetype BookDocument::widenEnd(qsizetype to) const {
    to = std::clamp<qsizetype>(to, 0, m_length);
    if (to > 0 && to < m_length && at(to) == u'\n' && at(to - 1) == u'\r')
        ++to;
    return to;
}

void BookDocument::pushStep(Step step) {
    m_redo.clear();
    if (m_savedDepth > int(m_undo.size()))
        m_savedDepth = -1; // the saved text cannot come back
    m_undo.push_back(std::move(step));
}

qsizetype BookDocument::replace(qsizetype from, qsizetype to, QStringView text, bool typing) {
    from = widenStart(std::min(from, to));
    to = widenEnd(std::max(from, to));
    std::vector<Piece> inserted = addText(text);
    const qsizetype insertedLength = lengthOf(inserted);
    m_lastChanges.clear();
    if (from == to && inserted.empty())
        return from;
    m_lastChanges.push_back({from, to - from, insertedLength});
    std::vector<Piece> removed = splice(from, to - from, inserted);
    reindex(from, to - from, insertedLength);
    noteLongest(from, from + insertedLength);
    // A letter typed where the typing before it ended goes into its step.
    if (typing && m_typingOpen && from == to && m_redo.empty() && !m_undo.empty() &&
        m_undo.back().typing && int(m_undo.size()) != m_savedDepth) {
        Step::Part& last = m_undo.back().parts.back();
        if (last.at + lengthOf(last.inserted) == from) {
            for (const Piece& p : inserted) {
                if (!last.inserted.empty() && last.inserted.back().added == p.added &&
                    last.inserted.back().start + last.inserted.back().length == p.start)
                    last.inserted.back().length += p.length;
                else
                    last.inserted.push_back(p);
            }
            return from;
        }
    }
    Step step;
    step.typing = typing;
    step.parts.push_back({from, std::move(removed), std::move(inserted)});
    pushStep(std::move(step));
    m_typingOpen = typing;
    return from;
}

qsizetype BookDocument::move(qsizetype from, qsizetype to, qsizetype at) {
    from = widenStart(std::min(from, to));
    to = widenEnd(std::max(from, to));
    at = widenStart(at);
    m_lastChanges.clear();
    if (from == to || (at >= from && at <= to))
        return from;
    std::vector<Piece> moved = splice(from, to - from, {});
    reindex(from, to - from, 0);
    const qsizetype target = at > to ? at - (to - from) : at;
    splice(target, 0, moved);
    reindex(target, 0, to - from);
    Step step;
    step.parts.push_back({from, moved, {}});
    step.parts.push_back({target, {}, moved});
    pushStep(std::move(step));
    m_typingOpen = false;
    m_lastChanges = {{from, to - from, 0}, {target, 0, to - from}};
    return target;
}

BookDocument::Change BookDocument::apply(const Step::Part& part, bool forward) {
    const std::vector<Piece>& out = forward ? part.removed : part.inserted;
    const std::vector<Piece>& in = forward ? part.inserted : part.removed;
    const Change change{part.at, lengthOf(out), lengthOf(in)};
    splice(change.from, change.removed, in);
    reindex(change.from, change.removed, change.inserted);
    noteLongest(change.from, change.from + change.inserted);
    return change;
}

std::vector<BookDocument::Change> BookDocument::undo() {
    std::vector<Change> changes;
    m_lastChanges.clear();
    if (m_undo.empty())
        return changes;
    Step step = std::move(m_undo.back());
    m_undo.pop_back();
    for (auto part = step.parts.rbegin(); part != step.parts.rend(); ++part)
        changes.push_back(apply(*part, false));
    m_redo.push_back(std::move(step));
    m_typingOpen = false;
    m_lastChanges = changes;
    return changes;
}

std::vector<BookDocument::Change> BookDocument::redo() {
    std::vector<Change> changes;
    m_lastChanges.clear();
    if (m_redo.empty())
        return changes;
    Step step = std::move(m_redo.back());
    m_redo.pop_back();
    for (const Step::Part& part : step.parts)
        changes.push_back(apply(part, true));
    m_undo.push_back(std::move(step));
    m_typingOpen = false;
    m_lastChanges = changes;
    return changes;
}

void BookDocument::setModified(bool modified) {
    m_modified = modified;
    if (!modified) {
        m_savedDepth = int(m_undo.size());
        m_typingOpen = false;
    }
}

// ---- Find -----------------------------------------------------------------------------

qsizetype BookDocument::find(QStringView wanted, qsizetype from, FindOptions options) const {
    const qsizetype m = wanted.size();
    if (m == 0 || m > m_length)
        return -1;
    // Whole words are checked here, against the characters beyond each run's edges.
    FindOptions plain = options;
    plain.wholeWord = false;
    const auto acceptable = [&](qsizetype at) {
        if (!options.wholeWord)
            return true;
        return (at == 0 || !BookText::isWordCharacter(this->at(at - 1))) &&
               (at + m >= m_length || !BookText::isWordCharacter(this->at(at + m)));
    };
    std::string bytes;
    std::u16string chars;
    // Search the run [a, b) from `start` within it; the offset of the first acceptable hit.
    const auto search = [&](qsizetype a, qsizetype b, qsizetype start) -> qsizetype {
        const unsigned char* d = m_wide ? nullptr : this->bytes(a, b, bytes);
        const char16_t* w = m_wide ? this->chars(a, b, chars) : nullptr;
        const auto once = [&](qsizetype s) {
            return m_wide ? BookText::findInChars(w, b - a, wanted, s, plain)
                          : BookText::findInBytes(d, b - a, wanted, s, plain);
        };
        for (qsizetype hit = once(start); hit >= 0;) {
            if (acceptable(a + hit))
                return a + hit;
            if (options.forward)
                hit = once(hit + 1);
            else
                hit = hit + m - 1 >= m ? once(hit + m - 1) : -1;
        }
        return -1;
    };
    if (options.forward) {
        for (qsizetype a = std::max<qsizetype>(0, from); a + m <= m_length; a += kChunk) {
            const qsizetype b = std::min(m_length, a + kChunk + m - 1);
            const qsizetype found = search(a, b, 0);
            if (found >= 0)
                return found;
        }
        return -1;
    }
    for (qsizetype b = std::min(from, m_length); b - m >= 0;) {
        const qsizetype a = std::max<qsizetype>(0, b - kChunk - m + 1);
        const qsizetype found = search(a, b, b - a);
        if (found >= 0)
            return found;
        if (a == 0)
            break;
        b = a + m - 1;
    }
    return -1;
}

// ---- Saving ---------------------------------------------------------------------------

QString BookDocument::lostCharacters(int limit) const {
    QStringList lost;
    if (!m_wide)
        return QString();
    for (const Piece& p : m_pieces) {
        const QStringView run =
            QStringView(p.added ? m_addChars : m_fileChars).sliced(p.start, p.length);
        for (qsizetype a = 0, n = 0; a < run.size() && lost.size() < limit; a += n) {
            n = mapPart(run, a);
            const QString storable = Cp1251::storable(run.sliced(a, n));
            for (const QString& ch : Cp1251::missingCharacters(storable, limit))
                if (!lost.contains(ch) && lost.size() < limit)
                    lost << ch;
        }
    }
    return lost.join(QString());
}

void BookDocument::save(const QString& path, const QString& createError, const QString& writeError,
                        Encoding encoding) const {
    const bool utf8 = encoding == Encoding::Utf8;
    SafeFile::write(
        path,
        [this, utf8](const SafeFile::Sink& sink) {
            for (const Piece& p : m_pieces) {
                if (!m_wide && utf8) {
                    const QByteArrayView run = QByteArrayView(p.added ? m_addBytes : m_fileBytes)
                                                   .sliced(p.start, p.length);
                    for (qsizetype a = 0; a < run.size(); a += kMapPart)
                        if (!sink(Cp1251::decode(run.sliced(a, std::min(kMapPart, run.size() - a)))
                                      .toUtf8()))
                            return false;
                    continue;
                }
                if (!m_wide) {
                    if (!sink(QByteArrayView(p.added ? m_addBytes : m_fileBytes)
                                  .sliced(p.start, p.length)))
                        return false;
                    continue;
                }
                const QStringView run =
                    QStringView(p.added ? m_addChars : m_fileChars).sliced(p.start, p.length);
                for (qsizetype a = 0, n = 0; a < run.size(); a += n) {
                    n = mapPart(run, a);
                    if (!sink(utf8 ? run.sliced(a, n).toUtf8()
                                   : Cp1251::encodeStorable(run.sliced(a, n))))
                        return false;
                }
            }
            return true;
        },
        createError, writeError);
}
