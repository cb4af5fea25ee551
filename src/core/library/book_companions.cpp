#include "core/library/book_companions.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/formats/book_import.h"
#include "core/library/book_folder.h"
#include "core/library/book_preparation.h"

#include <QStringList>

namespace BookCompanions {

namespace {

const QString kContentsFirstLine = QStringLiteral("Tomeria: оглавление и выделения книги");

bool breaksLine(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

// How many characters a run of an imported book takes in the stored text: each line
// break one CR LF, each character in its code-page form (BookPreparation::storedBytes).
qsizetype storedLength(QStringView run) {
    QString out;
    out.reserve(run.size());
    for (qsizetype i = 0; i < run.size(); ++i) {
        const char16_t c = run[i].unicode();
        if (breaksLine(c)) {
            if (c == u'\r' && i + 1 < run.size() && run[i + 1] == u'\n')
                ++i;
            out += QLatin1String("\r\n");
        } else {
            out += QChar(c);
        }
    }
    return Cp1251::storable(out).size();
}

QStringList linesOf(QByteArrayView text) {
    return Cp1251::decode(text).split(QLatin1String("\r\n"));
}

// The lines of a heading as one title: «Глава 1» and «Начало» make «Глава 1. Начало».
QString joinedTitle(const QStringList& lines) {
    QString title = lines.front();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QChar last = title.back();
        if (last != u'.' && last != u'!' && last != u'?' && last != u':' && last != QChar(0x2026))
            title += u'.';
        title += u' ' + lines[i];
    }
    return title;
}

void removeQuietly(const QString& path) {
    AnchoredPath(path).unlink();
}

} // namespace

QString contentsPath(const BookFolder& folder, const QString& name) {
    return folder.booksFolder() + name + QStringLiteral(".toc");
}

QString bookmarksPath(const BookFolder& folder, const QString& name) {
    return folder.booksFolder() + name + QStringLiteral(".bmk");
}

void remove(const BookFolder& folder, const QString& name) {
    if (!BookFolder::isValidBookName(name))
        return;
    removeQuietly(contentsPath(folder, name));
    removeQuietly(bookmarksPath(folder, name));
}

Pending pendingOf(const ImportedBook& book) {
    Pending pending;
    if (book.kind != ImportedBook::Kind::Formatted)
        return pending;
    BookMarkup& markup = pending.markup;
    const QList<RtfParagraph>& paragraphs = book.document.paragraphs;
    qsizetype heading = 0;
    qsizetype at = 0;
    qsizetype spanJoinsFrom = 0; // the end of the last visible run: a span ending there goes on
    // The heading being read: its place and lines.
    qsizetype headingStart = -1;
    int headingLevel = 0;
    int headingLines = 0;
    QStringList headingText;
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        if (p > 0)
            at += 2;
        const qsizetype start = at;
        QString text;
        for (const RtfRun& run : paragraphs[p].runs) {
            const qsizetype length = storedLength(run.text);
            // Emphasis of the body; a heading's own bold is its style.
            const bool body = run.format.halfPoints == 24;
            const int kind = (run.format.italic ? Emphasis::Italic : 0) |
                             (run.format.bold && body ? Emphasis::Bold : 0);
            // The blanks around the emphasised words are not emphasis.
            qsizetype lead = 0;
            while (lead < run.text.size() && run.text[lead].isSpace())
                ++lead;
            qsizetype trail = 0;
            while (trail < run.text.size() - lead &&
                   run.text[run.text.size() - 1 - trail].isSpace())
                ++trail;
            const qsizetype from = at + lead;
            const qsizetype to = at + length - trail;
            for (int k : {int(Emphasis::Italic), int(Emphasis::Bold)}) {
                if (!(kind & k) || to <= from)
                    continue;
                // Runs of one kind with only blanks between make one span.
                auto last = std::find_if(markup.emphasis.rbegin(), markup.emphasis.rend(),
                                         [k](const Emphasis& e) { return e.kind == k; });
                if (last != markup.emphasis.rend() && last->to >= spanJoinsFrom)
                    last->to = to;
                else
                    markup.emphasis.push_back(Emphasis{from, to, k});
            }
            if (to > from)
                spanJoinsFrom = to;
            at += length;
            text += run.text;
        }
        while (heading < book.headings.size() && book.headings[heading].paragraph < p)
            ++heading;
        if (heading < book.headings.size() && book.headings[heading].paragraph == p) {
            const QString stored = Cp1251::storable(text);
            qsizetype lead = 0;
            while (lead < stored.size() && stored[lead].isSpace())
                ++lead;
            headingStart = start + lead;
            headingLevel = book.headings[heading].level;
            headingLines = book.headings[heading].paragraphs;
            headingText.clear();
        }
        if (headingLines > 0) {
            const QString line = Cp1251::storable(text).simplified();
            if (!line.isEmpty())
                headingText << line;
            if (--headingLines == 0 && !headingText.isEmpty())
                markup.headings.push_back(
                    Heading{headingStart, headingLevel, joinedTitle(headingText)});
        }
    }
    std::sort(markup.emphasis.begin(), markup.emphasis.end(),
              [](const Emphasis& a, const Emphasis& b) { return a.from < b.from; });
    pending.text = BookPreparation::storedBytes(book);
    if (pending.text.size() != at)
        pending.markup = BookMarkup(); // places that could not be told: none, not wrong ones
    return pending;
}

