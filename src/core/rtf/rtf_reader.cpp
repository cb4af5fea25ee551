#include "core/rtf/rtf_reader.h"

#include "core/base/cp1251.h"
#include "core/rtf/rtf_tokenizer.h"

#include <QHash>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>
#include <vector>

namespace {

enum class Destination { Text, Skip, FontTable, ColorTable };

struct State {
    Destination destination = Destination::Text;
    RtfCharFormat format;
    Qt::Alignment alignment = Qt::AlignLeft;
    int outline = 0;     // \outlinelevelN + 1
    int unicodeSkip = 1; // \uc
};

int codePageOfCharset(int charset, int documentCodePage) {
    switch (charset) {
    case 0:
    case 1:
        return documentCodePage;
    case 2:
        return 1252; // symbol fonts: take the bytes as they are
    case 77:
        return 10000;
    case 78:
        return 10001;
    case 79:
        return 10003;
    case 80:
        return 10008;
    case 81:
        return 10002;
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 255:
        return 437;
    default:
        return documentCodePage;
    }
}

const char* codecName(int codePage) {
    switch (codePage) {
    case 932:
        return "Shift_JIS";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 1361:
        return "Johab";
    case 10000:
        return "macintosh";
    case 10001:
        return "Shift_JIS";
    case 10002:
        return "Big5";
    case 10003:
        return "EUC-KR";
    case 10008:
        return "GBK";
    case 850:
        return "IBM850";
    case 437:
        return "IBM437";
    case 874:
        return "windows-874";
    case 65001:
        return "UTF-8";
    default:
        return nullptr;
    }
}

// Code page 1252: Latin-1 with printable characters in 0x80..0x9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

class ByteDecoder {
public:
    QString decode(QByteArrayView bytes, int codePage) {
        if (codePage == 1251)
            return Cp1251::decode(bytes);
        if (codePage == 1252 || codePage == 0) {
            QString out(bytes.size(), Qt::Uninitialized);
            for (qsizetype i = 0; i < bytes.size(); ++i) {
                const auto b = static_cast<unsigned char>(bytes[i]);
                out[i] = QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
            }
            return out;
        }
        QString name = QString::fromLatin1(codecName(codePage));
        if (name.isEmpty())
            name = QStringLiteral("windows-%1").arg(codePage);
        auto it = m_decoders.find(codePage);
        if (it == m_decoders.end())
            it = m_decoders
                     .emplace(codePage,
                              std::make_unique<QStringDecoder>(name.toLatin1().constData(),
                                                               QStringConverter::Flag::Stateless))
                     .first;
        if (!it->second->isValid())
            return decode(bytes, 1252);
        return (*it->second)(bytes);
    }

private:
    std::unordered_map<int, std::unique_ptr<QStringDecoder>> m_decoders;
};

struct SpecialWord {
    const char* word;
    char16_t ch;
};
constexpr SpecialWord kSpecialWords[] = {
    {"emdash", 0x2014},    {"endash", 0x2013},    {"lquote", 0x2018},  {"rquote", 0x2019},
    {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"bullet", 0x2022},  {"tab", u'\t'},
    {"cell", u'\t'},       {"nestcell", u'\t'},   {"emspace", 0x2003}, {"enspace", 0x2002},
    {"qmspace", 0x2005},   {"zwj", 0x200D},       {"zwnj", 0x200C},    {"ltrmark", 0x200E},
    {"rtlmark", 0x200F},
};

const char* const kSkippedDestinations[] = {
    "stylesheet",
    "info",
    "pict",
    "header",
    "headerl",
    "headerr",
    "headerf",
    "footer",
    "footerl",
    "footerr",
    "footerf",
    "footnote",
    "fldinst",
    "objdata",
    "themedata",
    "colorschememapping",
    "datastore",
    "latentstyles",
    "listtable",
    "listoverridetable",
    "rsidtbl",
    "generator",
    "xmlnstbl",
    "filetbl",
    "revtbl",
    "pgdsctbl",
    "userprops",
    "nonshppict",
    "shpinst",
    "bkmkstart",
    "bkmkend",
    "atnid",
    "atnauthor",
    "annotation",
    "template",
    "docvar",
    "xe",
    "tc",
    "private",
    "fchars",
    "lchars",
    "comment",
    "mmathPr",
    "listpicture",
    "pnseclvl",
    "expandedcolortbl",
    "wgrffmtfilter",
    "ftnsep",
    "ftnsepc",
    "ftncn",
    "aftnsep",
    "aftnsepc",
    "aftncn",
    "panose",
    "falt",
    "fontemb",
    "fontfile",
    "blipuid",
    "pntxta",
    "pntxtb",
    "passwordhash",
    "protusertbl",
    "objclass",
    "objname",
    "ud",
    "upr",
    "mhtmltag",
    "htmltag",
};

class Reader {
public:
    explicit Reader(RtfDocument& doc) : m_doc(doc) {
        m_doc.paragraphs.append(RtfParagraph());
        m_stack.reserve(64);
        m_stack.push_back(State());
    }

