#pragma once

#include <QPlainTextEdit>

#include <vector>

struct ImportedBook;
struct RtfDocument;
class QMimeData;
class QTextBlock;
class QTimer;

// The add-book panel's preview: a file shown as formatted text (RTF) or plain text, which
// the user may edit before the book is added. Its text is handed over with every line
// break as CR LF; its display lines are those of the real word-wrapped layout.
//
// A paragraph of more than 64 K characters, or a run of more than 256 without a space, is
// held in pieces joined by soft breaks (blocks marked as continuing their paragraph):
// they are no part of the text, and the keys, the clipboard and WholeText treat them so.
class RichTextEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit RichTextEditor(QWidget* parent = nullptr);

    // Mode of the next load: plain text when true, RTF (else plain text) when false.
    bool PlainText() const { return m_plainText; }
    void setPlainTextMode(bool plain) { m_plainText = plain; }
    // How a plain load decodes: guessing the encoding (imported files, the default), or
    // as a book of the library, code page 1251 unless a byte-order mark says otherwise.
    void setGuessEncoding(bool guess) { m_guessEncoding = guess; }
    // Only an ordinary file of a holdable size is read; throws TomeriaError otherwise.
    void LoadFile(const QString& path);
    // Shows a book read by the importer: formatted, or plain text as LoadFile shows it.
    void ShowImported(ImportedBook book);
    void ClearText();
    // A long text shown on screen arrives in pieces after its beginning has been shown,
    // read-only meanwhile; whatever needs the whole text (WholeText, a key, a paste, a
    // display line not there yet) first takes in the rest at once.
    bool loading() const { return !m_pendingText.isNull(); }
    void finishLoading();

    // The whole text, every line break as CR LF.
    QString WholeText();
    // The text of a display line (empty past the last one). Lines are counted from the
    // top, so this is meant for the first lines of the text.
    QString DisplayLine(int line);

    bool ReadOnly() const { return m_readOnly; }
    void setReadOnlyMode(bool readOnly);

    // Whether the block continues the paragraph of the block before it (a soft break).
    static bool continuesParagraph(const QTextBlock& block);
    int softBreakCount() const;

Q_SIGNALS:
    void OnChange();
    void OnSelectionChange();
    void loadFinished();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void setContentDocument(const RtfDocument& document);
    void setContentPlainText(QString text);
    void cancelLoading();
    // Appends the next piece of the pending text, about `size` characters, whole
    // paragraphs only.
    void appendPending(qsizetype size);
    // Marks the pending soft blocks that have arrived in the document.
    void markSoftBlocks();
    // QPlainTextEdit::setReadOnly, keeping keyboard selection in read-only text.
    void applyReadOnly(bool readOnly);
    // Cuts the document's long paragraphs (of a formatted text) into pieces.
    void breakLongParagraphs();
    // The text between two document positions, soft breaks left out, line breaks CR LF.
    QString textBetween(int from, int to) const;
    void removeSelection();
    // Key handling beside soft breaks: true when the key was handled.
    bool softBreakKey(QKeyEvent* event);

    bool m_plainText = true;
    bool m_guessEncoding = true;
    bool m_readOnly = false;
    bool m_formatted = false;  // shows a formatted text: a selection offers its HTML too
    bool m_softBreaks = false; // the text may hold soft breaks
    QString m_pendingText;     // the rest of a text arriving in pieces, from m_pendingNext
    qsizetype m_pendingNext = 0;
    Qt::ScrollBarPolicy m_loadingPolicy = Qt::ScrollBarAsNeeded;
    QTimer* m_loadTimer;
    // The numbers of the blocks that continue a paragraph, of a text still arriving.
    std::vector<int> m_pendingSoft;
    std::size_t m_pendingSoftNext = 0;
};
