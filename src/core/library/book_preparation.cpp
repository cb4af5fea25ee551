#include "core/library/book_preparation.h"

#include "core/base/cp1251.h"
#include "core/library/library.h"

#include <algorithm>

namespace BookPreparation {

namespace {

// Characters the text document takes as the end of a paragraph, and the line separator
// the editor writes as a line break.
bool breaksLine(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1;
}

// Line breaks a one-line field may be given (a paste) and a name cannot hold.
bool endsNameLine(char16_t c) {
    return breaksLine(c) || c == 0x85 || c == 0x0B || c == 0x0C;
}

// The NUL the editor shows in its place is written back as NUL.
constexpr char16_t kNulSymbol = 0x2400;

// Appends a piece of text as the editor stores it: CR LF (or a lone CR or LF) and every
// other paragraph or line separator become one CR LF.
void appendStored(QStringView piece, QString& out) {
    for (qsizetype i = 0; i < piece.size(); ++i) {
        const char16_t c = piece[i].unicode();
        if (breaksLine(c)) {
            if (c == u'\r' && i + 1 < piece.size() && piece[i + 1] == u'\n')
                ++i;
            out += QLatin1String("\r\n");
        } else if (c == kNulSymbol) {
            out += QChar(0);
        } else {
            out += QChar(c);
        }
    }
}

QString paragraphText(const RtfParagraph& paragraph) {
    QString text;
    for (const RtfRun& run : paragraph.runs)
        text += run.text;
    return text;
}

// A member's or a file's name without its folder and extension ("a/b.fb2.zip" -> "b").
QString baseName(const QString& path) {
    QString name = path.section(QLatin1Char('/'), -1);
    for (int i = 0; i < 2; ++i) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0)
            break;
        const QString extension = name.mid(dot + 1).toLower();
        name.truncate(dot);
        if (extension != QLatin1String("zip"))
            break;
    }
    return name;
}

// Lines of a plain text looked at for its name, at most.
constexpr int kLinesTried = 64;

bool isBlank(const QString& s) {
    return std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.isSpace(); });
}

// Drops the dots (and the blanks between them) a name starts with.
QString withoutLeadingDots(QString name) {
    qsizetype start = 0;
    while (start < name.size() && (name[start] == QLatin1Char('.') || name[start].isSpace()))
        ++start;
    return start == 0 ? name : name.mid(start);
}

} // namespace

QString fallbackName() {
    return QStringLiteral("Книга");
}

QString storableName(QStringView raw) {
    const QString mapped = Cp1251::storable(raw);
    QString name;
    name.reserve(mapped.size());
    for (qsizetype i = 0; i < mapped.size(); ++i) {
        const QChar c = mapped[i];
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < mapped.size() && mapped[i + 1].isLowSurrogate())
            ++i; // one character outside the basic plane: one space
        if (u == u'/')
            name += QLatin1Char('-');
        else if (c.isSurrogate() || u == u'=' || u < 0x20 || (u >= 0x7F && u <= 0x9F) ||
                 Cp1251::fromUnicode(u) < 0)
            name += QLatin1Char(' ');
        else
            name += c;
    }
    return withoutLeadingDots(name.simplified());
}

QString nameFromLine(QStringView line) {
    return storableName(line).left(kMaxProposedName).trimmed();
}

QString firstNonBlankLine(QStringView text, qsizetype limit) {
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !breaksLine(text[i].unicode()))
            continue;
        const QStringView line = text.sliced(start, i - start).trimmed();
        if (!line.isEmpty())
            return line.left(limit).trimmed().toString();
        start = i + 1;
    }
    return QString();
}

QString proposedName(const ImportedBook& book, const QString& fileName) {
    // The title the book names; else the first line the preview would propose.
    QString name = storableName(book.title).left(kMaxProposedName).trimmed();
    if (name.isEmpty() && book.kind == ImportedBook::Kind::Formatted) {
        for (const RtfParagraph& paragraph : book.document.paragraphs) {
            name = nameFromLine(firstNonBlankLine(paragraphText(paragraph)));
            if (!name.isEmpty())
                break;
        }
    } else if (name.isEmpty()) {
        // The first line that can name the book, as the add panel takes the first
        // display line that can (a line of dots or of foreign letters names nothing).
        QStringView rest = book.text;
        for (int line = 0; line < kLinesTried && name.isEmpty() && !rest.isEmpty(); ++line) {
            qsizetype end = 0;
            while (end < rest.size() && !breaksLine(rest[end].unicode()))
                ++end;
            name = nameFromLine(rest.first(qMin(end, kMaxProposedName * 4)));
            rest = rest.sliced(qMin(end + 1, rest.size()));
        }
    }
    if (name.isEmpty())
        name = nameFromLine(baseName(fileName));
    if (name.isEmpty())
        name = fallbackName();
    return name;
}