    void run(QByteArrayView data);

private:
    State& state() { return m_stack.back(); }
    int currentCodePage() {
        const int font = state().format.font;
        if (font >= 0) {
            const auto it = m_doc.fonts.constFind(font);
            if (it != m_doc.fonts.constEnd() && it->codePage > 0)
                return it->codePage;
        }
        return m_codePage;
    }
    void flushBytes();
    void appendText(QStringView text);
    void appendChar(char16_t ch) { appendText(QStringView(&ch, 1)); }
    void newParagraph();
    void controlWord(QByteArrayView word, bool hasParam, int param);
    void finishFontName();
    bool skipping() const { return m_skipCount > 0; }
    // Whether one character of text is taken here: not in another destination, and not
    // one of the fallback characters that follow a \\u.
    bool takesCharacter() {
        if (state().destination != Destination::Text)
            return false;
        if (skipping()) {
            --m_skipCount;
            return false;
        }
        return true;
    }

    RtfDocument& m_doc;
    std::vector<State> m_stack;
    QByteArray m_pendingBytes;
    int m_pendingCodePage = 0;
    int m_codePage = 1252;
    int m_defaultFont = -1;
    int m_skipCount = 0;          // characters still to skip after \u
    bool m_ignorableNext = false; // after \*
    // Font and colour table parsing.
    int m_fontNumber = 0;
    int m_fontCharset = -1;
    QByteArray m_fontName;
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colorSet = false;
    ByteDecoder m_decoder;
};

void Reader::flushBytes() {
    if (m_pendingBytes.isEmpty())
        return;
    const QString text = m_decoder.decode(m_pendingBytes, m_pendingCodePage);
    m_pendingBytes.clear();
    appendText(text);
}

void Reader::appendText(QStringView text) {
    if (state().destination != Destination::Text || text.isEmpty())
        return;
    RtfParagraph& paragraph = m_doc.paragraphs.last();
    paragraph.alignment = state().alignment;
    paragraph.outlineLevel = state().outline;
    if (paragraph.runs.isEmpty() || !(paragraph.runs.last().format == state().format))
        paragraph.runs.append(RtfRun{QString(), state().format});
    paragraph.runs.last().text.append(text);
}

void Reader::newParagraph() {
    flushBytes();
    if (state().destination != Destination::Text)
        return;
    m_doc.paragraphs.last().alignment = state().alignment;
    if (!m_doc.paragraphs.last().runs.isEmpty())
        m_doc.paragraphs.last().outlineLevel = state().outline;
    m_doc.paragraphs.append(RtfParagraph());
    m_doc.paragraphs.last().alignment = state().alignment;
}

void Reader::finishFontName() {
    QByteArray name = m_fontName.trimmed();
    if (name.endsWith(';'))
        name.chop(1);
    RtfFont font;
    font.name = m_decoder.decode(name.trimmed(), 1252);
    font.codePage = codePageOfCharset(m_fontCharset < 0 ? 1 : m_fontCharset, m_codePage);
    m_doc.fonts.insert(m_fontNumber, font);
    m_fontName.clear();
    m_fontCharset = -1;
}

void Reader::controlWord(QByteArrayView word, bool hasParam, int param) {
    State& st = state();
    const bool ignorable = m_ignorableNext;
    m_ignorableNext = false;

    if (st.destination == Destination::Skip)
        return;

    if (st.destination == Destination::FontTable) {
        if (word == "f") {
            m_fontNumber = param;
            m_fontName.clear();
            m_fontCharset = -1;
        } else if (word == "fcharset") {
            m_fontCharset = param;
        } else if (ignorable) {
            st.destination = Destination::Skip;
        } else {
            for (const char* skip : kSkippedDestinations)
                if (word == skip)
                    st.destination = Destination::Skip;
        }
        return;
    }
    if (st.destination == Destination::ColorTable) {
        if (word == "red") {
            m_red = param;
            m_colorSet = true;
        } else if (word == "green") {
            m_green = param;
            m_colorSet = true;
        } else if (word == "blue") {
            m_blue = param;
            m_colorSet = true;
        }
        return;
    }

    // Text destination.
    if (word == "u" && hasParam) {
        flushBytes();
        int value = param;
        if (value < 0)
            value += 65536;
        appendChar(char16_t(value & 0xFFFF));
        m_skipCount = st.unicodeSkip;
        return;
    }
    if (skipping()) {
        --m_skipCount;
        return;
    }
    flushBytes();

    if (word == "par" || word == "sect" || word == "page" || word == "row" || word == "nestrow" ||
        word == "line") {
        newParagraph();
        return;
    }
    for (const SpecialWord& special : kSpecialWords) {
        if (word == special.word) {
            appendChar(special.ch);
            return;
        }
    }
    if (word == "fonttbl") {
        st.destination = Destination::FontTable;
        m_fontName.clear();
        return;
    }
    if (word == "colortbl") {
        st.destination = Destination::ColorTable;
        m_doc.colors.clear();
        m_colorSet = false;
        return;
    }
    for (const char* skip : kSkippedDestinations) {
        if (word == skip) {
            st.destination = Destination::Skip;
            return;
        }
    }
    if (word == "fldrslt" || word == "result" || word == "shptxt" || word == "listtext" ||
        word == "pntext" || word == "field" || word == "object" || word == "shp" ||
        word == "nesttableprops") {
        return; // text destinations: their text is the document's
    }
    if (ignorable) {
        st.destination = Destination::Skip;
        return;
    }

    RtfCharFormat& f = st.format;
    const bool on = !hasParam || param != 0;
    if (word == "b")
        f.bold = on;
    else if (word == "i")
        f.italic = on;
    else if (word == "strike" || word == "striked")
        f.strike = on;
    else if (word == "ulnone")
        f.underline = false;
    else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" || word == "ulth" ||
             word == "uldash" || word == "ulwave")
        f.underline = on;
    else if (word == "f")
        f.font = param;
    else if (word == "fs" && hasParam && param > 0)
        f.halfPoints = qMin(param, 3276);
    else if (word == "cf")
        f.color = qMax(0, param);
    else if (word == "plain") {
        f = RtfCharFormat();
        f.font = m_defaultFont;
    } else if (word == "pard") {
        st.alignment = Qt::AlignLeft;
        st.outline = 0;
    } else if (word == "outlinelevel" && hasParam)
        st.outline = param >= 0 && param <= 8 ? param + 1 : 0;
    else if (word == "ql")
        st.alignment = Qt::AlignLeft;
    else if (word == "qc")
        st.alignment = Qt::AlignHCenter;
    else if (word == "qr")
        st.alignment = Qt::AlignRight;
    else if (word == "qj")
        st.alignment = Qt::AlignJustify;
    else if (word == "uc" && hasParam)
        st.unicodeSkip = qBound(0, param, 16);
    else if (word == "ansicpg" && hasParam && param > 0)
        m_codePage = param;
    else if (word == "mac")
        m_codePage = 10000;
    else if (word == "pc")
        m_codePage = 437;
    else if (word == "pca")
        m_codePage = 850;
    else if (word == "deff") {
        m_defaultFont = param;
        f.font = param;
    }
}

