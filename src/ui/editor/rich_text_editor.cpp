#include "ui/editor/rich_text_editor.h"

#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/formats/book_import.h"
#include "core/rtf/rtf_reader.h"
#include "core/text/imported_text.h"
#include "core/text/text_import.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTimer>

#include <cstring>
#include <limits>

#include <vector>

namespace {

// NUL bytes are shown as the visible symbol for NUL.
constexpr char16_t kNulSymbol = 0x2400;
constexpr int kMaxDisplayLine = 4096;

// Qt lays out a paragraph as a whole, at every change of it: a paragraph of megabytes (a
// book that is one line) would freeze the window for seconds and take gigabytes, and a
// long run without a place to break (one word of thousands of letters, each of its own
// format) is laid out in quadratic time. Such paragraphs are held in pieces joined by
// soft breaks, which are no part of the text; a paragraph of an ordinary book is whole.
constexpr qsizetype kLongParagraph = 1 << 16;
constexpr qsizetype kLongRun = 256;
constexpr int kSoftBreakProperty = QTextFormat::UserProperty + 1;
// Texts longer than this (in characters) surely need the vertical scroll bar.
constexpr qsizetype kLongText = 1 << 16;
// A text shown on screen and longer than this arrives in pieces: its first piece is
// shown at once, the others follow from the event loop without a long freeze.
constexpr qsizetype kProgressiveText = 1 << 19;
constexpr qsizetype kFirstPiece = 1 << 15;
constexpr qsizetype kNextPiece = 1 << 19;

bool isBreakSpace(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x80 ? (u == u' ' || u == u'\t') : c.isSpace();
}

// Calls cut(i) for each index of `text` where a piece of a long paragraph starts: after
// a space about every kLongParagraph characters, and inside a run without spaces every
// kLongRun characters (never inside a surrogate pair). '\n' ends a paragraph.
template <class Cut> void forEachSoftBreak(QStringView text, Cut&& cut) {
    qsizetype pieceStart = 0;
    qsizetype runStart = 0;
    qsizetype afterSpace = 0;
    const QChar* d = text.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = d[i];
        if (c == u'\n') {
            pieceStart = runStart = afterSpace = i + 1;
        } else if (isBreakSpace(c)) {
            runStart = afterSpace = i + 1;
        } else if (c.isLowSurrogate()) {
            continue;
        } else if (i - runStart >= kLongRun) {
            cut(i);
            pieceStart = runStart = afterSpace = i;
        } else if (i - pieceStart >= kLongParagraph && afterSpace > pieceStart) {
            cut(afterSpace);
            pieceStart = afterSpace;
        }
    }
}

QTextBlockFormat withoutSoftBreak(QTextBlockFormat format) {
    format.clearProperty(kSoftBreakProperty);
    return format;
}

// A selection on the clipboard or in a drag: its text as the document holds it, and
// the HTML of a formatted selection, made only when another program asks for it.
class SelectionData : public QMimeData {
public:
    explicit SelectionData(QTextDocumentFragment formatted) : m_formatted(std::move(formatted)) {}
    QStringList formats() const override {
        QStringList list = QMimeData::formats();
        if (!m_formatted.isEmpty())
            list.append(QStringLiteral("text/html"));
        return list;
    }

protected:
    QVariant retrieveData(const QString& type, QMetaType metaType) const override {
        if (type == QLatin1String("text/html") && !m_formatted.isEmpty())
            return m_formatted.toHtml().toUtf8();
        return QMimeData::retrieveData(type, metaType);
    }

private:
    QTextDocumentFragment m_formatted;
};

// Unicode's line and paragraph separators: in a plain text they are line breaks.
bool hasSeparators(const QString& text) {
    return text.contains(QChar::LineSeparator) || text.contains(QChar::ParagraphSeparator);
}

void replaceSeparators(QString& text) {
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

// A book of the library is code page 1251, as the program writes it; only a UTF-8 or
// UTF-16 byte-order mark says otherwise.
QString decodeLibraryBook(const QByteArray& data) {
    if (data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") ||
        data.startsWith("\xFE\xFF"))
        return TextImport::decode(data);
    return Cp1251::decode(data);
}

} // namespace

