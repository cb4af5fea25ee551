#pragma once

#include <QPlainTextEdit>

#include <vector>

struct ImportedBook;
struct RtfDocument;
class QMimeData;
class QPrinter;
class QTimer;
class QTextBlock;
class QTextLayout;

// The text area of the reader and of the add-book preview. It loads and saves whole
// files as plain text or RTF, and reports every position in the CR LF model: a
// paragraph break counts as two characters, so an offset found in WholeText() is a
// valid selection position. Display lines are the lines of the real word-wrapped layout.
class RichTextEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit RichTextEditor(QWidget* parent = nullptr);

    // Mode of the next load and save: plain text when true, RTF when false.
    // The plain text a save stores, before its code-page form (NUL symbols as NUL).
    QString storedText();
    bool PlainText() const { return m_plainText; }
    void setPlainTextMode(bool plain) { m_plainText = plain; }

    // How a plain load decodes: guessing the encoding (imported files, the default), or
    // as a book of the library, code page 1251 unless a byte-order mark says otherwise.
    void setGuessEncoding(bool guess) { m_guessEncoding = guess; }
    // `reach`: a CR LF offset the caller is about to show; a long text arriving in
    // pieces puts in everything up to it (and a screenful more) at once.
    void LoadFile(const QString& path, int reach = 0);
    // Shows a book read by the importer: formatted, or plain text as LoadFile shows it.
    void ShowImported(ImportedBook book);
    void SaveFile(const QString& path);
    // The bytes SaveFile writes for the current content and mode.
    QByteArray serialized();

    QString DisplayLine(int line);
    // Prints the whole text (the chosen pages, copies and order) with a progress window
    // whose «Отмена» stops the print at the next page; the end of the session stops it
    // too. A stopped print leaves no PDF file behind.
    void PrintText(QPrinter& printer, const QString& title);
    bool printing() const { return m_printing; }

    QString WholeText();
    int SelectionStart() const;
    void setSelectionStart(int offset);
    int SelectionLength() const;
    void setSelectionLength(int length);
    // The CR LF offset of the first display line at the top of the text area.
    int firstVisibleOffset();
    // Scrolls so that the display line holding `offset` is the first one shown (as far
    // as the text reaches below it).
    void scrollOffsetToTop(int offset);
    // The length of the whole text as CR LF offsets count it, the part still arriving too.
    int textLength() const;
    int LineOfChar(int offset);
    // Whether LineOfChar(offset) is answered at once: the display lines before it are
    // counted, or paragraphs of at most 512 K characters (64 K while editing) remain to be
    // laid out (this counts them).
    bool lineOfCharReady(int offset);
    // Counts the display lines up to `offset` from the event loop, a slice at a time so
    // the window never freezes; emits linesReady when LineOfChar(offset) is at hand.
    void prepareLineOfChar(int offset);
    int FirstCharOfLine(int line);
    int lineCount();

    bool UndoAvailable() const { return document()->isUndoAvailable(); }
    void UndoLast() { undo(); }
    void CutSelection();
    void CopySelection() { copy(); }
    void PasteClipboard();
    void SelectWholeText();
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnlyMode(bool readOnly);
    void ClearModified() { document()->setModified(false); }
    void SetTextFont(const QFont& font, const QColor& colour);
    void SetBackgroundColour(const QColor& colour);
    QColor backgroundColour() const;
    // Hides the selection while the editor does not have the keyboard focus.
    void setHideSelectionWithoutFocus(bool hide);
    // The Tab key never moves the focus out of the text (and types a tab while editing).
    void setKeepFocusOnTab(bool keep) { m_keepFocusOnTab = keep; }
    QColor textColour() const;
    void FocusEditor() { setFocus(Qt::OtherFocusReason); }
    void ClearText();

    // A long text shown on screen arrives in pieces after its beginning has been shown;
    // every operation that needs the whole text first takes in the rest at once.
    bool loading() const { return !m_pendingText.isNull(); }
    void finishLoading();

    // Conversions between document positions and CR LF offsets.
    int offsetOfPosition(int position) const;
    int positionOfOffset(int offset) const;

    // Whether the block continues the paragraph of the block before it: a long paragraph
    // (or a long run without a space) is held in pieces of its own, joined by soft
    // breaks that are no part of the text.
    static bool continuesParagraph(const QTextBlock& block);
    // Number of soft breaks in the document (see continuesParagraph).
    int softBreakCount() const;

