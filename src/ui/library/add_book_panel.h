#pragma once

#include "core/library/book_companions.h"
#include "core/text/imported_text.h"

#include <QByteArray>
#include <QFrame>

#include <optional>

class Library;
class QLineEdit;
class QPushButton;
class RichTextEditor;
class TColorBtn;

// The add-book panel: the file chosen and its preview (the library window's RichEdit1,
// below the panel), the book's name and note, the code page of a plain text, «Отмена»
// and «Сохранить». It stores the book in the library; the window opens and closes it.
class AddBookPanel : public QFrame {
    Q_OBJECT
public:
    AddBookPanel(Library& library, RichTextEditor* preview, QWidget* parent);

    QLineEdit* Dfail;
    QPushButton* SpeedButton1;
    QLineEdit* knigaimeno;
    QLineEdit* zametki;
    TColorBtn* ColorBtn1;
    TColorBtn* ColorBtn2;
    QPushButton* CodePageChoice; // «Кодировка» of a previewed plain text

    // The panel opens: the preview made editable and emptied, every field emptied, the
    // focus in the name.
    void start();
    // The browse button: a file chosen in the file dialog is previewed.
    void browse();
    // The file chosen by the browse button, typed or dropped onto the window: shown in
    // the preview, its first line proposed as the book's name.
    void previewFile(const QString& path);
    // No file chosen: the preview, the file's path and its bytes emptied.
    void clearChosenFile();
    // Decodes the previewed plain text again in the code page chosen (none: detected).
    void chooseCodePage(std::optional<ImportedText::CodePage> codePage);
    // The name proposed for the previewed text: its first display line that is not blank.
    QString proposedName();
    // «Сохранить»: the checks and questions, then the book is added to the library.
    // False when nothing was stored (the panel stays open).
    bool store();
    // The panel closes: the preview emptied, no plain text kept.
    void finish();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildCodePageChoice();
    // The plain text previewed, as its file holds it (none: a formatted book or none):
    // the code page choice shows for it, at «Автоматически».
    void setPlainTextSource(const QByteArray& bytes);
    void proposeName();

    Library& m_library;
    RichTextEditor* m_preview;
    QByteArray m_plainTextBytes; // the previewed plain text's file, for another code page
    BookCompanions::Pending m_pendingContents; // the previewed book's headings and emphasis
    QString m_chosenPath;                      // the file previewed
};
