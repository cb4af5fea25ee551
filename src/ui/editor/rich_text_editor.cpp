#include "ui/editor/rich_text_editor.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/formats/book_import.h"
#include "core/rtf/rtf_reader.h"
#include "core/rtf/rtf_writer.h"
#include "core/text/imported_text.h"
#include "core/text/text_import.h"
#include "ui/dialogs/print_progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMimeData>
#include <QPageRanges>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTimer>

#include <limits>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// NUL bytes are shown as the visible symbol for NUL and written back as NUL.
constexpr char16_t kNulSymbol = 0x2400;
constexpr int kMaxDisplayLine = 4096;
// Texts longer than this (in characters) surely need the vertical scroll bar.
constexpr qsizetype kLongText = 1 << 16;
// A text shown on screen and longer than this arrives in pieces: its first piece is
// shown at once, the others follow from the event loop without a long freeze.
constexpr qsizetype kProgressiveText = 1 << 19;
constexpr qsizetype kFirstPiece = 1 << 15;
constexpr qsizetype kNextPiece = 1 << 19;

// Long paragraphs are held in pieces joined by soft breaks, which are no part of the
// text: Qt lays out a paragraph as a whole, so a paragraph of many megabytes would
// freeze the window at every change, and a long run without a place to break (a word
// of thousands of characters) is laid out in quadratic time.
constexpr qsizetype kLongParagraph = 1 << 13;
constexpr qsizetype kLongRun = 256;
constexpr int kSoftBreakProperty = QTextFormat::UserProperty + 1;
// Characters laid out at most by one step of counting display lines in the background,
// and at once for a caret's line before it goes there: about a quarter of a second when
// a book is opened at a place for reading, a few tens of milliseconds for a key pressed
// while editing, where every caret move asks again.
constexpr qsizetype kLayoutSlice = 1 << 14;
constexpr qsizetype kLayoutAtOnce = 1 << 19;
constexpr qsizetype kLayoutAtOnceEditing = 1 << 16;

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

QTextBlockFormat withoutSoftBreak(QTextBlockFormat format) {
    format.clearProperty(kSoftBreakProperty);
    return format;
}

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

// Keys that only move the caret, select or copy: they need no more of the text than has
// arrived. A modifier pressed alone (the Ctrl of Ctrl+End) is one of them.
bool isModifierKey(int key) {
    return key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr;
}

bool isNavigationKey(QKeyEvent* event) {
    if (isModifierKey(event->key()))
        return true;
    static const QKeySequence::StandardKey moves[] = {QKeySequence::MoveToNextChar,
                                                      QKeySequence::MoveToPreviousChar,
                                                      QKeySequence::MoveToNextWord,
                                                      QKeySequence::MoveToPreviousWord,
                                                      QKeySequence::MoveToNextLine,
                                                      QKeySequence::MoveToPreviousLine,
                                                      QKeySequence::MoveToNextPage,
                                                      QKeySequence::MoveToPreviousPage,
                                                      QKeySequence::MoveToStartOfLine,
                                                      QKeySequence::MoveToEndOfLine,
                                                      QKeySequence::MoveToStartOfBlock,
                                                      QKeySequence::MoveToEndOfBlock,
                                                      QKeySequence::MoveToStartOfDocument,
                                                      QKeySequence::SelectNextChar,
                                                      QKeySequence::SelectPreviousChar,
                                                      QKeySequence::SelectNextWord,
                                                      QKeySequence::SelectPreviousWord,
                                                      QKeySequence::SelectNextLine,
                                                      QKeySequence::SelectPreviousLine,
                                                      QKeySequence::SelectNextPage,
                                                      QKeySequence::SelectPreviousPage,
                                                      QKeySequence::SelectStartOfLine,
                                                      QKeySequence::SelectEndOfLine,
                                                      QKeySequence::SelectStartOfBlock,
                                                      QKeySequence::SelectEndOfBlock,
                                                      QKeySequence::SelectStartOfDocument,
                                                      QKeySequence::Copy};
    return std::any_of(std::begin(moves), std::end(moves),
                       [event](QKeySequence::StandardKey key) { return event->matches(key); });
}

struct ResetFlag {
    bool& flag;
    ~ResetFlag() { flag = false; }
};

} // namespace