Q_SIGNALS:
    void OnChange();
    void OnSelectionChange();
    void loadFinished();
    void linesReady();

protected:
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // QPlainTextEdit::setReadOnly, keeping keyboard selection in read-only text.
    void applyReadOnly(bool readOnly);
    void setContentText(QString text, int reach = 0);
    // Cuts the document's long paragraphs of an RTF load into pieces.
    void breakLongParagraphs();
    // Marks the pending soft blocks that have arrived in the document.
    void markSoftBlocks();
    // Soft blocks with numbers up to and including `blockNumber`.
    int softBlocksUpTo(int blockNumber) const;
    void updateSoftBlocks() const;
    // The text between two document positions as it is (no-break spaces too), soft breaks
    // left out, paragraph and line breaks '\n'.
    QString textBetween(int from, int to) const;
    // Key handling of a document with soft breaks: true when the key was handled.
    bool softBreakKey(QKeyEvent* event);
    // Removes the selection as one edit; the block it started in keeps its own soft mark
    // (the document would give it the mark of the block the selection ended in).
    void removeSelection();
    void setContentDocument(const RtfDocument& document);
    void setContentPlainText(QString text, int reach = 0);
    void cancelLoading();
    // Appends the next piece of the pending text, about `size` characters, whole
    // paragraphs only.
    void appendPending(qsizetype size);
    int loadedOffsetEnd() const;
    // Moves the caret (or the selection's end) to the end of the text arrived so far.
    void followEnd();
    void invalidateLines(int fromBlock = 0);
    // The block's line count when known without laying it out, else -1.
    int quickLineCount(const QTextBlock& block);
    // Counts display lines up to the block, laying out at most about `layoutBudget`
    // characters; false when the budget ran out first.
    bool countLines(int upToBlock, qsizetype layoutBudget);
    void countLinesSlice();
    bool fitsOnOneLine(const QTextBlock& block);
    // The block's layout, laid out now if the layout has not done it yet.
    QTextLayout* laidOut(const QTextBlock& block);
    void ensureLineCounts(int upToBlock);
    // The block holding display line `line` and the line's index inside it; false past the end.
    bool locateLine(int line, QTextBlock* block, int* lineInBlock);
    qreal availableWidth();
    qreal advance(char16_t ch);

    void updateInactiveSelection();

    bool m_plainText = true;
    bool m_guessEncoding = true;
    bool m_readOnly = false;
    QString m_pendingText; // the rest of a text arriving in pieces, from m_pendingNext
    qsizetype m_pendingNext = 0;
    Qt::ScrollBarPolicy m_loadingPolicy = Qt::ScrollBarAsNeeded;
    QTimer* m_loadTimer;
    QTimer* m_lineTimer; // counts display lines in the background up to m_lineTarget
    int m_lineTarget = 0;
    bool m_hideSelection = false;
    bool m_keepFocusOnTab = false;
    bool m_printing = false;
    // Ctrl+End (or Ctrl+Shift+End) pressed while the text arrives: the caret follows its end.
    enum class EndWanted { No, Move, Select };
    EndWanted m_endWanted = EndWanted::No;
    bool m_uniformFormat = true; // no formatting of its own: the quick line count applies
    // m_lineStarts[i] = display lines in blocks before block i, valid for i <= m_validBlocks.
    std::vector<int> m_lineStarts{0};
    int m_validBlocks = 0;
    qreal m_lineWidth = -1;
    std::vector<float> m_advances;
    // Soft breaks: whether the document may hold any, the numbers of the blocks that
    // continue a paragraph (rebuilt after a change) and those of a text still arriving.
    bool m_softBreaks = false;
    mutable std::vector<int> m_softBlocks;
    mutable bool m_softBlocksValid = true;
    std::vector<int> m_pendingSoft;
    std::size_t m_pendingSoftNext = 0;
};
