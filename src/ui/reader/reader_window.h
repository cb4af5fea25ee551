#pragma once

#include "core/text/book_layout.h"
#include "ui/dialogs/dialogs.h"

#include <QKeySequence>
#include <QPrinter>
#include <QWidget>

#include <functional>
#include <memory>

class BookView;
class FindDialog;
class LayoutDialog;
class NavigationPanel;
class ReaderNavigation;
class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
class ReadingState;
class StatusPanels;

// The reader window: one book's text over the whole screen, kept above other windows,
// with find, font and background colour, viewing and editing, saving and printing.
// It is created once, hidden, and only shown and hidden afterwards.
class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // The text area of both modes (Editor and View are one): read-only while viewing.
    BookView* Editor;
    BookView* View;
    StatusPanels* StatusBar;
    QToolBar* ToolBar1;
    QToolButton* ToolButton6; // back to the list
    QToolButton* ToolButton2; // find
    QToolButton* ToolButton5; // background colour
    QToolButton* ToolButton4; // text font
    QToolButton* ToolButton8; // the book's layout («Оформление»)
    QToolButton* ToolButton7; // viewing / editing
    QToolButton* ToolButton1; // save
    QToolButton* ToolButton3; // print
    // «Не найдено: …»: a note over the text that goes by itself.
    QLabel* NotFoundNote;
    QMenu* PopupMenu1;
    QMenu* PopupMenu2;
    QAction* UndoButton;
    QAction* CutButton;
    QAction* CopyButton;
    QAction* N3; // paste
    QAction* N5; // select all
    QAction* N2; // back to the list
    FindDialog* FindDialog1;
    LayoutDialog* LayoutDialog1;
    // The side panel («Содержание», «Закладки») and its buttons and keys.
    NavigationPanel* Navigation;
    ReaderNavigation* navigation() const { return m_navigation; }

    // Shows the window (bringing it up if shown), loads the book and records its path.
    // The book opens where it was left when the reading state remembers it (and its
    // file kept its size), else at its start; the caret is at that line's start.
    // Unsaved edits of the open book are first offered for saving; false when the user
    // keeps the edited book open instead (Cancel).
    bool openBook(const QString& path);
    // Opens the book with `length` characters from CR LF offset `offset` selected and
    // scrolled into view (a place found by the search).
    void openBookAt(const QString& path, qint64 offset, int length);
    // The book at `path` was deleted from the library: when it is the one the reader
    // holds (hidden, perhaps with unsaved edits), the reader lets it go, edits and all,
    // so that nothing writes its file again. Edits kept for it at a session's end go too.
    void bookDeleted(const QString& path);

    // What the reader remembers across runs (owned by the library window; may be null).
    // The remembered font and colours are applied at once; a book's position is taken
    // whenever the window is hidden or another book replaces it, and written with the
    // font and colours to the reading state's file.
    void setReadingState(ReadingState* state);
    // Records the first visible line of the shown book in the reading state (in memory).
    void rememberPosition();

    // Asks whether to save the open book's unsaved edits («Да», «Нет», «Отмена») before
    // its text is replaced or the program ends; true to go on. «Отмена», and a save that
    // failed and was not kept elsewhere, bring the reader back with the edits: false.
    bool settleUnsavedEdits();
    // Whether the book shown holds edits not saved to its file.
    bool hasUnsavedEdits() const;
    // The session ends with no time to ask: unsaved edits go to the book's recovery
    // file, offered for restoring at the book's next opening. Errors go unseen.
    void keepUnsavedEdits() noexcept;
    // The recovery file of the book at `path`: beside it in the books folder, under a name
    // no book's file can have (it does not end in ".boo") and no clean-up of leftovers
    // touches (it starts with "~").
    static QString recoveryPath(const QString& path);

    // Whether the reader is in viewing mode (the text area read-only).
    bool viewing() const;
    // The first visible character of the book shown, in either mode.
    int firstVisibleOffset();

    // The picture ToolButton7 shows: 9 while viewing, 12 while editing.
    int modeImage() const { return m_modeImage; }
    // Whether the save button is on the tool bar: only while editing.
    bool saveButtonShown() const;
    // The context menu of the text area: none at start, PopupMenu1 while editing,
    // PopupMenu2 after going back to viewing.
    QMenu* contextMenu() const { return m_contextMenu; }
    const FontChoice& fontDialogChoice() const { return m_fontChoice; }
    const QColor& colourDialogChoice() const { return m_colourChoice; }
    QPrinter& printer() { return m_printer; }
    // A print is under way.
    bool printing() const { return m_printing; }
    // The layout the book is shown in, in both modes.
    const BookLayout& bookLayout() const { return m_layout; }

    void ShowCaretPosition();
    void FormShow();
    void FormActivate();
    void SelectionChange();
    void RichEditChange();
    void ToolButton6Click();
    void ToolButton2Click();
    void FindDialog1Find();
    // F3 and Shift+F3: the words of the find dialog once more, down or up, without the
    // dialog (which opens when nothing was looked for yet).
    void findAgain(bool forward);
    // Ctrl+plus, Ctrl+minus, Ctrl+0: the text one step bigger, smaller, back to its size.
    void zoomText(int steps);
    int zoomSteps() const { return m_zoom; }
    void ToolButton5Click();
    void ToolButton4Click();
    void ToolButton8Click();
    void ToolButton7Click();
    void ToolButton1Click();
    void ToolButton3Click();
    void UndoButtonClick();
    void CutButton1Click();
    void N2Click();
    void N3Click();
    void N5Click();

