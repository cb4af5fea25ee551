#include "core/library/reading_state.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/library/library.h"

#include <QFile>

#include <QStringView>

#include <algorithm>
#include <limits>
#include <string_view>
#include <unordered_set>

#include <dirent.h>
#include <sys/stat.h>

namespace {

const QLatin1StringView kReaderSection("[Reader]");
const QLatin1StringView kBooksSection("[Books]");
const QLatin1StringView kBooksComment("; offset, file size in bytes, book");

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
    m_textColourChosen = false;
    m_background.reset();
    m_layout = BookLayout();
    m_panel = 0;
    QByteArray bytes;
    // Only an ordinary file is read: a FIFO or a device in its place is not waited on.
    if (RegularFile::read(path, RegularFile::kMaxSize, bytes) == RegularFile::Status::Read)
        parse(bytes);
}

namespace {

// The code-page names of the books in a folder (NAME of NAME.boo), for telling the
// places worth keeping without decoding the others.
class FolderBooks {
public:
    explicit FolderBooks(const QString& folder) {
        if (folder.isEmpty())
            return;
        DIR* dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            return;
        while (const dirent* entry = ::readdir(dir)) {
            const QString file = QFile::decodeName(entry->d_name);
            if (!file.endsWith(QLatin1StringView(".boo")) || file.size() <= 4)
                continue;
            const QString name = file.chopped(4);
            if (storable(name))
                m_names.push_back(Cp1251::encode(name));
        }
        ::closedir(dir);
        for (const QByteArray& name : m_names)
            m_set.insert(std::string_view(name.constData(), size_t(name.size())));
    }
    bool contains(QByteArrayView name) const {
        return m_set.count(std::string_view(name.data(), size_t(name.size()))) != 0;
    }

private:
    std::vector<QByteArray> m_names;
    std::unordered_set<std::string_view> m_set;
};

// A whole non-negative decimal number, or -1.
qint64 number(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

double decimal(QStringView text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : std::numeric_limits<double>::quiet_NaN();
}

} // namespace

void ReadingState::parse(QByteArrayView all) {
    enum class Section { None, Reader, Books } section = Section::None;
    QString family;
    QString size;
    int weight = QFont::Normal;
    bool italic = false, underline = false, strikeOut = false;
    QColor textColour, background;
    BookLayout layout;
    std::optional<FolderBooks> folderBooks;

    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf('\n', start);
        if (end < 0)
            end = all.size();
        QByteArrayView line = all.sliced(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            const QString header = Cp1251::decode(line.first(std::min<qsizetype>(line.size(), 16)));
            section = header.compare(kReaderSection, Qt::CaseInsensitive) == 0  ? Section::Reader
                      : header.compare(kBooksSection, Qt::CaseInsensitive) == 0 ? Section::Books
                                                                                : Section::None;
            if (line.size() > 16)
                section = Section::None;
            continue;
        }
        if (section == Section::Books) {
            // "offset size name"; a line that does not read so is skipped, and so is the
            // place of a book not in the folder.
            const qsizetype first = line.indexOf(' ');
            const qsizetype second = first < 0 ? -1 : line.indexOf(' ', first + 1);
            if (second < 0)
                continue;
            const qint64 offset = number(line.first(first));
            const qint64 fileSize = number(line.sliced(first + 1, second - first - 1));
            if (offset < 0 || offset > std::numeric_limits<int>::max() || fileSize < 0)
                continue;
            const QByteArrayView name = line.sliced(second + 1);
            if (!folderBooks)
                folderBooks.emplace(m_booksFolder);
            if (folderBooks->contains(name))
                setBook(Cp1251::decode(name), offset, fileSize);
        } else if (section == Section::Reader) {
            const QString text = Cp1251::decode(line);
            const qsizetype equals = text.indexOf(QLatin1Char('='));
            if (equals < 0)
                continue;
            const QStringView key = QStringView(text).left(equals).trimmed();
            const QStringView value = QStringView(text).mid(equals + 1).trimmed();
            auto is = [&key](const char* name) {
                return key.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0;
            };
            const auto whole = [&value] { return number(value.toLatin1()); };
            if (is("Font"))
                family = value.toString();
            else if (is("Size"))
                size = value.toString();
            else if (is("Weight"))
                weight = int(std::clamp<qint64>(whole(), 1, 1000));
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
            else if (is("TextWidth"))
                layout.width = int(std::min<qint64>(whole(), 100000));
            else if (is("Margins"))
                layout.margins = int(std::min<qint64>(whole(), 100000));
            else if (is("LineSpacing"))
                layout.lineSpacing = decimal(value);
            else if (is("Indent"))
                layout.indent = decimal(value);
            else if (is("ParagraphSpacing"))
                layout.paragraphSpacing = decimal(value);
            else if (is("Justify"))
                layout.justify = value == QLatin1Char('1');
            else if (is("Hyphenation"))
                layout.hyphenate = value == QLatin1Char('1');
            else if (is("BookFace"))
                layout.bookFace = value == QLatin1Char('1');
            else if (is("Pages"))
                layout.pages = BookLayout::Pages(std::clamp<qint64>(whole(), 0, 2));
            else if (is("Panel"))
                m_panel = int(std::clamp<qint64>(whole(), 0, 2));
        }
    }
    m_layout = layout.clamped();

