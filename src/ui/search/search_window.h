#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;
class SearchIndexer;
class SearchRunner;
struct SearchPlaces;
struct SearchResult;
class WindowSettingsStore;

// «Поиск по тексту книг»: a query field, the books found (best first, each with its
// number of places and the best place's snippet; expanded, its places in text order, the
// first few thousand) and a status line with the figures, the indexing's progress and
// what went wrong with the index. Searches run in a worker thread; a new query gives up
// the one before. Activating a place asks the owner to open the book there. With no
// place stored, the window first opens beside its owner (right, else left), or centred
// on the screen when neither side has room; Esc closes it.
class SearchWindow : public QWidget {
    Q_OBJECT
public:
    SearchWindow(const QString& indexLocation, SearchIndexer* indexer, const QString& iniFile,
                 QWidget* owner);
    ~SearchWindow() override;

    QLineEdit* QueryEdit;
    QTreeWidget* Results;
    QLabel* StatusLine;
    QProgressBar* Progress;
    WindowSettingsStore* FormStorage;

    // Searches the query field's text; the books found are listed when the answer comes.
    void runSearch();
    // Whether a search or a listing of places is under way.
    bool searching() const;

Q_SIGNALS:
    void openPlace(const QString& name, qint64 offset, int length);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void placeBesideOwner();
    void showResult(int request, const SearchResult& result);
    void fillPlaces(QTreeWidgetItem* book);
    void showPlaces(int request, const QString& name, const SearchPlaces& places);
    void activate(QTreeWidgetItem* item);
    void openItem(QTreeWidgetItem* item);
    void indexDamaged();
    void indexingProgress(int done, int total);
    void indexingStopped(const QString& reason);
    void showFigures();

    SearchRunner* m_runner;
    SearchIndexer* m_indexer;
    QTimer m_typingPause;
    QElapsedTimer m_searchTime;
    QString m_query;
    int m_request = 0;                            // the search whose answer is awaited
    QHash<int, QString> m_pendingPlaces;          // listings awaited: request, book
    QHash<QString, QTreeWidgetItem*> m_bookItems; // the books' rows by name
    QString m_openFirst;                          // a book to open at its first place
    QString m_figures;
    QString m_progress;
    QString m_failure;
    bool m_indexing = false;
    bool m_rebuilt = false;
    bool m_repairAsked = false;
};
