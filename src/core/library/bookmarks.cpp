#include "core/library/bookmarks.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/book/book_text.h"

#include <QStringList>

#include <algorithm>

namespace {

const QString kFirstLine = QStringLiteral("Tomeria: закладки книги");
constexpr qsizetype kWords = 60;    // characters kept of the words at a place
constexpr qsizetype kMinWords = 12; // the shortest part of them that finds a place again
constexpr int kNameWords = 3;       // words of the text in a new bookmark's name

QString escaped(const QString& words) {
    QString out;
    for (QChar c : words) {
        if (c == u'\\')
            out += QLatin1String("\\\\");
        else if (c == u'\r')
            out += QLatin1String("\\r");
        else if (c == u'\n')
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

std::optional<QString> unescaped(QStringView text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        if (text[i] == u'\\')
            out += u'\\';
        else if (text[i] == u'r')
            out += u'\r';
        else if (text[i] == u'n')
            out += u'\n';
        else
            return std::nullopt;
    }
    return out;
}

// The occurrence of `wanted` nearest to `near`, or -1.
qsizetype nearest(const BookText& text, const QString& wanted, qsizetype near) {
    BookText::FindOptions forward;
    forward.matchCase = true;
    BookText::FindOptions backward = forward;
    backward.forward = false;
    const qsizetype after = text.find(wanted, std::min(near, text.length()), forward);
    const qsizetype before =
        text.find(wanted, std::min(near + wanted.size() - 1, text.length()), backward);
    if (after < 0)
        return before;
    if (before < 0)
        return after;
    return near - before <= after - near ? before : after;
}

} // namespace

int Bookmarks::add(const Bookmark& bookmark) {
    const auto at =
        std::upper_bound(m_list.begin(), m_list.end(), bookmark.offset,
                         [](qsizetype offset, const Bookmark& b) { return offset < b.offset; });
    return int(m_list.insert(at, bookmark) - m_list.begin());
}

void Bookmarks::remove(int index) {
    if (index >= 0 && size_t(index) < m_list.size())
        m_list.erase(m_list.begin() + index);
}

void Bookmarks::rename(int index, const QString& name) {
    if (index >= 0 && size_t(index) < m_list.size())
        m_list[size_t(index)].name = name.simplified();
}

void Bookmarks::apply(const TextChange& change) {
    for (Bookmark& b : m_list)
        b.offset = change.moved(b.offset);
}

int Bookmarks::refind(const BookText& text) {
    int dropped = 0;
    std::vector<Bookmark> kept;
    for (Bookmark b : m_list) {
        qsizetype found = b.words.isEmpty() ? -1 : nearest(text, b.words, b.offset);
        // The words' start may stand although what follows changed.
        for (qsizetype n = b.words.size() / 2; found < 0 && n >= kMinWords; n /= 2)
            found = nearest(text, b.words.left(n), b.offset);
        if (found < 0) {
            ++dropped;
            continue;
        }
        b.offset = found;
        b.words = wordsAt(text, found);
        kept.push_back(b);
    }
    m_list.clear();
    for (const Bookmark& b : kept)
        add(b);
    return dropped;
}

QString Bookmarks::wordsAt(const BookText& text, qsizetype offset) {
    offset = std::clamp<qsizetype>(offset, 0, text.length());
    return text.text(offset, std::min(text.length(), offset + kWords));
}

QString Bookmarks::nameFor(const BookText& text, qsizetype offset,
                           const std::vector<Heading>& headings) {
    return nameFor(text.text(offset, std::min(text.length(), offset + kNameSpan)), offset,
                   headings);
}

QString Bookmarks::nameFor(QStringView shown, qsizetype offset,
                           const std::vector<Heading>& headings) {
    // The first words of the place, from its first visible character on.
    qsizetype skipped = 0;
    while (skipped < shown.size() && shown[skipped].isSpace())
        ++skipped;
    const qsizetype from = offset + skipped;
    const QStringView piece = shown.mid(skipped, 200);
    const qsizetype lineEnd = piece.indexOf(QLatin1String("\r\n"));
    QStringList words =
        piece.left(lineEnd < 0 ? piece.size() : lineEnd).toString().split(u' ', Qt::SkipEmptyParts);
    const bool more = words.size() > kNameWords;
    words = words.mid(0, kNameWords);
    QString start = words.join(u' ');
    if (more)
        start += QChar(0x2026);
    const auto after =
        std::upper_bound(headings.begin(), headings.end(), offset,
                         [](qsizetype at, const Heading& h) { return at < h.offset; });
    if (after == headings.begin())
        return start;
    const QString chapter = std::prev(after)->title;
    if (start.isEmpty() || std::prev(after)->offset == from)
        return chapter;
    return chapter + QStringLiteral(" — ") + start;
}

QByteArray Bookmarks::fileText(const BookStamp& stamp) const {
    QStringList lines{kFirstLine, stamp.line()};
    for (const Bookmark& b : m_list) {
        lines << QStringLiteral("Закладка: %1 %2").arg(b.offset).arg(b.name);
        lines << QStringLiteral("Слова: ") + escaped(b.words);
    }
    return Cp1251::encode(lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n"));
}

std::optional<Bookmarks> Bookmarks::parse(QByteArrayView text, BookStamp* stamp) {
    QStringList lines = Cp1251::decode(text).split(QLatin1String("\r\n"));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() < 2 || lines[0] != kFirstLine || lines.size() % 2 != 0)
        return std::nullopt;
    const std::optional<BookStamp> made = BookStamp::fromLine(lines[1]);
    if (!made)
        return std::nullopt;
    if (stamp)
        *stamp = *made;
    Bookmarks result;
    const QString mark = QStringLiteral("Закладка: ");
    const QString words = QStringLiteral("Слова: ");
    for (qsizetype i = 2; i + 1 < lines.size(); i += 2) {
        if (!lines[i].startsWith(mark) || !lines[i + 1].startsWith(words))
            return std::nullopt;
        const QString rest = lines[i].mid(mark.size());
        const qsizetype space = rest.indexOf(u' ');
        bool ok = false;
        const qsizetype offset = rest.left(space < 0 ? rest.size() : space).toLongLong(&ok);
        const std::optional<QString> kept = unescaped(QStringView(lines[i + 1]).mid(words.size()));
        if (!ok || offset < 0 || offset > made->size || !kept)
            return std::nullopt;
        result.add(Bookmark{offset, space < 0 ? QString() : rest.mid(space + 1), *kept});
    }
    return result;
}

Bookmarks Bookmarks::load(const QString& path, const BookText& text, int* dropped) {
    if (dropped)
        *dropped = 0;
    QByteArray bytes;
    if (!SafeFile::read(path, bytes))
        return Bookmarks();
    BookStamp stamp;
    std::optional<Bookmarks> kept = parse(bytes, &stamp);
    if (!kept)
        return Bookmarks(); // damaged: the next save writes it anew
    const BookStamp now = BookStamp::of(text);
    if (stamp == now)
        return *kept;
    const int lost = kept->refind(text);
    if (dropped)
        *dropped = lost;
    kept->save(path, now);
    return *kept;
}

void Bookmarks::save(const QString& path, const BookStamp& stamp) const {
    if (m_list.empty()) {
        AnchoredPath(path).unlink();
        return;
    }
    try {
        SafeFile::write(path, fileText(stamp), QString(), QString());
    } catch (const TomeriaError&) {
    }
}