Q_SIGNALS:
    // The book's file was written (the search index takes in its new text).
    void bookSaved(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The reader's keys win over the editor's own bindings (Ctrl+E is "end of line" on
    // some desktops).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* addButton(const QString& name, const QString& hint, int image);
    void addSeparator(int width);
    // Offers unsaved edits for saving, then shows the window and loads the book; false
    // when the user keeps the edited book open.
    bool showAndLoad(const QString& path);
    void saveReadingState();
    // A choice of the «Оформление» dialog: shown at once, remembered.
    void applyLayout(const BookLayout& layout);
    // A preset's colours, as if chosen in the font and colour dialogs.
    void applyPresetColours(const QColor& text, const QColor& background);
    // The words looked for, in the direction given; the note says when none are found.
    void find(const QString& wanted, bool forward);
    void showNotFound(const QString& wanted);
    void addKey(const QKeySequence& sequence, const QString& name, std::function<void()> action);
    // The tool bar, status bar and scroll bars follow a dark background chosen.
    void followBackground(const QColor& background);
    // The text font at its size as chosen, before Ctrl+plus and Ctrl+minus.
    // The tool buttons on the bar and enabled, in their order there.
    QList<QToolButton*> shownButtons() const;
    QFont m_textFont;
    QList<QKeySequence> m_keys;
    int m_zoom = 0;
    // Panel 2: how far into the book the first visible line is.
    void showProgress();

    // Saves the edited book to its file; true when the edits are safe. A failed save is
    // shown and the text is offered for saving to a file of the user's choice.
    bool saveBook();
    bool saveElsewhere();
    // Shows the hidden reader again as it was (the edits kept).
    void bringBack();
    // Offers the edits kept at a session's end for the book just opened.
    void offerRecovery(const QString& path);

    QAction* m_saveAction = nullptr;
    // A print is under way (its progress window lets events in).
    bool m_printing = false;
    int m_modeImage = 9;
    QMenu* m_contextMenu = nullptr;
    FontChoice m_fontChoice;
    // The reading view's font: the book's face of the layout, or the text's font.
    void applyFace();
    QColor m_colourChoice = Qt::black;
    QPrinter m_printer;
    ReadingState* m_reading = nullptr;
    BookLayout m_layout;
    // Whether the user chose the text's font (it then wins over the book's face).
    bool m_fontChosen = false;
    ReaderNavigation* m_navigation = nullptr;
};
