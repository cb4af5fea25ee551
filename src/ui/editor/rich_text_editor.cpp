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

namespace {

// NUL bytes are shown as the visible symbol for NUL.
constexpr char16_t kNulSymbol = 0x2400;
constexpr int kMaxDisplayLine = 4096;

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

RichTextEditor::RichTextEditor(QWidget* parent) : QPlainTextEdit(parent) {
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
    document()->setUndoRedoEnabled(false);
    document()->clear();
    {
        QTextCursor change(document());
        change.beginEditBlock();
        fillTextDocument(rtf, *document());
        change.endEditBlock();
    }
    document()->setUndoRedoEnabled(true);
    document()->setModified(false);
    m_formatted = true;
    moveCursor(QTextCursor::Start);
}

void RichTextEditor::setContentPlainText(QString text) {
    if (text.contains(QChar(0)))
        text.replace(QChar(0), QChar(kNulSymbol));
    TextImport::normaliseInPlace(text);
    if (hasSeparators(text))
        replaceSeparators(text);
    {
        // The caret lands at the end while the text goes in: report only where it ends up.
        const QSignalBlocker blocker(this);
        document()->setPlainText(text);
        document()->setModified(false);
    }
    m_formatted = false;
    moveCursor(QTextCursor::Start);
    Q_EMIT OnChange();
}

void RichTextEditor::ClearText() {
    clear();
    m_formatted = false;
    document()->setModified(false);
}

// ---- Text ---------------------------------------------------------------------------

QString RichTextEditor::WholeText() const {
    const QString raw = document()->toRawText();
    // A line separator put in by other means than typing or pasting is a line break too.
    const qsizetype breaks = raw.count(QChar::ParagraphSeparator) + raw.count(QChar::LineSeparator);
    QString out(raw.size() + breaks, Qt::Uninitialized);
    QChar* dst = out.data();
    for (const QChar c : raw) {
        if (c != QChar::ParagraphSeparator && c != QChar::LineSeparator) {
            *dst++ = c;
        } else {
            *dst++ = QLatin1Char('\r');
            *dst++ = QLatin1Char('\n');
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
    return QString();
}

// ---- Editing ------------------------------------------------------------------------

void RichTextEditor::setReadOnlyMode(bool readOnly) {
    m_readOnly = readOnly;
    setReadOnly(readOnly);
    // Read-only text is still selected and scrolled with the keyboard.
    if (readOnly)
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void RichTextEditor::keyPressEvent(QKeyEvent* event) {
    // Shift+Enter would put a line separator inside the paragraph: the text has one kind
    // of line break, so it makes a paragraph break like Enter.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & Qt::ShiftModifier)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                        event->text(), event->isAutoRepeat(), ushort(event->count()));
        QPlainTextEdit::keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void RichTextEditor::insertFromMimeData(const QMimeData* source) {
    // Pasted line and paragraph separators are line breaks of the text.
    if (!source || !source->hasText() || !hasSeparators(source->text())) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QString text = source->text();
    replaceSeparators(text);
    QMimeData plain;
    plain.setText(text);
    QPlainTextEdit::insertFromMimeData(&plain);
}

QMimeData* RichTextEditor::createMimeDataFromSelection() const {
    // Qt's own plain text of a selection turns every no-break space into a space: a cut
    // and paste would change the book's characters. A formatted text offers its HTML too.
    const QTextCursor cursor = textCursor();
    auto* data =
        new SelectionData(m_formatted ? QTextDocumentFragment(cursor) : QTextDocumentFragment());
    QString text = cursor.selectedText();
    if (hasSeparators(text))
        replaceSeparators(text);
    data->setText(text);
    return data;
}
