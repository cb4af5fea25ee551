#include "ui/editor/rich_text_editor.h"

#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/rtf/rtf_reader.h"
#include "core/rtf/rtf_writer.h"
#include "core/text/text_import.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <limits>

#include <algorithm>

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

struct ResetFlag {
    bool& flag;
    ~ResetFlag() { flag = false; }
};

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
    connect(document(), &QTextDocument::contentsChange, this, [this](int from, int, int) {
        invalidateLines(document()->findBlock(from).blockNumber());
    });
}

// ---- Loading and saving -------------------------------------------------------------

void RichTextEditor::LoadFile(const QString& path) {
    QString text;
    {
        // Only an ordinary file is read: a FIFO or a device is refused at once, and so
        // is a file larger than the editor can hold.
        QByteArray data;
        switch (RegularFile::read(path, RegularFile::kMaxSize, data)) {
        case RegularFile::Status::Read:
            break;
        case RegularFile::Status::TooLarge:
            throw TomeriaError(RegularFile::tooLargeMessage(path));
        case RegularFile::Status::ReadFailed:
            throw TomeriaError(QStringLiteral("Failed to Load Stream"));
        default:
            throw TomeriaError(QStringLiteral("Cannot open file %1").arg(path));
        }

        if (!m_plainText) {
            RtfDocument rtf;
            if (readRtf(data, rtf)) {
                cancelLoading();
                document()->setUndoRedoEnabled(false);
                fillTextDocument(rtf, *document());
                document()->setUndoRedoEnabled(true);
                document()->setModified(false);
                m_uniformFormat = false;
                moveCursor(QTextCursor::Start);
                invalidateLines();
                return;
            }
        }
        text = TextImport::decode(data);
    } // the file's bytes are released before the text reaches the document
    if (text.contains(QChar(0)))
        text.replace(QChar(0), QChar(kNulSymbol));
    TextImport::normaliseInPlace(text);
    setContentText(std::move(text));
}

