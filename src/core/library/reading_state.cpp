#include "core/library/reading_state.h"

#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"

#include <QFileInfo>
#include <QStringView>

#include <algorithm>

#include <limits>

namespace {

const QLatin1StringView kReaderSection("[Reader]");
const QLatin1StringView kBooksSection("[Books]");
const QLatin1StringView kBooksComment("; offset, file size in bytes, book");

// A whole non-negative decimal number, or -1.
qint64 number(QStringView text) {
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// "#rrggbb", or an invalid colour.
QColor colour(QStringView text) {
    if (text.size() != 7 || text[0] != QLatin1Char('#'))
        return QColor();
    bool ok = false;
    const uint rgb = text.mid(1).toUInt(&ok, 16);
    return ok ? QColor::fromRgb(QRgb(rgb)) : QColor();
}

QByteArray colourText(const QColor& colour) {
    return colour.name(QColor::HexRgb).toLatin1();
}

// A name is kept only when the file gives it back unchanged: one line, every character
// with a code-page form.
bool storable(const QString& name) {
    for (const QChar c : name)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') ||
            Cp1251::fromUnicode(c.unicode()) < 0)
            return false;
    return true;
}

} // namespace

void ReadingState::load(const QString& path, const QString& booksFolder) {
    m_path = path;
    m_booksFolder = booksFolder;
    m_books.clear();
    m_index.clear();
    m_font.reset();
    m_textColour = Qt::black;
    m_background.reset();
    QByteArray bytes;
    // Only an ordinary file is read: a FIFO or a device in its place is not waited on.
    if (RegularFile::read(path, RegularFile::kMaxSize, bytes) == RegularFile::Status::Read)
        parse(Cp1251::decode(bytes));
}

void ReadingState::parse(const QString& text) {
    enum class Section { None, Reader, Books } section = Section::None;
    QString family;
    QStringView size;
    int weight = QFont::Normal;
    bool italic = false, underline = false, strikeOut = false;
    QColor textColour, background;

    const QStringView all(text);
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = all.size();
        QStringView line = all.mid(start, end - start);
        start = end + 1;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            section = line.compare(kReaderSection, Qt::CaseInsensitive) == 0  ? Section::Reader
                      : line.compare(kBooksSection, Qt::CaseInsensitive) == 0 ? Section::Books
                                                                              : Section::None;
            continue;
        }
        if (section == Section::Books) {
            // "offset size name"; a line that does not read so is skipped.
            const qsizetype first = line.indexOf(QLatin1Char(' '));
            const qsizetype second = first < 0 ? -1 : line.indexOf(QLatin1Char(' '), first + 1);
            if (second < 0)
                continue;
            const qint64 offset = number(line.left(first));
            const qint64 fileSize = number(line.mid(first + 1, second - first - 1));
            if (offset < 0 || offset > std::numeric_limits<int>::max() || fileSize < 0)
                continue;
            setBook(line.mid(second + 1).toString(), offset, fileSize);
        } else if (section == Section::Reader) {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals < 0)
                continue;
            const QStringView key = line.left(equals).trimmed();
            const QStringView value = line.mid(equals + 1).trimmed();
            auto is = [&key](const char* name) {
                return key.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0;
            };
            if (is("Font"))
                family = value.toString();
            else if (is("Size"))
                size = value;
            else if (is("Weight"))
                weight = int(std::clamp<qint64>(number(value), 1, 1000));
            else if (is("Italic"))
                italic = value == QLatin1Char('1');
            else if (is("Underline"))
                underline = value == QLatin1Char('1');
            else if (is("StrikeOut"))
                strikeOut = value == QLatin1Char('1');
            else if (is("TextColour"))
                textColour = colour(value);
            else if (is("Background"))
                background = colour(value);
        }
    }

    // The font counts only with a face and a size that reads; its colour goes with it.
    const bool pixels = size.endsWith(QLatin1StringView("px"));
    const bool points = size.endsWith(QLatin1StringView("pt"));
    bool sizeOk = false;
    const double sizeValue = size.chopped(size.size() >= 2 ? 2 : size.size()).toDouble(&sizeOk);
    if (!family.isEmpty() && (pixels || points) && sizeOk && sizeValue >= 1 && sizeValue <= 1000) {
        QFont font(family);
        if (pixels)
            font.setPixelSize(int(sizeValue));
        else
            font.setPointSizeF(sizeValue);
        font.setWeight(QFont::Weight(weight));
        font.setItalic(italic);
        font.setUnderline(underline);
        font.setStrikeOut(strikeOut);
        m_font = font;
        m_textColour = textColour.isValid() ? textColour : QColor(Qt::black);
    }
    if (background.isValid())
        m_background = background;
}