RichTextEditor::RichTextEditor(QWidget* parent)
    : QPlainTextEdit(parent), m_loadTimer(new QTimer(this)) {
    m_loadTimer->setInterval(0);
    connect(m_loadTimer, &QTimer::timeout, this, [this] { appendPending(kNextPiece); });
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(false);
    connect(this, &QPlainTextEdit::textChanged, this, &RichTextEditor::OnChange);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &RichTextEditor::OnSelectionChange);
    connect(this, &QPlainTextEdit::selectionChanged, this, &RichTextEditor::OnSelectionChange);
}

// ---- Loading ------------------------------------------------------------------------

void RichTextEditor::LoadFile(const QString& path) {
    QString text;
    {
        // Only an ordinary file is read: a FIFO or a device is refused at once, and so
        // is a file larger than the editor can hold.
        const QByteArray data = RegularFile::readBook(path);
        if (!m_plainText) {
            RtfDocument rtf;
            if (readRtf(data, rtf)) {
                setContentDocument(rtf);
                return;
            }
        }
        text = m_guessEncoding ? ImportedText::decode(data) : decodeLibraryBook(data);
    } // the file's bytes are released before the text reaches the document
    setContentPlainText(std::move(text));
}

void RichTextEditor::ShowImported(ImportedBook book) {
    if (book.kind == ImportedBook::Kind::Formatted)
        setContentDocument(book.document);
    else
        setContentPlainText(std::move(book.text));
}

void RichTextEditor::setContentDocument(const RtfDocument& rtf) {
    cancelLoading();
    document()->setUndoRedoEnabled(false);
    document()->clear();
    {
        QTextCursor change(document());
        change.beginEditBlock();
        fillTextDocument(rtf, *document());
        breakLongParagraphs();
        change.endEditBlock();
    }
    document()->setUndoRedoEnabled(true);
    document()->setModified(false);
    m_formatted = true;
    moveCursor(QTextCursor::Start);
}

void RichTextEditor::setContentPlainText(QString text) {
    cancelLoading();
    if (text.contains(QChar(0)))
        text.replace(QChar(0), QChar(kNulSymbol));
    TextImport::normaliseInPlace(text);
    if (hasSeparators(text))
        replaceSeparators(text);
    // Long paragraphs are cut into pieces: a '\n' goes in at each cut, in place, and the
    // blocks it starts are marked as continuing their paragraph once they arrive.
    std::vector<qsizetype> cuts;
    forEachSoftBreak(text, [&](qsizetype i) { cuts.push_back(i); });
    m_softBreaks = !cuts.empty();
    m_pendingSoft.clear();
    m_pendingSoftNext = 0;
    if (!cuts.empty()) {
        m_pendingSoft.reserve(cuts.size());
        qsizetype from = 0;
        qsizetype breaks = 0;
        for (std::size_t k = 0; k < cuts.size(); ++k) {
            breaks += QStringView(text).sliced(from, cuts[k] - from).count(u'\n');
            from = cuts[k];
            m_pendingSoft.push_back(int(breaks + qsizetype(k) + 1));
        }
        qsizetype source = text.size();
        text.resize(text.size() + qsizetype(cuts.size()));
        QChar* d = text.data();
        qsizetype target = text.size();
        for (std::size_t k = cuts.size(); k-- > 0;) {
            const qsizetype length = source - cuts[k];
            target -= length;
            std::memmove(d + target, d + cuts[k], std::size_t(length) * sizeof(QChar));
            d[--target] = QLatin1Char('\n');
            source = cuts[k];
        }
    }
    // Any change of the text width lays out every paragraph again: for a long text the
    // scroll bar must not appear after the text has arrived, so it is shown at once.
    const Qt::ScrollBarPolicy policy = verticalScrollBarPolicy();
    const bool longText = policy == Qt::ScrollBarAsNeeded && text.size() > kLongText;
    if (longText)
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A long text shown on screen goes in from its beginning, the rest in pieces from the
    // event loop: the window never waits for the whole of it.
    qsizetype first = text.size();
    if (isVisible() && text.size() > kProgressiveText) {
        first = text.indexOf(QLatin1Char('\n'), kFirstPiece);
        if (first < 0)
            first = text.size();
    }
    {
        // The caret lands at the end while the text goes in: report only where it ends up.
        const QSignalBlocker blocker(this);
        document()->setPlainText(first == text.size() ? text : text.left(first));
        document()->setModified(false);
    }
    markSoftBlocks();
    m_formatted = false;
    if (first < text.size()) {
        // The rest follows in pieces; meanwhile the text takes no edits.
        m_pendingText = std::move(text);
        m_pendingNext = first;
        m_loadingPolicy = policy;
        applyReadOnly(true);
        m_loadTimer->start();
    } else if (longText) {
        setVerticalScrollBarPolicy(policy);
    }
    moveCursor(QTextCursor::Start);
    Q_EMIT OnChange();
}

