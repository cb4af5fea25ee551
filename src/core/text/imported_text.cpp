#include "core/text/imported_text.h"

#include "core/base/cp1251.h"
#include "core/text/text_import.h"

#include <QStringDecoder>

#include <uchardet.h>

#include <memory>

namespace ImportedText {

namespace {

// The detector reads this much of a long text: enough for any code page.
constexpr qsizetype kSample = 64 * 1024;
// Texts shorter than this are too short to tell code pages apart.
constexpr qsizetype kShortest = 24;

struct DetectorDeleter {
    void operator()(uchardet* d) const { uchardet_delete(d); }
};

// UTF-16 without a mark: in Russian or Latin text every other byte is the high byte
// of a character of a few blocks (zero for Latin, spaces and digits, 4 for Cyrillic),
// and zero bytes stand on one side only.
bool looksLikeUtf16(QByteArrayView sample, bool* littleEndian) {
    const qsizetype pairs = sample.size() / 2;
    if (pairs < kShortest / 2)
        return false;
    qsizetype zeros[2] = {0, 0};
    qsizetype usual[2] = {0, 0};
    for (qsizetype i = 0; i < pairs * 2; ++i) {
        const auto b = static_cast<unsigned char>(sample[i]);
        if (b == 0)
            ++zeros[i % 2];
        if (b == 0 || b == 4)
            ++usual[i % 2];
    }
    for (int high = 0; high < 2; ++high) {
        const int low = 1 - high;
        if (zeros[high] * 10 >= pairs && zeros[low] * 100 <= pairs &&
            usual[high] * 10 >= pairs * 9) {
            *littleEndian = high == 1;
            return true;
        }
    }
    return false;
}

// Stateless: a sequence cut off at the end of the file is a damaged character like any
// other, not one waiting for more bytes.
QStringDecoder decoderFor(CodePage codePage) {
    return QStringDecoder(nameOf(codePage).toLatin1().constData(),
                          QStringConverter::Flag::Stateless);
}

} // namespace

QString nameOf(CodePage codePage) {
    switch (codePage) {
    case CodePage::Cp1251:
        return QStringLiteral("windows-1251");
    case CodePage::Koi8R:
        return QStringLiteral("KOI8-R");
    case CodePage::Cp866:
        return QStringLiteral("IBM866");
    case CodePage::Iso88595:
        return QStringLiteral("ISO-8859-5");
    case CodePage::MacCyrillic:
        return QStringLiteral("x-mac-cyrillic");
    case CodePage::Utf8:
        return QStringLiteral("UTF-8");
    case CodePage::Utf16LE:
        return QStringLiteral("UTF-16LE");
    case CodePage::Utf16BE:
        return QStringLiteral("UTF-16BE");
    }
    return QString();
}

bool fromName(QStringView name, CodePage* codePage) {
    const QString n = name.trimmed().toString().toLower().remove(QLatin1Char('_'));
    struct Alias {
        const char* name;
        CodePage codePage;
    };
    static const Alias aliases[] = {
        {"windows-1251", CodePage::Cp1251},
        {"cp1251", CodePage::Cp1251},
        {"x-cp1251", CodePage::Cp1251},
        {"koi8-r", CodePage::Koi8R},
        {"koi8r", CodePage::Koi8R},
        {"ibm866", CodePage::Cp866},
        {"cp866", CodePage::Cp866},
        {"866", CodePage::Cp866},
        {"iso-8859-5", CodePage::Iso88595},
        {"iso8859-5", CodePage::Iso88595},
        {"x-mac-cyrillic", CodePage::MacCyrillic},
        {"mac-cyrillic", CodePage::MacCyrillic},
        {"maccyrillic", CodePage::MacCyrillic},
        {"utf-8", CodePage::Utf8},
        {"utf8", CodePage::Utf8},
        {"utf-16le", CodePage::Utf16LE},
        {"utf-16", CodePage::Utf16LE},
        {"utf-16be", CodePage::Utf16BE},
    };
    for (const Alias& alias : aliases) {
        if (n == QLatin1String(alias.name)) {
            *codePage = alias.codePage;
            return true;
        }
    }
    return false;
}

CodePage detect(QByteArrayView bytes) {
    switch (TextImport::detectEncoding(bytes)) {
    case TextImport::Encoding::Utf8:
        return CodePage::Utf8;
    case TextImport::Encoding::Utf16LE:
        return CodePage::Utf16LE;
    case TextImport::Encoding::Utf16BE:
        return CodePage::Utf16BE;
    case TextImport::Encoding::Cp1251:
        break;
    }
    const QByteArrayView sample = bytes.first(qMin(bytes.size(), kSample));
    bool littleEndian = true;
    if (looksLikeUtf16(sample, &littleEndian))
        return littleEndian ? CodePage::Utf16LE : CodePage::Utf16BE;
    if (sample.size() < kShortest)
        return CodePage::Cp1251;
    std::unique_ptr<uchardet, DetectorDeleter> detector(uchardet_new());
    if (uchardet_handle_data(detector.get(), sample.data(), size_t(sample.size())) != 0)
        return CodePage::Cp1251;
    uchardet_data_end(detector.get());
    const char* charset = uchardet_get_charset(detector.get());
    CodePage found = CodePage::Cp1251;
    if (charset && fromName(QString::fromLatin1(charset), &found) && found != CodePage::Utf8 &&
        found != CodePage::Utf16LE && found != CodePage::Utf16BE)
        return found;
    return CodePage::Cp1251;
}

CodePage utf16Order(QByteArrayView bytes) {
    if (bytes.startsWith("\xFE\xFF"))
        return CodePage::Utf16BE;
    if (bytes.startsWith("\xFF\xFE"))
        return CodePage::Utf16LE;
    bool littleEndian = true;
    if (looksLikeUtf16(bytes.first(qMin(bytes.size(), kSample)), &littleEndian) && !littleEndian)
        return CodePage::Utf16BE;
    return CodePage::Utf16LE;
}

QString decode(QByteArrayView bytes, CodePage codePage) {
    switch (codePage) {
    case CodePage::Cp1251:
        return Cp1251::decode(bytes);
    case CodePage::Utf8:
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes = bytes.sliced(3);
        break;
    case CodePage::Utf16LE:
        if (bytes.startsWith("\xFF\xFE"))
            bytes = bytes.sliced(2);
        break;
    case CodePage::Utf16BE:
        if (bytes.startsWith("\xFE\xFF"))
            bytes = bytes.sliced(2);
        break;
    default:
        break;
    }
    QStringDecoder decoder = decoderFor(codePage);
    if (!decoder.isValid())
        return Cp1251::decode(bytes);
    QString text = decoder(bytes);
    // Half a surrogate pair at the end is a cut character too.
    if (!text.isEmpty() && text.back().isHighSurrogate())
        text.back() = QChar::ReplacementCharacter;
    return text;
}

} // namespace ImportedText