RichTextEditor::RichTextEditor(QWidget* parent)
    : QPlainTextEdit(parent), m_loadTimer(new QTimer(this)), m_lineTimer(new QTimer(this)) {
    m_loadTimer->setInterval(0);
    connect(m_loadTimer, &QTimer::timeout, this, [this] { appendPending(kNextPiece); });
    m_lineTimer->setInterval(0);
    connect(m_lineTimer, &QTimer::timeout, this, &RichTextEditor::countLinesSlice);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(false);
    connect(this, &QPlainTextEdit::textChanged, this, &RichTextEditor::OnChange);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &RichTextEditor::OnSelectionChange);
    connect(this, &QPlainTextEdit::selectionChanged, this, &RichTextEditor::OnSelectionChange);
    connect(document(), &QTextDocument::contentsChange, this, [this](int from, int, int) {
        invalidateLines(document()->findBlock(from).blockNumber());
        m_softBlocksValid = false;
    });
}

// ---- Loading and saving -------------------------------------------------------------

void RichTextEditor::LoadFile(const QString& path, int reach) {
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
    setContentPlainText(std::move(text), reach);
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
        // One change for the layout: a change within one paragraph is laid
        // out at once, so the paragraph must arrive already in its pieces.
        QTextCursor change(document());
        change.beginEditBlock();
        fillTextDocument(rtf, *document());
        breakLongParagraphs();
        change.endEditBlock();
    }
    document()->setUndoRedoEnabled(true);
    document()->setModified(false);
    m_uniformFormat = false;
    moveCursor(QTextCursor::Start);
    invalidateLines();
}

void RichTextEditor::setContentPlainText(QString text, int reach) {
    if (text.contains(QChar(0)))
        text.replace(QChar(0), QChar(kNulSymbol));
    TextImport::normaliseInPlace(text);
    setContentText(std::move(text), reach);
}

