#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;
class SearchIndex;
class SearchIndexer;
class WindowSettingsStore;

// «Поиск по тексту книг»: a query field, the books found (best first, each with its
// number of places and the best place's snippet; expanded, every place in text order)
// and a status line with the figures or the indexing's progress. Activating a place asks
// the owner to open the book there.
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

    // Searches the query field's text and lists the books found.
    void runSearch();

Q_SIGNALS:
    void openPlace(const QString& name, qint64 offset, int length);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fillPlaces(QTreeWidgetItem* book);
    void activate(QTreeWidgetItem* item);
    void indexingProgress(int done, int total);
    void indexingStopped(const QString& reason);
    void showFigures();

    std::unique_ptr<SearchIndex> m_index;
    SearchIndexer* m_indexer;
    QTimer m_typingPause;
    QString m_query;
    QString m_figures;
    QString m_progress;
    QString m_failure;
    bool m_indexing = false;
};