QString proposedNote(const ImportedBook& book) {
    QString note;
    for (const QChar c : book.author) {
        if (breaksLine(c.unicode()) || c == QLatin1Char('\t'))
            note += QLatin1Char(' ');
        else if (!c.isSurrogate() && c.unicode() >= 0x20 && Cp1251::fromUnicode(c.unicode()) >= 0)
            note += c;
    }
    return note.trimmed();
}

QString storableText(const ImportedBook& book) {
    QString out;
    if (book.kind == ImportedBook::Kind::Formatted) {
        const QList<RtfParagraph>& paragraphs = book.document.paragraphs;
        qsizetype size = 0;
        for (const RtfParagraph& paragraph : paragraphs)
            for (const RtfRun& run : paragraph.runs)
                size += run.text.size() + 2;
        out.reserve(size);
        for (qsizetype i = 0; i < paragraphs.size(); ++i) {
            if (i > 0)
                out += QLatin1String("\r\n");
            // Each run goes in on its own: a CR ending one and an LF opening the next
            // are two breaks.
            for (const RtfRun& run : paragraphs[i].runs)
                appendStored(run.text, out);
        }
    } else if (book.kind == ImportedBook::Kind::PlainText) {
        out.reserve(book.text.size() + book.text.size() / 32);
        appendStored(book.text, out);
    }
    return Cp1251::storable(out);
}

QString storableText(const QString& editorText) {
    QString text = editorText;
    text.replace(QChar(kNulSymbol), QChar(0));
    return Cp1251::storable(text);
}

QByteArray storedBytes(const ImportedBook& book) {
    return Cp1251::encode(storableText(book));
}

QString unstorableCharacters(const QString& name) {
    QString found;
    for (qsizetype i = 0; i < name.size(); ++i) {
        QString character(name[i]);
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate())
            character += name[++i];
        const char16_t u = character[0].unicode();
        const bool storable = character.size() == 1 && u != u'=' && u != u'/' && !endsNameLine(u) &&
                              Cp1251::fromUnicode(u) >= 0;
        if (!storable && !found.split(QLatin1Char(' ')).contains(character))
            found += (found.isEmpty() ? QString() : QStringLiteral(" ")) + character;
    }
    return found;
}

Refusal nameRefusal(const QString& name) {
    if (isBlank(name))
        return Refusal::Missing;
    if (!unstorableCharacters(name).isEmpty())
        return Refusal::Unstorable;
    if (name.startsWith(QLatin1Char('.')))
        return Refusal::LeadingDot;
    if (!Library::nameFitsFileName(name))
        return Refusal::TooLong;
    return Refusal::None;
}

QString refusalMessage(Refusal refusal, const QString& name) {
    switch (refusal) {
    case Refusal::None:
        return QString();
    case Refusal::Missing:
        return QStringLiteral("Вы должны загрузить файл и указать название книги");
    case Refusal::Unstorable:
        return Library::unstorableNameMessage(unstorableCharacters(name));
    case Refusal::LeadingDot:
        return QStringLiteral("Название книги не может начинаться с точки: файл книги "
                              "стал бы скрытым. Пожалуйста, измените название.");
    case Refusal::TooLong:
        return Library::longNameMessage();
    case Refusal::Duplicate:
        return QStringLiteral("A key with the name of \"%1\" already exists").arg(name);
    }
    return QString();
}

Prepared check(const Library& library, const QString& name, const QString& note,
               const QString& text, bool fileChosen) {
    Prepared prepared;
    prepared.name = name;
    prepared.note = Library::firstLine(note);
    const QString stored = storableText(text);
    // A name of blanks only names a book nobody could see; a book of blanks holds no text.
    prepared.refusal = !fileChosen || isBlank(stored) ? Refusal::Missing : nameRefusal(name);
    if (prepared.refusal == Refusal::None) {
        const QString rowName = Catalogue::LineName(name + QLatin1Char('='));
        if (!rowName.isEmpty() && library.catalogue().FindName(rowName).found)
            prepared.refusal = Refusal::Duplicate;
    }
    if (prepared.refusal != Refusal::None) {
        prepared.message = refusalMessage(prepared.refusal, name);
        return prepared;
    }
    // A book file that no row lists is not replaced without a word.
    if (library.hasUnlistedBookFile(name))
        prepared.questions.append(
            {Question::Kind::ReplaceUnlistedFile,
             QStringLiteral("В папке книг уже есть файл %1, которого нет в списке. "
                            "Заменить его?")
                 .arg(library.folder().BookPath(name)),
             QStringLiteral("Заменить")});
    // Characters the code page lacks would become «?»: the user decides first.
    const QString lost = Library::lostCharactersQuestion(stored);
    if (!lost.isEmpty())
        prepared.questions.append(
            {Question::Kind::LoseCharacters, lost, QStringLiteral("Сохранить")});
    prepared.bytes = Cp1251::encode(stored);
    return prepared;
}

} // namespace BookPreparation
