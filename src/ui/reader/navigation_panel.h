#pragma once

#include "core/book/book_markup.h"
#include "core/book/headings.h"
#include "core/library/bookmarks.h"

#include <QPalette>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class BookText;
class QColor;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

// The reader's side panel: «Содержание», the book's headings as a tree (parts above
// chapters) each with where it is, the chapter holding the top line marked; and
// «Закладки», the book's bookmarks in book order. The headings are those the book's
// import kept (books/NAME.toc), else those found in its text on a worker thread.
class NavigationPanel : public QWidget {
    Q_OBJECT
public:
    explicit NavigationPanel(QWidget* parent = nullptr);
    ~NavigationPanel() override;

    // The book shown, and its files in the library folder (empty paths: a book outside
    // the library, nothing kept). Without a text (the editor holds the book), the file
    // at `path` is read on the worker thread.
    void setBook(std::shared_ptr<const BookText> text, const QString& contentsPath,
                 const QString& bookmarksPath, const QString& path = QString());
    // The text as last read or saved: the bookmarks' places are in it (null while it is
    // being read).
    std::shared_ptr<const BookText> text() const { return m_text; }
    // Whether edits were made since text() was read or saved (as far as the worker has
    // read them), and the length of the text as edited.
    bool hasEdits() const { return m_editedLength >= 0; }
    qsizetype editedLength() const;
    // The characters [from, to) of the text as being edited (the reader gives its
    // document's); unset, text()'s.
    void setEditedTextSource(std::function<QString(qsizetype, qsizetype)> source) {
        m_editedSource = std::move(source);
    }
    // The headings, once known (empty while they are being found), in the edited text.
    const std::vector<Heading>& headings() const { return m_headings; }
    bool headingsKnown() const { return m_headingsKnown; }
    // The first heading after `offset`, and the last one before it.
    qsizetype nextHeading(qsizetype offset) const;
    qsizetype previousHeading(qsizetype offset) const;

    // The top line of the view: the chapter holding it is marked.
    void setTopOffset(qsizetype offset);

    // Marks a place of the edited text; the bookmark is named after its chapter and first
    // words.
    void addBookmark(qsizetype offset);
    // The bookmarks, their places in text().
    const Bookmarks& bookmarks() const { return m_bookmarks; }
    // A place of text() in the edited text, and back.
    qsizetype editedPlace(qsizetype place) const { return m_edit.moved(place); }
    qsizetype savedPlace(qsizetype place) const;

    // The text as being edited, read on a worker thread by `read`: a plain text's
    // headings found in it anew, and the one change that makes it of text(). The text is
    // made, read and let go there; the panel keeps no copy of it. A newer text given
    // while one is being read replaces it; the panel shows the old headings meanwhile.
    void followEditing(std::function<BookText()> read);
    // The edits made, in order: the headings the import kept move with them at once
    // (one whose first character is taken away goes); a plain text's wait for the
    // next reading.
    // `shown`, when given, is where the view has them after the edits (an undo brings
    // back one taken away): the kept headings are those.
    void followChanges(const std::vector<TextChange>& changes,
                       const std::vector<Heading>* shown = nullptr);
    // Whether edited headings are being found.
    bool followingEditing() const { return m_rescan != nullptr || m_pendingRead != nullptr; }

    // Before the reader's document settles after a save: the workers stop and text()
    // is let go, so that the document alone holds its memory. Returns its stamp.
    BookStamp letTextGo();
    // The book's text was saved changed: headings and bookmarks follow the edit.
    void followEdit(const TextChange& change, std::shared_ptr<const BookText> text);

    // The reading view's colours: the lists and tabs take them, legibly.
    void setColours(const QColor& text, const QColor& background);
    // The palette of the panel on a view of these colours: the view's background for the
    // lists, its text colour (or black or white, whichever reads, when it is too close
    // to the background) for the words, the selection in the text colour.
    static QPalette paletteFor(const QColor& text, const QColor& background);

    void showContents();
    void showBookmarks();
    // 0 «Содержание», 1 «Закладки».
    int currentTab() const;
    // The list of the tab shown, for the focus.
    QWidget* currentList() const;

    // The rows of the contents as shown: «  Глава I    12 %», indented by depth.
    QStringList contentsRows() const;
    // The bookmarks' rows as shown.
    QStringList bookmarkRows() const;
    // The note about lost bookmarks, empty when there is none.
    QString note() const;

    static QString notFoundText();

Q_SIGNALS:
    // A heading, a percentage or a bookmark was chosen: show this place at the top.
    void jumpRequested(qsizetype offset);
    // Esc: the focus goes back to the text.
    void escaped();
    // The user chose the other tab.
    void tabChanged();
    // Bookmarks were added, removed or moved.
    void bookmarksChanged();
    // The book's headings (kept or found) and its kept emphasis are known, for the view.
    void markupFound(std::shared_ptr<const BookMarkup> markup);
    // The headings of a plain text found anew after edits added or took some away.
    void headingsFound(const std::vector<Heading>& headings);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fitPercentColumn();
    void startDetection();
    void detectionDone();
    void fillContents();
    void fillBookmarks();
    void saveBookmarks();
    void stopDetection();
    void startRescan();
    void rescanDone();
    void stopRescan();
    // Shows new headings: in place when only their places moved.
    void showHeadings(std::vector<Heading> headings);
    void activateContents(QTreeWidgetItem* item);
    void activateBookmark(QListWidgetItem* item);
    QString percentOf(qsizetype offset) const;

    QTabWidget* m_tabs;
    QTreeWidget* m_contents;
    QListWidget* m_bookmarkList;
    QLabel* m_note;
    std::shared_ptr<const BookText> m_text;
    QString m_contentsPath;
    QString m_bookmarksPath;
    std::vector<Heading> m_headings;
    bool m_headingsKnown = false;
    std::vector<QTreeWidgetItem*> m_items; // per heading
    int m_marked = -1;
    qsizetype m_top = 0;
    Bookmarks m_bookmarks;
    QThread* m_worker = nullptr;
    std::atomic<bool> m_stop{false};
    // The worker's results: the headings, the bookmarks kept (found again when the book
    // changed outside), how many were lost, the book's stamp.
    std::vector<Heading> m_found;
    std::vector<Emphasis> m_foundEmphasis;
    bool m_contentsRefilled = false;        // the last headings shown changed the rows
    std::shared_ptr<const BookText> m_read; // the file read by the worker
    QString m_path;
    Bookmarks m_loaded;
    int m_dropped = 0;
    BookStamp m_stamp;
    bool m_kept = false; // the headings are those the import kept
    bool m_foundKept = false;
    // Edits since the text was read or saved: the edited text's length (-1: none), and
    // the one change that makes it of text().
    qsizetype m_editedLength = -1;
    TextChange m_edit;
    std::function<QString(qsizetype, qsizetype)> m_editedSource;
    std::vector<TextChange> m_earlyChanges; // made before the headings were known
    // The worker reading the edited text, its stop flag, the next text to read, and its
    // results.
    QThread* m_rescan = nullptr;
    std::atomic<bool> m_rescanStop{false};
    std::shared_ptr<std::function<BookText()>> m_pendingRead;
    qsizetype m_rescannedLength = -1;
    std::vector<Heading> m_rescannedHeadings;
    TextChange m_rescannedEdit;
    bool m_rescanComplete = false;
    QRgb m_colours[2] = {0, 0};
    bool m_stampKnown = false;
    bool m_bookmarksChanged = false; // before the stamp was known
    bool m_filling = false;
};