void RichTextEditor::breakLongParagraphs() {
    m_softBreaks = false;
    m_softBlocksValid = false;
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

void RichTextEditor::markSoftBlocks() {
    const int blocks = document()->blockCount();
    if (m_pendingSoftNext >= m_pendingSoft.size() || m_pendingSoft[m_pendingSoftNext] >= blocks)
        return;
    QTextBlockFormat soft;
    soft.setProperty(kSoftBreakProperty, true);
    const QSignalBlocker blocker(this);
    document()->setUndoRedoEnabled(false);
    for (; m_pendingSoftNext < m_pendingSoft.size() && m_pendingSoft[m_pendingSoftNext] < blocks;
         ++m_pendingSoftNext) {
        QTextCursor cursor(document()->findBlockByNumber(m_pendingSoft[m_pendingSoftNext]));
        cursor.mergeBlockFormat(soft);
    }
    document()->setUndoRedoEnabled(true);
    document()->setModified(false);
    m_softBlocksValid = false;
}

void RichTextEditor::setContentText(QString text, int reach) {
    cancelLoading();
    if (hasSeparators(text))
        replaceSeparators(text);
    m_uniformFormat = true;
    // Long paragraphs are cut into pieces: a '\n' goes in at each cut, in place, and the
    // blocks it starts are marked as continuing their paragraph once they arrive.
    std::vector<qsizetype> cuts;
    forEachSoftBreak(text, [&](qsizetype i) { cuts.push_back(i); });
    m_softBreaks = !cuts.empty();
    m_softBlocksValid = false;
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
    // Any change of the text width lays out every paragraph again, giving each one a
    // layout of its own: for a long text the scroll bar must not appear after the text
    // has arrived, so it is shown while the old, or no, text is still there.
    const Qt::ScrollBarPolicy policy = verticalScrollBarPolicy();
    const bool longText = policy == Qt::ScrollBarAsNeeded && text.size() > kLongText;
    if (longText)
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    qsizetype first = text.size();
    if (isVisible() && text.size() > kProgressiveText) {
        // A place about to be shown comes in the first piece. An offset is never smaller
        // than its index in the text before the cuts, which moved it by at most the cuts
        // before it.
        const qsizetype before =
            std::lower_bound(cuts.begin(), cuts.end(), qsizetype(reach)) - cuts.begin();
        const qsizetype from = std::max<qsizetype>(0, reach) + before + kFirstPiece;
        first = from >= text.size() ? -1 : text.indexOf(QLatin1Char('\n'), from);
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
    invalidateLines();
    moveCursor(QTextCursor::Start);
    Q_EMIT OnChange();
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
    // piece is cut from the pending text in place, with no copy of a long rest.
    // That break goes in as a block of the plain format: text inserted after it takes
    // its block format, never a soft break's mark.
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
    }
    if (m_endWanted != EndWanted::No)
        followEnd();
    if (last) {
        m_endWanted = EndWanted::No;
        Q_EMIT loadFinished();
    }
}

void RichTextEditor::followEnd() {
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End, m_endWanted == EndWanted::Select
                                              ? QTextCursor::KeepAnchor
                                              : QTextCursor::MoveAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
    // A caret at the end moves with the text put in after it, silently: say where it is.
    Q_EMIT OnSelectionChange();
}

void RichTextEditor::mousePressEvent(QMouseEvent* event) {
    m_endWanted = EndWanted::No;
    QPlainTextEdit::mousePressEvent(event);
}

void RichTextEditor::finishLoading() {
    appendPending(std::numeric_limits<qsizetype>::max() / 2);
}

void RichTextEditor::cancelLoading() {
    m_endWanted = EndWanted::No;
    if (!loading())
        return;
    m_pendingText = QString();
    m_pendingSoft.clear();
    m_pendingSoftNext = 0;
    m_loadTimer->stop();
    applyReadOnly(m_readOnly);
    setVerticalScrollBarPolicy(m_loadingPolicy);
}

int RichTextEditor::loadedOffsetEnd() const {
    return offsetOfPosition(std::max(0, document()->characterCount() - 1));
}

void RichTextEditor::applyReadOnly(bool readOnly) {
    QPlainTextEdit::setReadOnly(readOnly);
    // Read-only text is still selected and scrolled with the keyboard: arrows, Shift+arrows,
    // Ctrl+Home and Ctrl+End move the caret.
    if (readOnly)
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void RichTextEditor::setReadOnlyMode(bool readOnly) {
    m_readOnly = readOnly;
    if (!loading())
        applyReadOnly(readOnly);
}

void RichTextEditor::keyPressEvent(QKeyEvent* event) {
    const EndWanted followed = std::exchange(m_endWanted, EndWanted::No);
    if (loading()) {
        // Ctrl+End while the text arrives: the caret goes to the end of what has
        // arrived and follows the end until the last piece is in; the window never
        // waits for the rest.
        const bool select = event->matches(QKeySequence::SelectEndOfDocument);
        if (select || event->matches(QKeySequence::MoveToEndOfDocument)) {
            m_endWanted = select ? EndWanted::Select : EndWanted::Move;
            followEnd();
            event->accept();
            return;
        }
        if (isNavigationKey(event)) {
            // A modifier pressed alone (Shift on its way to Ctrl+Shift+End) leaves the
            // caret following the end.
            if (isModifierKey(event->key()))
                m_endWanted = followed;
        } else if (!m_readOnly) {
            // An edit while the text is still arriving waits for the whole text.
            finishLoading();
        }
    }
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
            CutSelection();
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

void RichTextEditor::CutSelection() {
    if (!m_softBreaks || isReadOnly() || !textCursor().hasSelection()) {
        cut();
        return;
    }
    copy();
    removeSelection();
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
    if (!m_uniformFormat && !m_softBreaks)
        formatted = QTextDocumentFragment(cursor);
    auto* data = new SelectionData(std::move(formatted));
    data->setText(textBetween(cursor.selectionStart(), cursor.selectionEnd()));
    return data;
}

void RichTextEditor::PasteClipboard() {
    finishLoading();
    paste();
}

void RichTextEditor::SelectWholeText() {
    finishLoading();
    selectAll();
}

QByteArray RichTextEditor::serialized() {
    finishLoading();
    if (!m_plainText) {
        if (softBreakCount() == 0)
            return writeRtf(*document());
        // The pieces of a long paragraph are joined again in a copy.
        const std::unique_ptr<QTextDocument> copy(document()->clone());
        QTextCursor cursor(copy.get());
        for (QTextBlock block = copy->lastBlock(); block.isValid(); block = block.previous()) {
            if (continuesParagraph(block)) {
                cursor.setPosition(block.position());
                cursor.deletePreviousChar();
            }
        }
        return writeRtf(*copy);
    }
    // In the nearest code-page form, as a book is stored when it is added.
    return Cp1251::encodeStorable(storedText());
}

QString RichTextEditor::storedText() {
    QString text = WholeText();
    if (text.contains(QChar(kNulSymbol)))
        text.replace(QChar(kNulSymbol), QChar(0));
    return text;
}

void RichTextEditor::SaveFile(const QString& path) {
    SafeFile::write(path, serialized(),
                    QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(path)),
                    QStringLiteral("Failed to Save Stream"));
}

void RichTextEditor::ClearText() {
    cancelLoading();
    clear();
    m_softBreaks = false;
    m_softBlocksValid = false;
    m_uniformFormat = true;
    document()->setModified(false);
    invalidateLines();
}

// ---- Positions ----------------------------------------------------------------------

QString RichTextEditor::WholeText() {
    finishLoading();
    const QString raw = document()->toRawText();
    // The separators of soft breaks, in order; none is in the text.
    std::vector<qsizetype> soft;
    if (softBreakCount() > 0) {
        soft.reserve(m_softBlocks.size() + 1);
        for (const int number : m_softBlocks)
            soft.push_back(document()->findBlockByNumber(number).position() - 1);
    }
    soft.push_back(-1);
    std::size_t nextSoft = 0;
    // A line separator put in by other means than typing or pasting is a line break too.
    const qsizetype breaks = raw.count(QChar::ParagraphSeparator) + raw.count(QChar::LineSeparator);
    QString out(raw.size() + breaks - 2 * qsizetype(soft.size() - 1), Qt::Uninitialized);
    QChar* dst = out.data();
    const QChar* src = raw.constData();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = src[i];
        if (c != QChar::ParagraphSeparator && c != QChar::LineSeparator) {
            *dst++ = c;
        } else if (c == QChar::ParagraphSeparator && i == soft[nextSoft]) {
            ++nextSoft;
        } else {
            *dst++ = QLatin1Char('\r');
            *dst++ = QLatin1Char('\n');
        }
    }
    return out;
}

QString RichTextEditor::textBetween(int from, int to) const {
    QString out;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from && !continuesParagraph(block))
            out += QLatin1Char('\n');
        const int start = std::max(from, block.position()) - block.position();
        const int end = std::min(to, block.position() + block.length() - 1) - block.position();
        out += block.text().mid(start, end - start);
    }
    if (hasSeparators(out))
        replaceSeparators(out);
    return out;
}

