#pragma once

#include "core/book/book_text.h"
#include "core/book/jump_history.h"
#include "core/book/text_change.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class BookDocument;
struct BookMarkup;
class BookmarkMargin;
class QColor;
class QTimer;
class QPoint;
class QRect;
class NavigationPanel;
class QToolBar;
class QToolButton;
class QWidget;
class ReadingState;

// What the reader window lends the navigation: its places, in either mode.
struct ReaderPlaces {
    std::function<qsizetype()> top;           // the first visible character
    std::function<void(qsizetype)> showAtTop; // that place at the top, the caret there
    std::function<qsizetype()> length;
    // The first character of a display line (0-based), -1 while the lines before it are
    // still being counted.
    std::function<qsizetype(int)> offsetOfLine;
    std::function<void()> focusText;
    // The character under a point of the view's viewport (-1 outside the text), and the
    // caret when nothing is selected (-1 otherwise).
    std::function<qsizetype(const QPoint&)> offsetAt;
    std::function<qsizetype()> caret;
    // Whether the text is being edited: a note reference then follows Ctrl+click only,
    // and Enter breaks the line. Unset: viewing.
    std::function<bool()> editing;
    // The view's viewport and a character's rectangle there (empty when it is not
    // shown), for the marks of bookmarked lines.
    QWidget* viewport = nullptr;
    std::function<QRect(qsizetype)> rectOf;
    // The book as shown and edited, for the headings typed (unset: none are followed).
    std::function<const BookDocument*()> document;
    // The view's text and background colours, which the side panel takes.
    std::function<std::pair<QColor, QColor>()> colours;
    // The headings and emphasis the view shows, moved by each edit and brought back by
    // an undo (unset or null: the panel moves its own).
    std::function<std::shared_ptr<const BookMarkup>()> markup;
};

// Finding one's way in the reader: the side panel with its tool buttons «Содержание»
// (Ctrl+T) and «Закладка» (Ctrl+D), «Перейти» (Ctrl+G), the next and previous heading
// (Ctrl+PageDown, Ctrl+PageUp) and back and forward over the jumps made (Alt+Left,
// Alt+Right). The reader window creates one and tells it of each book opened and saved.
class ReaderNavigation : public QObject {
    Q_OBJECT
public:
    ReaderNavigation(QWidget* window, QToolBar* toolBar, NavigationPanel* panel,
                     ReaderPlaces places);

    QToolButton* contentsButton() const { return m_contentsButton; }
    QToolButton* bookmarkButton() const { return m_bookmarkButton; }

    // The panel's state is kept in the reading state's [Reader] section (may be null).
    void setReadingState(ReadingState* state);

    // A book was opened: `path` its file (its contents and bookmarks are kept beside a
    // book of the library, books/NAME.toc and NAME.bmk).
    void bookOpened(const QString& path, std::shared_ptr<const BookText> text);
    // The book was saved to `path`: headings, emphasis and bookmarks follow the change.
    // `settle` makes the reader's document one piece again (BookView::settle), called
    // once the panel has let go of the text before; `shown` is the view's markup, moved
    // by each edit (may be null).
    void bookSaved(const QString& path, const std::function<std::optional<BookText>()>& settle,
                   const BookMarkup* shown);
    // The view scrolled: the panel marks the chapter of the top line.
    void topChanged();
    // The text was edited: a moment after the last edit, the panel's headings follow
    // (those typed appear, those removed go), read on a worker thread.
    void textEdited();
    // How long after the last edit the headings are read again.
    static constexpr int kEditPause = 300; // ms

    // A jump from the present place to `offset`, noted for Alt+Left.
    void jumpTo(qsizetype offset);
    // A jump the reader makes itself (find, Ctrl+Home/End, a search hit): the place it
    // leaves is noted.
    void aboutToJump();

    void toggleContents();
    void addBookmark();
    void goTo();
    void nextHeading();
    void previousHeading();
    void back();
    void forward();
    bool panelShown() const;

protected:
    // Ctrl+Home and Ctrl+End in the text are jumps too; a click on a note reference
    // («[12]») or Enter on it shows the note, and its number leads back.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPanel(int tab);
    // Follows the note reference at a place; false when there is none.
    bool followReference(qsizetype offset);
    void rememberPanel();
    void followEditing();
    // The panel takes the view's colours when they changed.
    void followColours();

    QWidget* m_window;
    NavigationPanel* m_panel;
    ReaderPlaces m_places;
    QToolButton* m_contentsButton;
    QToolButton* m_bookmarkButton;
    ReadingState* m_reading = nullptr;
    JumpHistory m_history;
    BookmarkMargin* m_margin = nullptr;
    QString m_contentsPath; // books/NAME.toc of the book shown, or empty
    QTimer* m_editPause;
};