BookMarkup markupOf(const Pending& pending, const QByteArray& stored) {
    BookMarkup markup = pending.markup;
    markup.apply(TextChange::between(pending.text, stored));
    return markup;
}

void keep(const BookFolder& folder, const QString& name, const Pending& pending,
          const QByteArray& stored) {
    if (!BookFolder::isValidBookName(name))
        return;
    const QString path = contentsPath(folder, name);
    try {
        writeContents(path, markupOf(pending, stored), stored);
    } catch (const TomeriaError&) {
        removeQuietly(path);
    }
}

QByteArray contentsText(const BookMarkup& markup, const BookStamp& stamp) {
    QStringList lines{kContentsFirstLine, stamp.line()};
    for (const Heading& h : markup.headings)
        lines << QStringLiteral("Заголовок: %1 %2 %3").arg(h.offset).arg(h.rank).arg(h.title);
    for (const Emphasis& e : markup.emphasis)
        lines << QStringLiteral("%1: %2 %3")
                     .arg(e.kind == Emphasis::Italic ? QStringLiteral("Курсив")
                                                     : QStringLiteral("Жирный"))
                     .arg(e.from)
                     .arg(e.to);
    return Cp1251::encode(lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n"));
}

std::optional<BookMarkup> parseContents(QByteArrayView text, BookStamp* stamp) {
    const QStringList lines = linesOf(text);
    if (lines.size() < 2 || lines[0] != kContentsFirstLine)
        return std::nullopt;
    const std::optional<BookStamp> made = BookStamp::fromLine(lines[1]);
    if (!made)
        return std::nullopt;
    if (stamp)
        *stamp = *made;
    BookMarkup markup;
    qsizetype lastHeading = -1;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(QLatin1String(": "));
        if (colon < 0)
            return std::nullopt;
        const QString key = line.left(colon);
        const QStringList fields = line.mid(colon + 2).split(u' ');
        bool ok1 = false;
        bool ok2 = false;
        const qsizetype a = fields.value(0).toLongLong(&ok1);
        const qsizetype b = fields.value(1).toLongLong(&ok2);
        if (!ok1 || !ok2 || a < 0 || a > made->size)
            return std::nullopt;
        if (key == u"Заголовок") {
            if (fields.size() < 3 || b < 1 || b > 9 || a < lastHeading)
                return std::nullopt;
            lastHeading = a;
            markup.headings.push_back(Heading{a, int(b), fields.mid(2).join(u' ')});
        } else if (key == u"Курсив" || key == u"Жирный") {
            if (b <= a || b > made->size)
                return std::nullopt;
            markup.emphasis.push_back(
                Emphasis{a, b, key == u"Курсив" ? Emphasis::Italic : Emphasis::Bold});
        } else {
            return std::nullopt;
        }
    }
    return markup;
}

void writeContents(const QString& path, const BookMarkup& markup, QByteArrayView book) {
    if (markup.isEmpty()) {
        removeQuietly(path);
        return;
    }
    SafeFile::write(path, contentsText(markup, BookStamp::of(book)),
                    QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(path)),
                    QStringLiteral("Failed to Save Stream"));
}

std::optional<BookMarkup> readContents(const QString& path, QByteArrayView book) {
    return readContents(path, BookStamp::of(book));
}

std::optional<BookMarkup> readContents(const QString& path, const BookStamp& book) {
    QByteArray text;
    if (!SafeFile::read(path, text))
        return std::nullopt;
    BookStamp stamp;
    std::optional<BookMarkup> markup = parseContents(text, &stamp);
    if (!markup)
        return std::nullopt;
    if (!(stamp == book)) {
        removeQuietly(path);
        return std::nullopt;
    }
    return markup;
}

void followSave(const QString& path, const BookStamp& before, const TextChange& change,
                QByteArrayView after, const BookMarkup* edited) {
    std::optional<BookMarkup> markup = readContents(path, before);
    if (!markup)
        return;
    if (edited) {
        // Each place followed its own edit: scattered edits move nothing between them.
        if (!markup->headings.empty())
            markup->headings = edited->headings;
        if (!markup->emphasis.empty())
            markup->emphasis = edited->emphasis;
    } else {
        markup->apply(change);
    }
    try {
        writeContents(path, *markup, after);
    } catch (const TomeriaError&) {
        removeQuietly(path);
    }
}

} // namespace BookCompanions