bool RichTextEditor::continuesParagraph(const QTextBlock& block) {
    // The first block continues nothing, even when a cut of the text from its start has
    // left it the mark of the block the cut ended in.
    return block.isValid() && block.position() > 0 &&
           block.blockFormat().boolProperty(kSoftBreakProperty);
}

void RichTextEditor::updateSoftBlocks() const {
    if (m_softBlocksValid)
        return;
    m_softBlocks.clear();
    if (m_softBreaks) {
        int number = 0;
        for (QTextBlock block = document()->begin(); block.isValid();
             block = block.next(), ++number)
            if (continuesParagraph(block))
                m_softBlocks.push_back(number);
    }
    m_softBlocksValid = true;
}

int RichTextEditor::softBreakCount() const {
    if (!m_softBreaks)
        return 0;
    updateSoftBlocks();
    return int(m_softBlocks.size());
}

int RichTextEditor::softBlocksUpTo(int blockNumber) const {
    if (!m_softBreaks)
        return 0;
    updateSoftBlocks();
    return int(std::upper_bound(m_softBlocks.begin(), m_softBlocks.end(), blockNumber) -
               m_softBlocks.begin());
}

// A paragraph break is one document position and two characters; a soft break is one
// document position and no character.
int RichTextEditor::offsetOfPosition(int position) const {
    const int number = document()->findBlock(position).blockNumber();
    return position + number - 2 * softBlocksUpTo(number);
}

int RichTextEditor::positionOfOffset(int offset) const {
    if (offset <= 0)
        return 0;
    const QTextDocument* doc = document();
    int lo = 0;
    int hi = doc->blockCount() - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (doc->findBlockByNumber(mid).position() + mid - 2 * softBlocksUpTo(mid) <= offset)
            lo = mid;
        else
            hi = mid - 1;
    }
    const QTextBlock block = doc->findBlockByNumber(lo);
    return std::min(offset - lo + 2 * softBlocksUpTo(lo), block.position() + block.length() - 1);
}

int RichTextEditor::SelectionStart() const {
    return offsetOfPosition(textCursor().selectionStart());
}

void RichTextEditor::setSelectionStart(int offset) {
    if (loading() && offset > loadedOffsetEnd())
        finishLoading();
    QTextCursor cursor = textCursor();
    cursor.setPosition(positionOfOffset(offset));
    setTextCursor(cursor);
}

int RichTextEditor::SelectionLength() const {
    const QTextCursor cursor = textCursor();
    return offsetOfPosition(cursor.selectionEnd()) - offsetOfPosition(cursor.selectionStart());
}

