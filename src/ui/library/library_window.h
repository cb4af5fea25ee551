#pragma once

#include "core/library/library.h"
#include "ui/library/add_book_panel.h"
#include "ui/library/dock_panel.h"

#include <QFrame>
#include <QMainWindow>
#include <QPointer>

class BookListModel;
class BulkImportWindow;
class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class OpeningClickGuard;
class RichTextEditor;
class SearchIndexer;
class SearchWindow;
class StatusPanels;
class TColorBtn;
class TMainForm;
class TSpravka;
class TglBevel;
class WindowSettingsStore;

// The library window, the program's main window: the book list, the details of the
// selected book, the add-book panel and the menus. Closing it ends the program.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    void setReaderWindow(TMainForm* reader);
    // The program ends: the window settings are written now unless the confirmed exit
    // wrote them (as the window's destruction would), so nothing of the library folder
    // is written after this.
    void writeSettingsAtEnd();
    Library& library() { return m_library; }
    Catalogue& catalogue() { return Val; }
    const BookFolder& folder() const { return m_folder; }
    TSpravka* helpWindow() const;

    QFrame* Panel1;
    TglBevel* glBevel1;
    StatusPanels* StatusBar1;
    DockPanel* Panel4;
    SplitterBar* Splitter1;
    QFrame* Panel3;
    QListWidget* ListBox1; // shows listModel()
    AddBookPanel* Panel2;
    QFrame* Panel5;
    QLabel* Image1;
    RichTextEditor* RichEdit1;
    QLineEdit* pb;
    WindowSettingsStore* FormStorage1;
    QLineEdit* Edit1;
    QLabel* Label7;
    QPlainTextEdit* Memo1;
    // The add-book panel's controls.
    QLineEdit* Dfail;
    QPushButton* SpeedButton1;
    QLineEdit* knigaimeno;
    QLineEdit* zametki;
    TColorBtn* ColorBtn1;
    TColorBtn* ColorBtn2;
    QPushButton* CodePageChoice; // «Кодировка» of a previewed plain text
    QMenu* PopupMenu1;
    QAction* N9;             // add a book
    QAction* N8;             // delete the selected book
    QAction* TextSearchItem; // search inside every book
    QAction* N2;             // exit
    QAction* N22;            // help
    QAction* N12;            // about
    QAction* BulkAddItem;    // add every book of a folder

    // Obnov: rebuild the book list from the catalogue.
    void Obnov();
    void ListBox1Click();
    void ListBox1DblClick();
    void pbChange();
    void pbClick();
    void N9Click();
    void SpeedButton1Click();
    void ColorBtn1Click();
    void ColorBtn2Click();
    void N8Click();
    // Opens (or brings up) the window searching inside every book.
    void TextSearchItemClick();
    // Opens a book in the reader at a place the search found (a negative offset: at its
    // start, as a double-click in the list does).
    void openSearchPlace(const QString& name, qint64 offset, int length);
    SearchIndexer* searchIndexer() const { return m_indexer; }
    // The book list ListBox1 shows.
    BookListModel* listModel() const { return m_books; }
    SearchWindow* searchWindow() const;
    // Adds every book of a folder chosen in the folder dialog.
    void BulkAddItemClick();
    // Adds the books of these files and folders in the background, in the window
    // «Добавление книг» (brought up instead while an import runs).
    void startBulkImport(const QStringList& paths);
    BulkImportWindow* bulkImportWindow() const;
    void N2Click();
    void N22Click();
    void N12Click();
    bool FormCloseQuery();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool m_settingsWrittenAtEnd = false;
    void buildLayout();
    void buildDetails(QFrame* parent);
    void buildMenus();
    void FormCreate();
    void setListSelection(int row);
    void startSearchIndexer();
    // Row of the selected list item, -1 when none is selected.
    int selectedRow() const;
    // The folder import's menu items; Enter, Delete and the tooltips of the list.
    void buildBulkImport();
    // The list has grown or shrunk: the selected book's place and the count follow.
    void showListPlace();
    // A drop of several files or of a folder: added in the background.
    bool dropStartsBulkImport(const QList<QUrl>& urls);

    Library m_library;
    Catalogue& Val = m_library.catalogue();
    BookFolder& m_folder = m_library.folder();
    QPointer<TMainForm> m_reader;
    QPointer<TSpravka> m_helpWindow;
    SearchIndexer* m_indexer = nullptr;
    QPointer<SearchWindow> m_searchWindow;
    OpeningClickGuard* m_openingClicks = nullptr;
    BookListModel* m_books = nullptr;
    QPointer<BulkImportWindow> m_bulkWindow;
    bool m_programSelects = false;
    bool m_clickHandled = false; // the press being handled already ran ListBox1Click
};
