#pragma once

#include <QPlainTextEdit>

struct ImportedBook;
struct RtfDocument;
class QMimeData;

// The add-book panel's preview: a file shown as formatted text (RTF) or plain text, which
// the user may edit before the book is added. Its text is handed over with every line
// break as CR LF; its display lines are those of the real word-wrapped layout.
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

    // The whole text, every line break as CR LF.
    QString WholeText() const;
    // The text of a display line (empty past the last one). Lines are counted from the
    // top, so this is meant for the first lines of the text.
    QString DisplayLine(int line);

    bool ReadOnly() const { return m_readOnly; }
    void setReadOnlyMode(bool readOnly);

Q_SIGNALS:
    void OnChange();
    void OnSelectionChange();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void setContentDocument(const RtfDocument& document);
    void setContentPlainText(QString text);

    bool m_plainText = true;
    bool m_guessEncoding = true;
    bool m_readOnly = false;
    bool m_formatted = false; // shows a formatted text: a selection offers its HTML too
};