void RichTextEditor::markSoftBlocks() {
    const int blocks = document()->blockCount();
    if (m_pendingSoftNext >= m_pendingSoft.size() || m_pendingSoft[m_pendingSoftNext] >= blocks)
        return;
    QTextBlockFormat soft;
    soft.setProperty(kSoftBreakProperty, true);
    const QSignalBlocker blocker(this);
    document()->setUndoRedoEnabled(false);
    for (; m_pendingSoftNext < m_pendingSoft.size() && m_pendingSoft[m_pendingSoftNext] < blocks;
         ++m_pendingSoftNext)
        QTextCursor(document()->findBlockByNumber(m_pendingSoft[m_pendingSoftNext]))
            .mergeBlockFormat(soft);
    document()->setUndoRedoEnabled(true);
    document()->setModified(false);
}

void RichTextEditor::appendPending(qsizetype size) {
    if (!loading())
        return;
    qsizetype end = m_pendingNext + size;
    if (end >= m_pendingText.size()) {
        end = m_pendingText.size();
    } else {
        end = m_pendingText.indexOf(QLatin1Char('\n'), end);
        if (end < 0)
            end = m_pendingText.size();
    }
    const bool last = end == m_pendingText.size();
    // The piece starts with the line break that ends the text shown so far. The last
    // piece is cut from the pending text in place, with no copy of a long rest. That
    // break goes in as a block of the plain format: text inserted after it takes its
    // block format, never a soft break's mark.
    QString piece;
    if (last) {
        m_pendingText.remove(0, m_pendingNext + 1);
        piece = std::exchange(m_pendingText, QString());
    } else {
        piece = m_pendingText.mid(m_pendingNext + 1, end - m_pendingNext - 1);
        m_pendingNext = end;
    }
    {
        const QSignalBlocker blocker(this);
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        document()->setUndoRedoEnabled(false);
        cursor.insertBlock(QTextBlockFormat());
        cursor.insertText(piece);
        document()->setUndoRedoEnabled(true);
        document()->setModified(false);
    }
    markSoftBlocks();
    if (last) {
        m_pendingNext = 0;
        m_loadTimer->stop();
        applyReadOnly(m_readOnly);
        setVerticalScrollBarPolicy(m_loadingPolicy);
        Q_EMIT loadFinished();
    }
}

void RichTextEditor::finishLoading() {
    appendPending(std::numeric_limits<qsizetype>::max() / 2);
}

void RichTextEditor::cancelLoading() {
    if (!loading())
        return;
    m_pendingText = QString();
    m_pendingSoft.clear();
    m_pendingSoftNext = 0;
    m_loadTimer->stop();
    applyReadOnly(m_readOnly);
    setVerticalScrollBarPolicy(m_loadingPolicy);
}