void RichTextEditor::setSelectionLength(int length) {
    QTextCursor cursor = textCursor();
    const int start = SelectionStart();
    if (loading() && start + length > loadedOffsetEnd()) {
        finishLoading();
        cursor = textCursor();
    }
    cursor.setPosition(positionOfOffset(start));
    cursor.setPosition(positionOfOffset(start + std::max(0, length)), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

int RichTextEditor::textLength() const {
    int length = loadedOffsetEnd();
    if (loading()) {
        // A line break counts two, a soft break (still to be marked) none.
        const QStringView rest = QStringView(m_pendingText).mid(m_pendingNext);
        const qsizetype soft = qsizetype(m_pendingSoft.size() - m_pendingSoftNext);
        length += int(rest.size() + rest.count(QLatin1Char('\n')) - 2 * soft);
    }
    return length;
}

int RichTextEditor::firstVisibleOffset() {
    const QTextBlock block = firstVisibleBlock();
    if (!block.isValid())
        return 0;
    // The view scrolls by lines: the top of the text area is the lower edge of the
    // natural text of the line above the first one shown, rounded.
    const qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    const QTextLayout* layout = laidOut(block);
    int start = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        start = line.textStart();
        if (top + line.naturalTextRect().bottom() > 0.5)
            break;
    }
    return offsetOfPosition(block.position() + start);
}

void RichTextEditor::scrollOffsetToTop(int offset) {
    if (loading() && offset > loadedOffsetEnd())
        finishLoading();
    const int position = positionOfOffset(offset);
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid())
        return;
    const QTextLine line = laidOut(block)->lineForTextPosition(position - block.position());
    const int inBlock = line.isValid() ? line.lineNumber() : 0;
    verticalScrollBar()->setValue(block.firstLineNumber() + inBlock);
}

// ---- Display lines ------------------------------------------------------------------

void RichTextEditor::invalidateLines(int fromBlock) {
    if (fromBlock <= 0)
        m_lineWidth = -1;
    m_validBlocks = std::min(m_validBlocks, std::max(0, fromBlock));
}

bool RichTextEditor::focusNextPrevChild(bool next) {
    if (m_keepFocusOnTab)
        return false;
    return QPlainTextEdit::focusNextPrevChild(next);
}

void RichTextEditor::resizeEvent(QResizeEvent* event) {
    // A new width wraps the text anew, every paragraph counted as one line until it is
    // laid out again: the text area would keep at best the paragraph at the top, and a
    // scroll range cut short by the uncounted lines moves even that. The character at
    // the top stays there. (A vertical scroll bar appearing after a place was shown, once
    // the text has arrived, is such a change.)
    const bool rewrapped = event->oldSize().width() >= 0 &&
                           event->oldSize().width() != event->size().width() &&
                           !document()->isEmpty();
    const int top = rewrapped ? firstVisibleOffset() : 0;
    QPlainTextEdit::resizeEvent(event);
    invalidateLines();
    if (top > 0)
        scrollOffsetToTop(top);
}

void RichTextEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_advances.clear();
        invalidateLines();
    }
}

qreal RichTextEditor::availableWidth() {
    // The layout's line width, read off the first paragraph's layout: its lines are
    // as wide as the width every paragraph is wrapped to.
    if (m_lineWidth < 0) {
        const QRectF bounds = document()->documentLayout()->blockBoundingRect(document()->begin());
        m_lineWidth = bounds.width() - 2 * document()->documentMargin();
    }
    return m_lineWidth;
}

qreal RichTextEditor::advance(char16_t ch) {
    if (m_advances.empty())
        m_advances.assign(0x10000, -1.0f);
    float& cached = m_advances[ch];
    if (cached < 0)
        cached = float(QFontMetricsF(font()).horizontalAdvance(QChar(ch)));
    return cached;
}

bool RichTextEditor::fitsOnOneLine(const QTextBlock& block) {
    // A paragraph whose characters' advances sum well below the width is one line.
    const QString text = block.text();
    const qreal width = availableWidth();
    qreal sum = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || c.isSurrogate())
            return false;
        sum += advance(u);
        if (sum * 1.02 + 2 >= width)
            return false;
    }
    return true;
}

QTextLayout* RichTextEditor::laidOut(const QTextBlock& block) {
    QTextLayout* layout = block.layout();
    if (layout->lineCount() == 0)
        document()->documentLayout()->blockBoundingRect(block);
    return layout;
}

