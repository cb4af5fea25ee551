#pragma once

#include "core/library/bulk_import.h"

#include <QDialog>
#include <QStringList>

class Library;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// «Добавление книг»: the progress of adding a folder of books, and the report when it
// ends. Modeless; the library window stays usable. The import belongs to the window.
class BulkImportWindow : public QDialog {
    Q_OBJECT
public:
    BulkImportWindow(Library& library, const QStringList& paths, QWidget* parent);
    ~BulkImportWindow() override;

    // Starts the import; throws TomeriaError when nothing can be added.
    void start();
    BulkImport* import() const { return m_import; }

    QProgressBar* progressBar;
    QLabel* countsLabel;
    QLabel* currentLabel;
    QPlainTextEdit* reportText;
    QPushButton* stopButton;
    QPushButton* closeButton;

    // «Добавлено: N, повторов: D, не книг: R».
    // «Добавлено: N, повторов: N, не книг: N», and «, ошибок чтения: N» when there are any.
    static QString countsText(const BulkImport::Counts& counts);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void showProgress();
    void showReport();

    BulkImport* m_import;
};