void Reader::run(QByteArrayView data) {
    RtfTokenizer tokenizer(data);
    bool atGroupStart = false;
    bool ignoreNextWord = false;
    for (;;) {
        const RtfTokenizer::Token t = tokenizer.next();
        const bool groupStarted = atGroupStart;
        atGroupStart = t.kind == RtfTokenizer::Kind::GroupStart;
        if (t.kind == RtfTokenizer::Kind::ControlSymbol && t.symbol == '*')
            atGroupStart = groupStarted;
        switch (t.kind) {
        case RtfTokenizer::Kind::End:
            flushBytes();
            return;
        case RtfTokenizer::Kind::GroupStart:
            flushBytes();
            m_skipCount = 0;
            m_ignorableNext = false;
            m_stack.push_back(m_stack.back());
            break;
        case RtfTokenizer::Kind::GroupEnd:
            flushBytes();
            m_skipCount = 0;
            m_ignorableNext = false;
            if (state().destination == Destination::FontTable && !m_fontName.trimmed().isEmpty())
                finishFontName();
            if (m_stack.size() > 1)
                m_stack.pop_back();
            break;
        case RtfTokenizer::Kind::ControlWord:
            if (ignoreNextWord) {
                ignoreNextWord = false;
                break;
            }
            controlWord(t.word, t.hasParameter, t.parameter);
            break;
        case RtfTokenizer::Kind::ControlSymbol:
            if (t.symbol == '*') {
                // At the start of a group "\*" marks a destination to skip when unknown;
                // elsewhere it only marks the next control word as one to ignore.
                if (groupStarted)
                    m_ignorableNext = true;
                else
                    ignoreNextWord = true;
                break;
            }
            if (!takesCharacter())
                break;
            switch (t.symbol) {
            case '\\':
            case '{':
            case '}':
                m_pendingCodePage = currentCodePage();
                m_pendingBytes.append(t.symbol);
                break;
            case '~':
                flushBytes();
                appendChar(0x00A0);
                break;
            case '_':
                flushBytes();
                appendChar(0x2011);
                break;
            case '-':
                flushBytes();
                appendChar(0x00AD); // optional hyphen: shown only where a line breaks
                break;
            case '\n':
                newParagraph();
                break;
            default:
                break; // \| and the other symbols show nothing
            }
            break;
        case RtfTokenizer::Kind::HexByte:
            if (state().destination == Destination::FontTable) {
                m_fontName.append(char(t.byte));
                break;
            }
            if (!takesCharacter())
                break;
            if (m_pendingBytes.isEmpty())
                m_pendingCodePage = currentCodePage();
            m_pendingBytes.append(char(t.byte));
            break;
        case RtfTokenizer::Kind::Text: {
            QByteArrayView text = t.word;
            if (state().destination == Destination::FontTable) {
                for (char c : text) {
                    if (c == ';')
                        finishFontName();
                    else
                        m_fontName.append(c);
                }
                break;
            }
            if (state().destination == Destination::ColorTable) {
                for (char c : text) {
                    if (c != ';')
                        continue;
                    m_doc.colors.append(
                        m_colorSet ? QColor(m_red & 255, m_green & 255, m_blue & 255) : QColor());
                    m_red = m_green = m_blue = 0;
                    m_colorSet = false;
                }
                break;
            }
            if (state().destination != Destination::Text)
                break;
            if (skipping()) {
                const qsizetype skip = qMin<qsizetype>(m_skipCount, text.size());
                m_skipCount -= int(skip);
                text = text.sliced(skip);
                if (text.isEmpty())
                    break;
            }
            if (m_pendingBytes.isEmpty())
                m_pendingCodePage = currentCodePage();
            m_pendingBytes.append(text);
            break;
        }
        case RtfTokenizer::Kind::Binary:
            m_ignorableNext = false;
            break;
        }
    }
}

} // namespace