int RichTextEditor::quickLineCount(const QTextBlock& block) {
    // The layout records a paragraph's real line count once it has laid it out; until
    // then the count says 1. QTextBlock::layout() would give every paragraph a layout of
    // its own, so it is asked only for paragraphs that may need more than one line.
    const int recorded = block.lineCount();
    if (recorded > 1)
        return recorded;
    if (m_uniformFormat && fitsOnOneLine(block))
        return 1;
    return -1;
}

bool RichTextEditor::countLines(int upToBlock, qsizetype layoutBudget) {
    const int blocks = document()->blockCount();
    upToBlock = std::min(upToBlock, blocks - 1);
    if (m_validBlocks > upToBlock)
        return true;
    if (int(m_lineStarts.size()) < upToBlock + 2)
        m_lineStarts.resize(upToBlock + 2);
    QTextBlock block = document()->findBlockByNumber(m_validBlocks);
    for (; m_validBlocks <= upToBlock && block.isValid(); block = block.next()) {
        int count = quickLineCount(block);
        if (count < 0) {
            if (layoutBudget <= 0)
                return false;
            layoutBudget -= block.length();
            count = std::max(1, laidOut(block)->lineCount());
        }
        m_lineStarts[m_validBlocks + 1] = m_lineStarts[m_validBlocks] + count;
        ++m_validBlocks;
    }
    return true;
}

void RichTextEditor::ensureLineCounts(int upToBlock) {
    countLines(upToBlock, std::numeric_limits<qsizetype>::max());
}

bool RichTextEditor::lineOfCharReady(int offset) {
    if (loading() && offset > loadedOffsetEnd())
        return true; // LineOfChar takes in the rest first, as every other look does
    const int number = document()->findBlock(positionOfOffset(offset)).blockNumber();
    // While lines are being counted in the background, nothing more is laid out at once:
    // the several reports of one caret move would each add their share of freeze.
    const qsizetype atOnce = m_readOnly ? kLayoutAtOnce : kLayoutAtOnceEditing;
    return countLines(number, m_lineTimer->isActive() ? 0 : atOnce);
}

void RichTextEditor::prepareLineOfChar(int offset) {
    m_lineTarget = document()->findBlock(positionOfOffset(offset)).blockNumber();
    m_lineTimer->start();
}

void RichTextEditor::countLinesSlice() {
    QElapsedTimer slice;
    slice.start();
    while (!countLines(m_lineTarget, kLayoutSlice)) {
        if (slice.elapsed() >= 40)
            return;
    }
    m_lineTimer->stop();
    Q_EMIT linesReady();
}

int RichTextEditor::lineCount() {
    finishLoading();
    ensureLineCounts(document()->blockCount() - 1);
    return m_lineStarts[m_validBlocks];
}

bool RichTextEditor::locateLine(int line, QTextBlock* block, int* lineInBlock) {
    if (line < 0)
        return false;

    const int blocks = document()->blockCount();
    while (m_validBlocks < blocks && m_lineStarts[m_validBlocks] <= line)
        ensureLineCounts(m_validBlocks + 1023);
    if (m_lineStarts[m_validBlocks] <= line) {
        // Lines of the text shown so far are final; a later one needs the whole text.
        if (!loading())
            return false;
        finishLoading();
        return locateLine(line, block, lineInBlock);
    }
    const auto begin = m_lineStarts.begin();
    const auto it = std::upper_bound(begin, begin + m_validBlocks + 1, line);
    const int number = int(it - begin) - 1;
    *block = document()->findBlockByNumber(number);
    *lineInBlock = line - m_lineStarts[number];
    return block->isValid();
}

int RichTextEditor::LineOfChar(int offset) {
    if (loading() && offset > loadedOffsetEnd())
        finishLoading();
    const int last = std::max(0, document()->characterCount() - 1);
    const int position = std::clamp(positionOfOffset(offset), 0, last);
    const QTextBlock block = document()->findBlock(position);
    const int number = block.blockNumber();
    ensureLineCounts(number);
    const int before = m_lineStarts[number];
    if (m_lineStarts[number + 1] - before <= 1)
        return before;
    const QTextLine line = laidOut(block)->lineForTextPosition(position - block.position());
    return before + (line.isValid() ? line.lineNumber() : 0);
}