void RichTextEditor::breakLongParagraphs() {
    m_softBreaks = false;
    std::vector<int> cuts;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block.length() - 1 <= kLongRun)
            continue;
        const int base = block.position();
        forEachSoftBreak(block.text(), [&](qsizetype i) { cuts.push_back(base + int(i)); });
    }
    if (cuts.empty())
        return;
    m_softBreaks = true;
    // From the end, so the positions before stay valid; each piece keeps the paragraph's
    // format and its characters theirs.
    QTextCursor cursor(document());
    for (auto it = cuts.rbegin(); it != cuts.rend(); ++it) {
        cursor.setPosition(*it);
        QTextBlockFormat format = cursor.blockFormat();
        format.setProperty(kSoftBreakProperty, true);
        cursor.insertBlock(format, cursor.charFormat());
    }
}

bool RichTextEditor::continuesParagraph(const QTextBlock& block) {
    // The first block continues nothing, even when a cut of the text from its start has
    // left it the mark of the block the cut ended in.
    return block.isValid() && block.position() > 0 &&
           block.blockFormat().boolProperty(kSoftBreakProperty);
}

int RichTextEditor::softBreakCount() const {
    int count = 0;
    if (m_softBreaks)
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
            count += continuesParagraph(block) ? 1 : 0;
    return count;
}

void RichTextEditor::ClearText() {
    cancelLoading();
    clear();
    m_softBreaks = false;
    m_formatted = false;
    document()->setModified(false);
}

// ---- Text ---------------------------------------------------------------------------

QString RichTextEditor::WholeText() {
    finishLoading();
    return textBetween(0, std::max(0, document()->characterCount() - 1));
}

QString RichTextEditor::textBetween(int from, int to) const {
    // Paragraph breaks, and line separators put in by other means than typing or pasting,
    // are CR LF; soft breaks are nothing.
    QString out;
    out.reserve(to - from + document()->blockCount());
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from && !continuesParagraph(block))
            out += QStringLiteral("\r\n");
        const int start = std::max(from, block.position()) - block.position();
        const int end = std::min(to, block.position() + block.length() - 1) - block.position();
        const QString whole = block.text();
        const QStringView text = QStringView(whole).sliced(start, end - start);
        if (text.contains(QChar::LineSeparator) || text.contains(QChar::ParagraphSeparator)) {
            QString part = text.toString();
            replaceSeparators(part);
            out += part.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        } else {
            out += text;
        }
    }
    return out;
}

QString RichTextEditor::DisplayLine(int line) {
    if (line < 0)
        return QString();
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        QTextLayout* layout = block.layout();
        if (layout->lineCount() == 0)
            document()->documentLayout()->blockBoundingRect(block);
        const int lines = std::max(1, layout->lineCount());
        if (line >= lines) {
            line -= lines;
            continue;
        }
        QString result = block.text();
        if (layout->lineCount() > 1) {
            const QTextLine l = layout->lineAt(line);
            result = result.mid(l.textStart(), l.textLength());
        }
        result.truncate(kMaxDisplayLine);
        return result;
    }
    if (loading()) {
        // A line past the text arrived so far: the rest comes in first.
        finishLoading();
        return DisplayLine(line);
    }
    return QString();
}

// ---- Editing ------------------------------------------------------------------------

void RichTextEditor::setReadOnlyMode(bool readOnly) {
    m_readOnly = readOnly;
    if (!loading())
        applyReadOnly(readOnly);
}