void RichTextEditor::setContentText(QString text) {
    cancelLoading();
    m_uniformFormat = true;
    // Any change of the text width lays out every paragraph again, giving each one a
    // layout of its own: for a long text the scroll bar must not appear after the text
    // has arrived, so it is shown while the old, or no, text is still there.
    const Qt::ScrollBarPolicy policy = verticalScrollBarPolicy();
    const bool longText = policy == Qt::ScrollBarAsNeeded && text.size() > kLongText;
    if (longText)
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
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
    if (first < text.size()) {
        // The rest follows in pieces; meanwhile the text takes no edits.
        m_pendingText = std::move(text);
        m_pendingNext = first;
        m_loadingPolicy = policy;
        QPlainTextEdit::setReadOnly(true);
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
    QString piece;
    if (last) {
        m_pendingText.remove(0, m_pendingNext);
        piece = std::exchange(m_pendingText, QString());
    } else {
        piece = m_pendingText.mid(m_pendingNext, end - m_pendingNext);
        m_pendingNext = end;
    }
    {
        const QSignalBlocker blocker(this);
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        document()->setUndoRedoEnabled(false);
        cursor.insertText(piece);
        document()->setUndoRedoEnabled(true);
        document()->setModified(false);
    }
    if (last) {
        m_pendingNext = 0;
        m_loadTimer->stop();
        QPlainTextEdit::setReadOnly(m_readOnly);
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
    m_loadTimer->stop();
    QPlainTextEdit::setReadOnly(m_readOnly);
    setVerticalScrollBarPolicy(m_loadingPolicy);
}

int RichTextEditor::loadedOffsetEnd() const {
    return offsetOfPosition(std::max(0, document()->characterCount() - 1));
}

void RichTextEditor::setReadOnlyMode(bool readOnly) {
    m_readOnly = readOnly;
    if (!loading())
        QPlainTextEdit::setReadOnly(readOnly);
}

void RichTextEditor::keyPressEvent(QKeyEvent* event) {
    // An edit while the text is still arriving waits for the whole text.
    if (loading() && !m_readOnly)
        finishLoading();
    QPlainTextEdit::keyPressEvent(event);
}

void RichTextEditor::insertFromMimeData(const QMimeData* source) {
    finishLoading();
    QPlainTextEdit::insertFromMimeData(source);
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
    if (!m_plainText)
        return writeRtf(*document());
    QString text = WholeText();
    if (text.contains(QChar(kNulSymbol)))
        text.replace(QChar(kNulSymbol), QChar(0));
    return Cp1251::encode(text);
}

void RichTextEditor::SaveFile(const QString& path) {
    SafeFile::write(path, serialized(), QStringLiteral("Cannot create file %1").arg(path),
                    QStringLiteral("Failed to Save Stream"));
}

void RichTextEditor::ClearText() {
    cancelLoading();
    clear();
    m_uniformFormat = true;
    document()->setModified(false);
    invalidateLines();
}

// ---- Positions ----------------------------------------------------------------------

QString RichTextEditor::WholeText() {
    finishLoading();
    const QString raw = document()->toRawText();
    const qsizetype breaks = raw.count(QChar::ParagraphSeparator);
    QString out(raw.size() + breaks, Qt::Uninitialized);
    QChar* dst = out.data();
    for (const QChar c : raw) {
        if (c == QChar::ParagraphSeparator) {
            *dst++ = QLatin1Char('\r');
            *dst++ = QLatin1Char('\n');
        } else {
            *dst++ = c;
        }
    }
    return out;
}

int RichTextEditor::offsetOfPosition(int position) const {
    return position + document()->findBlock(position).blockNumber();
}

int RichTextEditor::positionOfOffset(int offset) const {
    if (offset <= 0)
        return 0;
    const QTextDocument* doc = document();
    int lo = 0;
    int hi = doc->blockCount() - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (doc->findBlockByNumber(mid).position() + mid <= offset)
            lo = mid;
        else
            hi = mid - 1;
    }
    const QTextBlock block = doc->findBlockByNumber(lo);
    return std::min(offset - lo, block.position() + block.length() - 1);
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
    QPlainTextEdit::resizeEvent(event);
    invalidateLines();
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

int RichTextEditor::blockLineCount(const QTextBlock& block) {
    // The layout records a paragraph's real line count once it has laid it out; until
    // then the count says 1. QTextBlock::layout() would give every paragraph a layout of
    // its own, so it is asked only for paragraphs that may need more than one line.
    const int recorded = block.lineCount();
    if (recorded > 1)
        return recorded;
    if (m_uniformFormat && fitsOnOneLine(block))
        return 1;
    return std::max(1, laidOut(block)->lineCount());
}

void RichTextEditor::ensureLineCounts(int upToBlock) {
    const int blocks = document()->blockCount();
    upToBlock = std::min(upToBlock, blocks - 1);
    if (m_validBlocks > upToBlock)
        return;
    if (int(m_lineStarts.size()) < upToBlock + 2)
        m_lineStarts.resize(upToBlock + 2);
    QTextBlock block = document()->findBlockByNumber(m_validBlocks);
    for (int i = m_validBlocks; i <= upToBlock && block.isValid(); ++i, block = block.next())
        m_lineStarts[i + 1] = m_lineStarts[i] + blockLineCount(block);
    m_validBlocks = upToBlock + 1;
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

    qreal y = 0;
    bool pageHasContent = false;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        QTextLayout layout(block.text(), base, &printer);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setAlignment(block.blockFormat().alignment());
        layout.setTextOption(option);
        if (!m_uniformFormat)
            layout.setFormats(block.textFormats());
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(pageWidth);
            line.setPosition(QPointF(0, 0));
        }
        layout.endLayout();
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            // A line taller than the page still goes on a page of its own, so the loop
            // always moves on.
            if (pageHasContent && y + line.height() > pageHeight) {
                printer.newPage();
                y = 0;
                pageHasContent = false;
                QCoreApplication::processEvents();
            }
            line.draw(&painter, QPointF(0, y));
            y += line.height();
            pageHasContent = true;
        }
    }
    painter.end();
}