    // The font counts only with a face and a size that reads.
    const QStringView sizeText(size);
    const bool pixels = sizeText.endsWith(QLatin1StringView("px"));
    const bool points = sizeText.endsWith(QLatin1StringView("pt"));
    bool sizeOk = false;
    const double sizeValue =
        sizeText.chopped(sizeText.size() >= 2 ? 2 : sizeText.size()).toDouble(&sizeOk);
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
    }
    // The text colour goes with the font, or stands alone when a preset chose it.
    if (textColour.isValid()) {
        m_textColour = textColour;
        m_textColourChosen = !m_font;
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
    } else if (m_textColourChosen)
        out += "TextColour=" + colourText(m_textColour) + "\r\n";
    if (m_background)
        out += "Background=" + colourText(*m_background) + "\r\n";
    const BookLayout plain;
    const auto decimalText = [](double value) { return QByteArray::number(value, 'g', 4); };
    if (m_layout.width != plain.width)
        out += "TextWidth=" + QByteArray::number(m_layout.width) + "\r\n";
    if (m_layout.margins != plain.margins)
        out += "Margins=" + QByteArray::number(m_layout.margins) + "\r\n";
    if (m_layout.lineSpacing != plain.lineSpacing)
        out += "LineSpacing=" + decimalText(m_layout.lineSpacing) + "\r\n";
    if (m_layout.indent != plain.indent)
        out += "Indent=" + decimalText(m_layout.indent) + "\r\n";
    if (m_layout.paragraphSpacing != plain.paragraphSpacing)
        out += "ParagraphSpacing=" + decimalText(m_layout.paragraphSpacing) + "\r\n";
    if (m_layout.justify != plain.justify)
        out += QByteArray("Justify=") + (m_layout.justify ? "1" : "0") + "\r\n";
    if (m_layout.hyphenate != plain.hyphenate)
        out += QByteArray("Hyphenation=") + (m_layout.hyphenate ? "1" : "0") + "\r\n";
    if (m_layout.bookFace != plain.bookFace)
        out += QByteArray("BookFace=") + (m_layout.bookFace ? "1" : "0") + "\r\n";
    if (m_layout.pages != plain.pages)
        out += "Pages=" + QByteArray::number(int(m_layout.pages)) + "\r\n";
    if (m_panel != 0)
        out += "Panel=" + QByteArray::number(m_panel) + "\r\n";
    out += QByteArray(kBooksSection.data(), kBooksSection.size()) + "\r\n";
    out += QByteArray(kBooksComment.data(), kBooksComment.size()) + "\r\n";
    for (const Book& book : m_books) {
        out += book.line;
        out += "\r\n";
    }
    return out;
}

QString ReadingState::writeErrorMessage(const QString& path) {
    return QStringLiteral("Не удалось записать файл %1: места в книгах и оформление "
                          "не сохранены.")
        .arg(path);
}

void ReadingState::save() const {
    const QString message = writeErrorMessage(AnchoredPath::current(m_path));
    // A pipe or a device in its place would be written straight to (a pipe with no
    // reader never lets go): the file is ours only as an ordinary file.
    struct stat st {};
    if (AnchoredPath(m_path).lstat(st) && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
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

namespace {

// The size of the ordinary file at `path`, looked up in the library folder wherever it
// is now (the folder may have been renamed while the program runs).
std::optional<qint64> fileSize(const QString& path) {
    struct stat st {};
    if (!AnchoredPath(path).stat(st) || !S_ISREG(st.st_mode))
        return std::nullopt;
    return qint64(st.st_size);
}

} // namespace

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
    const std::optional<qint64> size = fileSize(bookPath);
    if (!size || *size != book.size)
        return std::nullopt;
    return int(book.offset);
}

void ReadingState::remember(const QString& bookPath, int offset) {
    const QString name = bookName(bookPath);
    if (name.isEmpty() || !storable(name))
        return;
    const std::optional<qint64> size = fileSize(bookPath);
    if (!size)
        return;
    setBook(name, std::max(0, offset), *size);
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

void ReadingState::followLibrary(Library& library) {
    const auto forgetBook = [this](const QString& name) {
        if (forget(name))
            trySave();
    };
    QObject::connect(&library, &Library::bookAdded, &library, forgetBook);
    QObject::connect(&library, &Library::bookRemoved, &library, forgetBook);
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
    m_textColourChosen = false;
}

void ReadingState::setTextColour(const QColor& colour) {
    m_textColour = colour;
    m_textColourChosen = !m_font;
}

void ReadingState::setBackground(const QColor& colour) {
    m_background = colour;
}