void RichTextEditor::applyReadOnly(bool readOnly) {
    setReadOnly(readOnly);
    // Read-only text is still selected and scrolled with the keyboard.
    if (readOnly)
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void RichTextEditor::keyPressEvent(QKeyEvent* event) {
    // A key while the text arrives (a modifier alone aside) waits for the whole text: an
    // edit, or a move to its end, needs all of it.
    if (loading() && event->key() != Qt::Key_Control && event->key() != Qt::Key_Shift &&
        event->key() != Qt::Key_Alt && event->key() != Qt::Key_Meta)
        finishLoading();
    // Shift+Enter would put a line separator inside the paragraph: the text has one kind
    // of line break, so it makes a paragraph break like Enter.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & Qt::ShiftModifier)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                        event->text(), event->isAutoRepeat(), ushort(event->count()));
        keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    if (m_softBreaks && !isReadOnly() && textCursor().hasSelection()) {
        // A key that replaces or removes the selection: it goes first, as it should.
        if (event->matches(QKeySequence::Cut)) {
            copy();
            removeSelection();
            event->accept();
            return;
        }
        const bool removes = event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete;
        const bool types = !event->text().isEmpty() && event->text().front().isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (removes || types || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            removeSelection();
        if (removes) {
            event->accept();
            return;
        }
    }
    if (m_softBreaks && !isReadOnly() && softBreakKey(event)) {
        event->accept();
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void RichTextEditor::removeSelection() {
    // One edit; the block the selection started in keeps its own soft mark (the document
    // would give it the mark of the block the selection ended in).
    QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return;
    const bool soft = continuesParagraph(document()->findBlock(cursor.selectionStart()));
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    if (continuesParagraph(cursor.block()) != soft) {
        QTextBlockFormat format = cursor.blockFormat();
        if (soft)
            format.setProperty(kSoftBreakProperty, true);
        else
            format.clearProperty(kSoftBreakProperty);
        cursor.setBlockFormat(format);
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
}

bool RichTextEditor::softBreakKey(QKeyEvent* event) {
    // A soft break is no character: Enter makes a paragraph break of its own (a new block
    // would otherwise take the soft mark of the block it is split from), and Backspace
    // and Delete next to a soft break remove the character beyond it.
    QTextCursor cursor = textCursor();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        modifiers == Qt::NoModifier) {
        cursor.insertBlock(withoutSoftBreak(cursor.blockFormat()));
        setTextCursor(cursor);
        return true;
    }
    if (cursor.hasSelection() || modifiers != Qt::NoModifier)
        return false;
    if (event->key() == Qt::Key_Backspace && cursor.atBlockStart() &&
        continuesParagraph(cursor.block())) {
        while (cursor.atBlockStart() && continuesParagraph(cursor.block()))
            cursor.setPosition(cursor.position() - 1);
        cursor.deletePreviousChar();
        setTextCursor(cursor);
        return true;
    }
    if (event->key() == Qt::Key_Delete && cursor.atBlockEnd() &&
        continuesParagraph(cursor.block().next())) {
        while (cursor.atBlockEnd() && continuesParagraph(cursor.block().next()))
            cursor.setPosition(cursor.position() + 1);
        cursor.deleteChar();
        setTextCursor(cursor);
        return true;
    }
    return false;
}

void RichTextEditor::insertFromMimeData(const QMimeData* source) {
    finishLoading();
    if (!source || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    // Pasted line and paragraph separators are line breaks of the text.
    QString text = source->text();
    const bool separators = hasSeparators(text);
    if (separators)
        replaceSeparators(text);
    if (!m_softBreaks) {
        if (!separators) {
            QPlainTextEdit::insertFromMimeData(source);
        } else {
            QMimeData plain;
            plain.setText(text);
            QPlainTextEdit::insertFromMimeData(&plain);
        }
        return;
    }
    // Pasted line breaks are paragraph breaks, also inside a piece of a long paragraph.
    TextImport::normaliseInPlace(text);
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    if (cursor.hasSelection()) {
        setTextCursor(cursor);
        removeSelection();
        cursor = textCursor();
    }
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock(withoutSoftBreak(cursor.blockFormat()));
        cursor.insertText(lines[i].toString());
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

QMimeData* RichTextEditor::createMimeDataFromSelection() const {
    // Qt's own plain text of a selection turns every no-break space into a space: a cut
    // and paste would change the book's characters. A formatted text that is not held
    // in pieces offers its HTML too.
    const QTextCursor cursor = textCursor();
    QTextDocumentFragment formatted;
    if (m_formatted && !m_softBreaks)
        formatted = QTextDocumentFragment(cursor);
    auto* data = new SelectionData(std::move(formatted));
    data->setText(textBetween(cursor.selectionStart(), cursor.selectionEnd())
                      .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    return data;
}