int RichTextEditor::FirstCharOfLine(int line) {
    QTextBlock block;
    int inBlock = 0;
    if (!locateLine(line, &block, &inBlock))
        return -1;
    const int start = inBlock > 0 ? laidOut(block)->lineAt(inBlock).textStart() : 0;
    return offsetOfPosition(block.position() + start);
}

QString RichTextEditor::DisplayLine(int line) {
    QTextBlock block;
    int inBlock = 0;
    if (!locateLine(line, &block, &inBlock))
        return QString();
    const int number = block.blockNumber();
    QString result = block.text();
    if (m_lineStarts[number + 1] - m_lineStarts[number] > 1) {
        const QTextLine l = laidOut(block)->lineAt(inBlock);
        result = result.mid(l.textStart(), l.textLength());
    }
    result.truncate(kMaxDisplayLine);
    if (result.endsWith(QLatin1String("\r\n")))
        result.chop(2);
    return result;
}

// ---- Look ---------------------------------------------------------------------------

void RichTextEditor::SetTextFont(const QFont& font, const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Text, colour);
    setPalette(p);
    setFont(font);
    updateInactiveSelection();
}

void RichTextEditor::SetBackgroundColour(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Base, colour);
    setPalette(p);
    updateInactiveSelection();
}

void RichTextEditor::setHideSelectionWithoutFocus(bool hide) {
    m_hideSelection = hide;
    updateInactiveSelection();
}

void RichTextEditor::updateInactiveSelection() {
    if (!m_hideSelection)
        return;
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Base));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::Text));
    setPalette(p);
}

QColor RichTextEditor::backgroundColour() const {
    return palette().color(QPalette::Base);
}
QColor RichTextEditor::textColour() const {
    return palette().color(QPalette::Text);
}

// ---- Printing -----------------------------------------------------------------------