QByteArray ReadingState::serialized() const {
    QByteArray out;
    out.reserve(64 * qsizetype(m_books.size()) + 256);
    out += QByteArray(kReaderSection.data(), kReaderSection.size()) + "\r\n";
    if (m_font) {
        const QFont& font = *m_font;
        out += "Font=" + Cp1251::encode(font.family()) + "\r\n";
        out += "Size=" +
               (font.pixelSize() > 0 ? QByteArray::number(font.pixelSize()) + "px"
                                     : QByteArray::number(font.pointSizeF()) + "pt") +
               "\r\n";
        out += "Weight=" + QByteArray::number(int(font.weight())) + "\r\n";
        out += QByteArray("Italic=") + (font.italic() ? "1" : "0") + "\r\n";
        out += QByteArray("Underline=") + (font.underline() ? "1" : "0") + "\r\n";
        out += QByteArray("StrikeOut=") + (font.strikeOut() ? "1" : "0") + "\r\n";
        out += "TextColour=" + colourText(m_textColour) + "\r\n";
    }
    if (m_background)
        out += "Background=" + colourText(*m_background) + "\r\n";
    out += QByteArray(kBooksSection.data(), kBooksSection.size()) + "\r\n";
    out += QByteArray(kBooksComment.data(), kBooksComment.size()) + "\r\n";
    for (const Book& book : m_books) {
        out += book.line;
        out += "\r\n";
    }
    return out;
}

void ReadingState::save() const {
    const QString message = QStringLiteral("Unable to write to %1").arg(m_path);
    // A pipe or a device in its place would be written straight to (a pipe with no
    // reader never lets go): the file is ours only as an ordinary file.
    const QFileInfo info(m_path);
    if (info.exists() && !info.isFile() && !info.isSymLink())
        throw TomeriaError(message);
    SafeFile::write(m_path, serialized(), message, message);
}

bool ReadingState::trySave() const noexcept {
    try {
        save();
        return true;
    } catch (...) {
        return false;
    }
}

QString ReadingState::bookName(const QString& bookPath) const {
    const QLatin1StringView extension(".boo");
    if (m_booksFolder.isEmpty() || !bookPath.startsWith(m_booksFolder) ||
        !bookPath.endsWith(extension))
        return QString();
    const qsizetype length = bookPath.size() - m_booksFolder.size() - extension.size();
    if (length < 0)
        return QString();
    QString name = bookPath.mid(m_booksFolder.size(), length);
    if (name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return QString();
    return name;
}

std::optional<int> ReadingState::position(const QString& bookPath) const {
    const QString name = bookName(bookPath);
    const auto found = m_index.constFind(name);
    if (name.isEmpty() || found == m_index.constEnd())
        return std::nullopt;
    const Book& book = m_books[*found];
    QFileInfo info(bookPath);
    if (!info.isFile() || info.size() != book.size)
        return std::nullopt;
    return int(book.offset);
}

void ReadingState::remember(const QString& bookPath, int offset) {
    const QString name = bookName(bookPath);
    if (name.isEmpty() || !storable(name))
        return;
    const QFileInfo info(bookPath);
    if (!info.isFile())
        return;
    setBook(name, std::max(0, offset), info.size());
}

void ReadingState::setBook(const QString& name, qint64 offset, qint64 size) {
    const QByteArray line =
        QByteArray::number(offset) + ' ' + QByteArray::number(size) + ' ' + Cp1251::encode(name);
    const auto found = m_index.constFind(name);
    if (found != m_index.constEnd()) {
        Book& book = m_books[*found];
        book.offset = offset;
        book.size = size;
        book.line = line;
        return;
    }
    m_index.insert(name, qsizetype(m_books.size()));
    m_books.push_back({name, offset, size, line});
}

bool ReadingState::forget(const QString& name) {
    const auto found = m_index.constFind(name);
    if (found == m_index.constEnd())
        return false;
    const qsizetype at = *found;
    m_books.erase(m_books.begin() + at);
    m_index.erase(found);
    for (auto it = m_index.begin(); it != m_index.end(); ++it)
        if (*it > at)
            --*it;
    return true;
}

void ReadingState::setFont(const QFont& font, const QColor& colour) {
    m_font = font;
    m_textColour = colour;
}

void ReadingState::setBackground(const QColor& colour) {
    m_background = colour;
}
