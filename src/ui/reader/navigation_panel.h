#pragma once

#include "core/book/book_markup.h"
#include "core/book/headings.h"
#include "core/library/bookmarks.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class BookText;
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
    // The text the panel's places are in (null while it is being read).
    std::shared_ptr<const BookText> text() const { return m_text; }
    // The headings, once known (empty while they are being found).
    const std::vector<Heading>& headings() const { return m_headings; }
    bool headingsKnown() const { return m_headingsKnown; }
    // The first heading after `offset`, and the last one before it.
    qsizetype nextHeading(qsizetype offset) const;
    qsizetype previousHeading(qsizetype offset) const;

    // The top line of the view: the chapter holding it is marked.
    void setTopOffset(qsizetype offset);

    // Marks a place; the bookmark is named after its chapter and first words.
    void addBookmark(qsizetype offset);
    const Bookmarks& bookmarks() const { return m_bookmarks; }

    // The book's text was saved changed: headings and bookmarks follow the edit.
    void followEdit(const TextChange& change, std::shared_ptr<const BookText> text);

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startDetection();
    void detectionDone();
    void fillContents();
    void fillBookmarks();
    void saveBookmarks();
    void stopDetection();
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
    std::shared_ptr<const BookText> m_read; // the file read by the worker
    QString m_path;
    Bookmarks m_loaded;
    int m_dropped = 0;
    BookStamp m_stamp;
    bool m_stampKnown = false;
    bool m_bookmarksChanged = false; // before the stamp was known
    bool m_filling = false;
};