bool looksLikeRtf(QByteArrayView data) {
    qsizetype i = 0;
    while (i < data.size() &&
           (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    return data.sliced(i).startsWith("{\\rtf");
}

bool readRtf(QByteArrayView data, RtfDocument& document) {
    document = RtfDocument();
    if (!looksLikeRtf(data))
        return false;
    Reader reader(document);
    reader.run(data.sliced(data.indexOf('{')));
    return true;
}

QString RtfDocument::plainText() const {
    QString out;
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
            out.append(QLatin1Char('\n'));
        for (const RtfRun& run : paragraphs[i].runs)
            out.append(run.text);
    }
    return out;
}

void fillTextDocument(const RtfDocument& rtf, QTextDocument& target) {
    target.clear();
    QTextCursor cursor(&target);
    cursor.beginEditBlock();
    auto charFormat = [&](const RtfCharFormat& f) {
        QTextCharFormat format;
        const auto font = rtf.fonts.constFind(f.font);
        if (font != rtf.fonts.constEnd() && !font->name.isEmpty())
            format.setFontFamilies({font->name});
        format.setFontPointSize(f.halfPoints / 2.0);
        format.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(f.italic);
        format.setFontUnderline(f.underline);
        format.setFontStrikeOut(f.strike);
        if (f.color > 0 && f.color < rtf.colors.size() && rtf.colors[f.color].isValid())
            format.setForeground(rtf.colors[f.color]);
        return format;
    };
    for (qsizetype i = 0; i < rtf.paragraphs.size(); ++i) {
        const RtfParagraph& paragraph = rtf.paragraphs[i];
        QTextBlockFormat blockFormat;
        blockFormat.setAlignment(paragraph.alignment);
        if (i == 0)
            cursor.setBlockFormat(blockFormat);
        else
            cursor.insertBlock(blockFormat);
        for (const RtfRun& run : paragraph.runs)
            cursor.insertText(run.text, charFormat(run.format));
    }
    cursor.endEditBlock();
}