void RichTextEditor::PrintText(QPrinter& printer, const QString& title) {
    if (m_printing)
        throw TomeriaError(QStringLiteral("Printing in progress"));
    finishLoading();
    m_printing = true;
    ResetFlag reset{m_printing};

    printer.setDocName(title);
    printer.setFullPage(false);
    QPainter painter;
    if (!painter.begin(&printer))
        throw TomeriaError(QStringLiteral("Operation not supported on selected printer"));

    // The whole printable area, laid out for the page width. Pixel sizes are screen
    // pixels: convert them to points so the text keeps its size on paper.
    const qreal pageWidth = printer.width();
    const qreal pageHeight = printer.height();
    QFont base = font();
    if (base.pixelSize() > 0) {
        const qreal dpi = QApplication::primaryScreen()
                              ? QApplication::primaryScreen()->logicalDotsPerInch()
                              : 96.0;
        base.setPointSizeF(base.pixelSize() * 72.0 / dpi);
    }
    painter.setPen(textColour());

    // The pages are made from a copy of the text taken now: between pages the window
    // responds, and another book may be opened or the text edited meanwhile.
    struct Paragraph {
        QString text;
        Qt::Alignment alignment;
        QList<QTextLayout::FormatRange> formats;
    };
    const bool uniform = m_uniformFormat;
    std::vector<Paragraph> formatted;
    QString plain;
    if (uniform) {
        plain = document()->toRawText();
        if (plain.endsWith(QChar::ParagraphSeparator))
            plain.chop(1);
    } else {
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
            formatted.push_back(
                {block.text(), block.blockFormat().alignment(), block.textFormats()});
    }
    const qsizetype paragraphs =
        uniform ? plain.count(QChar::ParagraphSeparator) + 1 : qsizetype(formatted.size());

    // Paragraphs are laid out one at a time and kept while a page still needs them: the
    // last one laid out, and the first one of the page composed last (where a page
    // composed backwards ends). A paragraph longer than many pages is laid out once.
    struct Laid {
        qsizetype paragraph = -1;
        std::shared_ptr<const QTextLayout> layout;
    };
    Laid last;
    Laid pageFirst;
    auto layoutOf = [&](qsizetype p, qsizetype offset) {
        for (const Laid* kept : {&last, &pageFirst})
            if (kept->paragraph == p)
                return kept->layout;
        QString text;
        Qt::Alignment alignment = Qt::AlignLeft;
        if (uniform) {
            qsizetype end = plain.indexOf(QChar::ParagraphSeparator, offset);
            text = plain.mid(offset, (end < 0 ? plain.size() : end) - offset);
        } else {
            text = formatted[size_t(p)].text;
            alignment = formatted[size_t(p)].alignment;
        }
        auto layout = std::make_shared<QTextLayout>(text, base, &printer);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setAlignment(alignment);
        layout->setTextOption(option);
        if (!uniform)
            layout->setFormats(formatted[size_t(p)].formats);
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(pageWidth);
            line.setPosition(QPointF(0, 0));
        }
        layout->endLayout();
        last = {p, layout};
        return std::shared_ptr<const QTextLayout>(layout);
    };

    // Where a page starts: a paragraph (and its start in `plain`) and a line of it.
    struct Position {
        qsizetype paragraph = 0;
        qsizetype offset = 0;
        int line = 0;
    };
    struct PlacedLine {
        std::shared_ptr<const QTextLayout> layout;
        int line;
        qreal y;
    };
    std::vector<PlacedLine> page;
    // Fills `page` from `at` and moves `at` past its last line. A line taller than the
    // page still goes on a page of its own, so every page moves on.
    auto compose = [&](Position& at) {
        page.clear();
        Laid first;
        qreal y = 0;
        bool full = false;
        while (!full && at.paragraph < paragraphs) {
            const std::shared_ptr<const QTextLayout> layout = layoutOf(at.paragraph, at.offset);
            if (!first.layout)
                first = {at.paragraph, layout};
            for (; at.line < layout->lineCount(); ++at.line) {
                const qreal height = layout->lineAt(at.line).height();
                if (!page.empty() && y + height > pageHeight) {
                    full = true;
                    break;
                }
                page.push_back({layout, at.line, y});
                y += height;
            }
            if (!full) {
                ++at.paragraph;
                at.offset += layout->text().size() + 1;
                at.line = 0;
            }
        }
        pageFirst = std::move(first);
    };

    // A printer that makes copies itself gets the document once; for any other (a PDF
    // file) the copies, and the reversed order, are made here: collated, the whole
    // document again and again; else each page as many times in a row. Only the pages
    // of a chosen range print.
    const bool printerMakesCopies = printer.supportsMultipleCopies();
    const int copies = printerMakesCopies ? 1 : std::max(1, printer.copyCount());
    const bool collate = printer.collateCopies();
    const bool reversed = !printerMakesCopies && printer.pageOrder() == QPrinter::LastPageFirst;
    const QPageRanges ranges =
        printer.printRange() == QPrinter::PageRange ? printer.pageRanges() : QPageRanges();
    const int lastPage = ranges.isEmpty() ? std::numeric_limits<int>::max() : ranges.lastPage();

    // Progress and «Отмена»: asked before every page, as is the end of the session.
    PrintProgress progress(window());
    int printedPages = 0;
    bool stopped = false;
    auto goOn = [&] {
        progress.setPage(printedPages + 1);
        stopped = stopped || progress.stopRequested();
        return !stopped;
    };

    bool pagePrinted = false;
    auto printPage = [&] {
        for (int copy = 0; copy < (collate ? 1 : copies) && goOn(); ++copy) {
            if (pagePrinted)
                printer.newPage();
            for (const PlacedLine& placed : page)
                placed.layout->lineAt(placed.line).draw(&painter, QPointF(0, placed.y));
            pagePrinted = true;
            ++printedPages;
        }
    };
    // Pages in order, each handed to `use` with its number and where it starts.
    auto eachPage = [&](auto use) {
        Position at;
        for (int number = 1; number <= lastPage && at.paragraph < paragraphs && !stopped;
             ++number) {
            const Position start = at;
            compose(at);
            if (ranges.isEmpty() || ranges.contains(number))
                use(start);
            else
                goOn();
        }
    };

    std::vector<Position> starts; // of the pages to print, when printed last first
    if (reversed)
        eachPage([&](const Position& start) {
            starts.push_back(start);
            goOn();
        });
    for (int pass = 0; pass < (collate ? copies : 1) && !stopped; ++pass) {
        if (!reversed) {
            eachPage([&](const Position&) { printPage(); });
            continue;
        }
        for (auto start = starts.rbegin(); start != starts.rend() && !stopped; ++start) {
            Position at = *start;
            compose(at);
            printPage();
        }
    }
    if (!stopped) {
        painter.end();
        return;
    }
    // A stopped print leaves no half document: a printer drops the job where it can,
    // a PDF file written so far is removed.
    if (!printer.abort()) {
        painter.end();
        const QString output = printer.outputFileName();
        if (printer.outputFormat() == QPrinter::PdfFormat && !output.isEmpty() &&
            QFileInfo(output).isFile() && !QFileInfo(output).isSymLink())
            QFile::remove(output);
    }
}
