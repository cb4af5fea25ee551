#include "ui/library/library_window.h"

#include "core/library/bulk_import.h"
#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "ui/controls/color_btn.h"
#include "ui/controls/gl_bevel.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/guard.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/about_dialog.h"
#include "ui/library/add_book_panel.h"
#include "ui/library/book_list_model.h"
#include "ui/library/bulk_import_window.h"
#include "ui/library/help_window.h"
#include "ui/library/library_look.h"
#include "ui/library/list_keys.h"
#include "ui/library/logo.h"
#include "ui/library/opening_click_guard.h"
#include "ui/reader/reader_window.h"
#include "ui/search/search_window.h"
#include "ui/settings/window_settings_store.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

using namespace LibraryLook;

namespace {

// The most bytes, and so characters, of a file name.
constexpr qsizetype kLongestFileName = 255;

// ListBox1 shows the book list model: it is filled anew on a reset and takes each row
// inserted or removed, so a selection survives the rows others add. An item holds what
// the row shows (the start of an overlong name); the row's name is the model's.
void showModel(BookListModel* model, QListWidget* list) {
    const auto fill = [model, list] {
        list->clear();
        QStringList shown;
        shown.reserve(model->rowCount());
        for (int row = 0; row < model->rowCount(); ++row)
            shown.append(model->displayName(row));
        list->addItems(shown);
    };
    QObject::connect(model, &QAbstractItemModel::modelReset, list, fill);
    QObject::connect(model, &QAbstractItemModel::rowsInserted, list,
                     [model, list](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             list->insertItem(row, model->displayName(row));
                     });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, list,
                     [list](const QModelIndex&, int first, int last) {
                         for (int row = last; row >= first; --row)
                             delete list->takeItem(row);
                     });
    fill();
}

// The menu bar takes the focus when Alt is pressed and let go alone, as in any desktop
// program, whatever the style's own habit.
class AltKeyMenuStyle : public QProxyStyle {
public:
    AltKeyMenuStyle() : QProxyStyle(QApplication::style()->name()) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

// ---- TForm1 -------------------------------------------------------------------------

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tomeria"));
    setFont(sansSerif(11, false));
    buildLayout();
    buildMenus();
    buildBulkImport();
    // A file dropped anywhere on the window becomes the book to add: no control takes
    // the drop for itself (the text fields would paste the file's path).
    for (QWidget* child : findChildren<QWidget*>())
        child->setAcceptDrops(false);
    setAcceptDrops(true);

    // The settings store attaches once the layout exists, before the creation handler.
    FormStorage1 =
        new WindowSettingsStore(this, QStringLiteral("TForm1"), {QStringLiteral("Panel4.Width")});
    FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
    FormStorage1->chainedCloseQuery = [this] { return FormCloseQuery(); };

    // Designed client size 765 x 508 below the menu, at the designed place; the window
    // is centred when it is first shown unless a stored rectangle replaces that.
    resize(765, 508 + menuBar()->sizeHint().height());
    move(20, 34);
    FormCreate();
}

TForm1::~TForm1() {
    // An import still running ends while the library is there: its rows are stored.
    delete m_bulkWindow;
    if (m_reader)
        m_reader->setReadingState(nullptr);
    if (!m_settingsWrittenAtEnd)
        FormStorage1->destroyHook();
    if (m_helpWindow)
        delete m_helpWindow;
}

void TForm1::writeSettingsAtEnd() {
    // A running import stops and stores its rows before the library is let go.
    delete m_bulkWindow;
    // Tried once: a failed write is reported here, not again by the destructor.
    m_settingsWrittenAtEnd = true;
    FormStorage1->destroyHook();
}

void TForm1::setReaderWindow(TMainForm* reader) {
    m_reader = reader;
    if (reader) {
        reader->setReadingState(&m_library.reading());
        // The reader's save changes the library; a deleted book leaves the reader.
        connect(reader, &TMainForm::bookSaved, &m_library, &Library::noteBookSaved);
        connect(&m_library, &Library::bookRemoved, reader,
                [reader](const QString&, const QString& path) { reader->bookDeleted(path); });
    }
}

SearchWindow* TForm1::searchWindow() const {
    return m_searchWindow;
}

void TForm1::startSearchIndexer() {
    if (m_folder.programFolder().isEmpty())
        return;
    m_indexer = new SearchIndexer(SearchIndex::locationFor(m_folder.programFolder()), this);
    SearchIndexer::Books books;
    for (int row = 0; row < Val.rowCount(); ++row) {
        // A name longer than a file name can be has no book file: neither it (of a line
        // of megabytes) nor its path is ever made.
        if (Val.nameLengthAt(row) > kLongestFileName)
            continue;
        const QString name = Val.NameAt(row);
        if (BookFolder::isValidBookName(name))
            books.append({name, m_folder.BookPath(name)});
    }
    // Without a readable catalogue the books are unknown: the index is left as it is.
    if (!m_library.catalogueUnreadable())
        m_indexer->follow(books);
    m_indexer->followLibrary(m_library);
}

TSpravka* TForm1::helpWindow() const {
    return m_helpWindow;
}

void TForm1::buildLayout() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("client"));
    paint(central, kWindowColour);
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    Panel1 = new QFrame(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(41);
    glBevel1 = new TglBevel(Panel1);
    glBevel1->setObjectName(QStringLiteral("glBevel1"));
    glBevel1->setBevelInner(bvNone);
    glBevel1->Gradient().setFromColor(clSilver);
    glBevel1->Gradient().setActive(true);
    glBevel1->Gradient().setOrientation(fgdHorizontal);
    glBevel1->afterLoad();
    auto* headerLayout = new QVBoxLayout(Panel1);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->addWidget(glBevel1);
    outer->addWidget(Panel1);

    auto* middle = new QWidget(central);
    auto* middleLayout = new QHBoxLayout(middle);
    middleLayout->setContentsMargins(0, 0, 0, 0);
    middleLayout->setSpacing(0);
    outer->addWidget(middle, 1);

    Panel4 = new DockPanel(middle);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setWidth(151);
    auto* listLayout = new QVBoxLayout(Panel4);
    listLayout->setContentsMargins(0, 0, 0, 0);
    ListBox1 = new QListWidget(Panel4);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setFrameShape(QFrame::NoFrame);
    ListBox1->setFont(sansSerif(13, true));
    ListBox1->setUniformItemSizes(true);
    ListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListBox1->setStyleSheet(
        QStringLiteral("QListWidget { background: black; color: yellow; }"
                       "QListWidget::item { height: 16px; padding: 0px; border: 0px; }"
                       "QListWidget::item:selected { background: #000080; color: yellow; }"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    m_books = new BookListModel(m_library, this);
    showModel(m_books, ListBox1);
    // No selection of the user's is made while the list follows the model.
    const auto programSelects = [this](bool on) { return [this, on] { m_programSelects = on; }; };
    connect(m_books, &QAbstractItemModel::modelAboutToBeReset, this, programSelects(true));
    connect(m_books, &QAbstractItemModel::rowsAboutToBeInserted, this, programSelects(true));
    connect(m_books, &QAbstractItemModel::rowsAboutToBeRemoved, this, programSelects(true));
    connect(m_books, &QAbstractItemModel::modelReset, this, programSelects(false));
    connect(m_books, &QAbstractItemModel::rowsInserted, this, programSelects(false));
    connect(m_books, &QAbstractItemModel::rowsRemoved, this, programSelects(false));
    listLayout->addWidget(ListBox1);
    middleLayout->addWidget(Panel4);

    Splitter1 = new SplitterBar(Panel4, middle);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    middleLayout->addWidget(Splitter1);

    Panel3 = new QFrame(middle);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    paint(Panel3, Qt::black);
    // The right side asks for no more than the least both sides keep, so a wide list
    // pane can never push the window wider than its screen.
    Panel3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Panel3->setMinimumWidth(DockPanel::kMinimumSide);
    middleLayout->addWidget(Panel3, 1);
    auto* rightLayout = new QVBoxLayout(Panel3);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);

    // The add-book panel, with its preview below the details.
    RichEdit1 = new RichTextEditor(Panel3);
    Panel2 = new AddBookPanel(m_library, RichEdit1, Panel3);
    Dfail = Panel2->Dfail;
    SpeedButton1 = Panel2->SpeedButton1;
    knigaimeno = Panel2->knigaimeno;
    zametki = Panel2->zametki;
    ColorBtn1 = Panel2->ColorBtn1;
    ColorBtn2 = Panel2->ColorBtn2;
    CodePageChoice = Panel2->CodePageChoice;
    rightLayout->addWidget(Panel2);
    buildDetails(Panel3);
    rightLayout->addWidget(Panel5);

    Image1 = new QLabel(Panel3);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap::fromImage(makeLogo()));
    Image1->setAlignment(Qt::AlignCenter);
    rightLayout->addWidget(Image1, 1);

    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setPlainTextMode(false);
    RichEdit1->setFrameShape(QFrame::NoFrame);
    RichEdit1->setFont(sansSerif(13, false));
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    paint(RichEdit1, Qt::white, Qt::black);
    RichEdit1->setAutoFillBackground(false);
    RichEdit1->hide();
    rightLayout->addWidget(RichEdit1, 1);

    // The status bar, with the search box in its first panel.
    StatusBar1 = new StatusPanels({{70, Qt::AlignHCenter, StatusPanels::Bevel::None},
                                   {90, Qt::AlignHCenter, StatusPanels::Bevel::Raised},
                                   {80, Qt::AlignHCenter, StatusPanels::Bevel::Raised},
                                   {100, Qt::AlignHCenter, StatusPanels::Bevel::Raised},
                                   {50, Qt::AlignLeft, StatusPanels::Bevel::Lowered}},
                                  19, central);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    paint(StatusBar1, kWindowColour);
    outer->addWidget(StatusBar1);
    pb = new QLineEdit(central);
    pb->setObjectName(QStringLiteral("pb"));
    pb->setFrame(false);
    paint(pb, kWindowColour, Qt::black);
    pb->hide();

    // Only a change of the selection made by the user runs the click handler: focus
    // moving into the list makes an item current without selecting it.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_programSelects && selectedRow() >= 0) {
            m_clickHandled = QApplication::mouseButtons() != Qt::NoButton;
            guard([this] { ListBox1Click(); });
        }
    });
    // A click on the item that is already selected (say, by the search box) changes no
    // selection but is a selection by the user all the same.
    connect(ListBox1, &QListWidget::itemPressed, this, [this] {
        if (!std::exchange(m_clickHandled, false) && selectedRow() >= 0)
            guard([this] { ListBox1Click(); });
    });
    connect(ListBox1, &QListWidget::itemDoubleClicked, this,
            guarded(this, &TForm1::ListBox1DblClick));
    m_openingClicks = new OpeningClickGuard(this);
    m_openingClicks->watchOpener(ListBox1->viewport());
    connect(pb, &QLineEdit::textChanged, this, guarded(this, &TForm1::pbChange));
    pb->installEventFilter(this);
    Panel2->installEventFilter(this);
    connect(SpeedButton1, &QPushButton::clicked, this, guarded(this, &TForm1::SpeedButton1Click));
    connect(ColorBtn1, &QPushButton::clicked, this, guarded(this, &TForm1::ColorBtn1Click));
    connect(ColorBtn2, &QPushButton::clicked, this, guarded(this, &TForm1::ColorBtn2Click));
}

void TForm1::buildDetails(QFrame* parent) {
    Panel5 = new QFrame(parent);
    Panel5->setObjectName(QStringLiteral("Panel5"));
    Panel5->setFixedHeight(165);
    paint(Panel5, Qt::black);
    caption(QStringLiteral("Книга"), Panel5, 10, 12);
    Edit1 = new QLineEdit(Panel5);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(80, 10, 500, 20);
    Edit1->setReadOnly(true);
    Edit1->setFrame(false);
    QFont upper = sansSerif(12, true);
    upper.setCapitalization(QFont::AllUppercase);
    Edit1->setFont(upper);
    paint(Edit1, Qt::black, Qt::white);
    caption(QStringLiteral("Размер"), Panel5, 10, 40);
    Label7 = new QLabel(Panel5);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->setGeometry(80, 40, 300, 16);
    Label7->setFont(sansSerif(12, true));
    paint(Label7, Qt::black, Qt::white);
    caption(QStringLiteral("Заметки"), Panel5, 10, 68);
    Memo1 = new QPlainTextEdit(Panel5);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(80, 66, 500, 92);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setFont(sansSerif(12, true));
    paint(Memo1, Qt::black, Qt::white);
}

void TForm1::buildMenus() {
    menuBar()->setFont(sansSerif(12, false));
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл "));
    file->setObjectName(QStringLiteral("N1"));
    N9 = file->addAction(QStringLiteral("Добавить книгу"));
    N9->setObjectName(QStringLiteral("N9"));
    N8 = file->addAction(QStringLiteral("Удалить книгу"));
    N8->setObjectName(QStringLiteral("N8"));
    TextSearchItem = file->addAction(QStringLiteral("Поиск по тексту книг…"));
    TextSearchItem->setObjectName(QStringLiteral("TextSearchItem"));
    TextSearchItem->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    TextSearchItem->setShortcutContext(Qt::WindowShortcut);
    file->addSeparator();
    N2 = file->addAction(QStringLiteral("Выход из программы"));
    N2->setObjectName(QStringLiteral("N2"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("Справка"));
    help->setObjectName(QStringLiteral("N11"));
    N22 = help->addAction(QStringLiteral("Справка"));
    N22->setObjectName(QStringLiteral("N22"));
    N22->setShortcut(QKeySequence(Qt::Key_F1));
    N22->setShortcutContext(Qt::WindowShortcut);
    help->addSeparator();
    N12 = help->addAction(QStringLiteral("About ..."));
    N12->setObjectName(QStringLiteral("N12"));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* popupAdd = PopupMenu1->addAction(QStringLiteral("Добавить книгу"));
    popupAdd->setObjectName(QStringLiteral("N4"));
    QAction* popupDelete = PopupMenu1->addAction(QStringLiteral("Удалить книгу"));
    popupDelete->setObjectName(QStringLiteral("N5"));
    connect(ListBox1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(pos));
        // Opened on its first item, so Enter chooses it.
        PopupMenu1->setActiveAction(PopupMenu1->actions().value(0));
    });
    // F10 opens the main menu; Alt alone gives it the focus.
    auto* altKeyStyle = new AltKeyMenuStyle;
    altKeyStyle->setParent(this); // deleted after the menu bar, created before it
    menuBar()->setStyle(altKeyStyle);
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this, file] {
        menuBar()->setActiveAction(file->menuAction());
        file->setActiveAction(file->actions().value(0));
    });

    connect(N9, &QAction::triggered, this, guarded(this, &TForm1::N9Click));
    connect(popupAdd, &QAction::triggered, this, guarded(this, &TForm1::N9Click));
    connect(N8, &QAction::triggered, this, guarded(this, &TForm1::N8Click));
    connect(TextSearchItem, &QAction::triggered, this, guarded(this, &TForm1::TextSearchItemClick));
    connect(popupDelete, &QAction::triggered, this, guarded(this, &TForm1::N8Click));
    connect(N2, &QAction::triggered, this, guarded(this, &TForm1::N2Click));
    connect(N22, &QAction::triggered, this, guarded(this, &TForm1::N22Click));
    connect(N12, &QAction::triggered, this, guarded(this, &TForm1::N12Click));
}

void TForm1::FormCreate() {
    // 1. The search box goes into the first status panel.
    pb->setParent(StatusBar1);
    pb->setGeometry(1, 1, 69, StatusBar1->height() - 1);
    pb->show();

    // 2. The library folder.
    if (!m_folder.ReadProgramFolder())
        Dialogs::instance().message(
            this, QStringLiteral("Ошибка в приложении. Попробуйте новый запуск программы"));

    // 3. The settings file; it is read at the first show.
    FormStorage1->IniFileName = m_folder.settingsPath();

    // 4, 5. Folder size and today's date.
    m_folder.Razmer();
    StatusBar1->setPanelText(2, QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));

    // 6. The catalogue.
    QString error;
    switch (m_library.load(&error)) {
    case Library::LoadResult::Loaded:
        Obnov();
        break;
    case Library::LoadResult::Unreadable:
        // An unreadable catalogue is reported and never replaced by an empty one.
        showError(error);
        break;
    case Library::LoadResult::Missing:
        Dialogs::instance().beep();
        Dialogs::instance().message(
            this, QStringLiteral("База книг не обнаружена. Будет создана новая база."));
        guard([this] { m_library.saveCatalogue(); });
        break;
    }

    // 7. The search index follows the library in the background.
    startSearchIndexer();
}

void TForm1::showEvent(QShowEvent* event) {
    if (FormStorage1->centreOnShow()) {
        FormStorage1->setCentreOnShow(false);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            const QSize size = frameGeometry().size();
            move(available.center() - QPoint(size.width() / 2, size.height() / 2));
        }
    }
    QMainWindow::showEvent(event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Panel4->fitToWindow();
}

void TForm1::Obnov() {
    m_folder.Razmer();
    m_programSelects = true;
    m_books->reload();
    ListBox1->setCurrentRow(-1);
    ListBox1->clearSelection();
    m_programSelects = false;
}

void TForm1::setListSelection(int row) {
    m_programSelects = true;
    ListBox1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    if (QListWidgetItem* item = ListBox1->item(row))
        ListBox1->scrollToItem(item);
    m_programSelects = false;
}

int TForm1::selectedRow() const {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    return selected.isEmpty() ? -1 : ListBox1->row(selected.first());
}

void TForm1::ListBox1Click() {
    const int n = selectedRow();
    if (!ListBox1->item(n))
        return;
    const QString name = m_books->nameAt(n);
    Val.SelectRow(m_library.rowOfItem(name).row);
    Edit1->setText(BookListModel::shownStart(name));
    Edit1->setCursorPosition(0); // a name too long for the field shows its start
    // The note of the item's own row: a row repeating the name in another letter case
    // keeps its note to itself.
    const int row = Val.CurrentRow();
    Memo1->setPlainText(row < Val.rowCount() ? Catalogue::LineNote(Val.lineAt(row)) : QString());
    StatusBar1->setPanelText(1, QStringLiteral("%1 / %2").arg(n + 1).arg(ListBox1->count()));
    const QString path = m_folder.BookPath(name);
    StatusBar1->setPanelText(4, BookListModel::shownStart(path));
    const qint64 size = m_folder.BookFileSizeKb(path);
    StatusBar1->setPanelText(3, QString::number(size) + QLatin1Char('/') + m_folder.TotalSizeKb());
    Label7->setText(QString::number(size) + QStringLiteral(" Кб"));
}

void TForm1::ListBox1DblClick() {
    const int row = selectedRow();
    if (!ListBox1->item(row))
        return;
    openSearchPlace(m_books->nameAt(row), -1, 0);
}

void TForm1::pbChange() {
    const int row = m_books->firstStartingWith(pb->text());
    if (row >= 0)
        setListSelection(row);
}

void TForm1::pbClick() {
    pb->clear();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pb && event->type() == QEvent::MouseButtonPress)
        guard([this] { pbClick(); });
    // While the add-book panel shows, the list leaves room for all its controls.
    if (watched == Panel2 && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        Panel4->setRoomBeside(event->type() == QEvent::Show ? Panel2->childrenRect().right() + 10
                                                            : 0);
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::N9Click() {
    ListBox1->setEnabled(false);
    Image1->hide();
    Panel2->start();
    Panel5->hide();
    Panel2->show();
    knigaimeno->setFocus(Qt::OtherFocusReason);
}

void TForm1::SpeedButton1Click() {
    Panel2->browse();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() &&
        std::all_of(urls.cbegin(), urls.cend(), [](const QUrl& url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (dropStartsBulkImport(urls)) {
        event->acceptProposedAction();
        return;
    }
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    event->acceptProposedAction();
    const QString path = urls.front().toLocalFile();
    // As the browse button: the add-book panel opens (if it is not open yet) and the
    // dropped file is chosen.
    guard([this, path] {
        if (!Panel2->isVisible())
            N9Click();
        Panel2->previewFile(path);
    });
}

void TForm1::ColorBtn1Click() {
    if (!Panel2->store())
        return;
    const QString name = knigaimeno->text();
    Obnov();
    ListBox1->setEnabled(true);
    Panel2->hide();
    Panel5->show();
    RichEdit1->hide();
    Image1->show();
    // The keyboard goes on in the list, at the new book; nothing is selected, so the
    // details still describe the book selected before.
    const int row = int(m_books->names().indexOf(name));
    if (row >= 0) {
        m_programSelects = true;
        ListBox1->selectionModel()->setCurrentIndex(ListBox1->model()->index(row, 0),
                                                    QItemSelectionModel::NoUpdate);
        ListBox1->scrollToItem(ListBox1->item(row));
        m_programSelects = false;
    }
    ListBox1->setFocus(Qt::OtherFocusReason);
}

void TForm1::ColorBtn2Click() {
    Panel2->finish();
    Image1->show();
    Panel2->hide();
    Panel5->show();
    ListBox1->setEnabled(true);
}

void TForm1::N8Click() {
    const int row = selectedRow();
    if (!ListBox1->item(row))
        return;
    const QString name = m_books->nameAt(row);
    Dialogs::instance().beep();
    if (!Dialogs::instance().confirm(this,
                                     QStringLiteral("Книга будет полностью удалена! Продолжить?")))
        return;
    // The row removed is the selected book's own row, also when the search box made
    // the selection.
    m_library.deleteBook(name);
    Obnov();
}

void TForm1::TextSearchItemClick() {
    if (!m_indexer)
        return;
    if (!m_searchWindow) {
        m_searchWindow = new SearchWindow(SearchIndex::locationFor(m_folder.programFolder()),
                                          m_indexer, m_folder.settingsPath(), this);
        connect(m_searchWindow, &SearchWindow::openPlace, this,
                [this](const QString& name, qint64 offset, int length) {
                    guard([&] { openSearchPlace(name, offset, length); });
                });
        m_openingClicks->watchOpener(m_searchWindow->Results->viewport());
    }
    m_searchWindow->show();
    m_searchWindow->raise();
    m_searchWindow->activateWindow();
    m_searchWindow->QueryEdit->setFocus(Qt::OtherFocusReason);
}

void TForm1::openSearchPlace(const QString& name, qint64 offset, int length) {
    const QString path = m_library.openPath(name);
    if (path.isEmpty()) {
        Dialogs::instance().beep();
        Dialogs::instance().message(
            this,
            QStringLiteral("Файл книги не найден. Возможно, он был удален или переименован."));
        return;
    }
    if (!m_reader)
        return;
    if (offset < 0)
        m_reader->openBook(path);
    else
        m_reader->openBookAt(path, offset, length);
    // The clicks that opened the book stay off the reader now shown under the pointer.
    m_openingClicks->guard(m_reader->windowHandle());
}

void TForm1::N2Click() {
    close();
}

void TForm1::N22Click() {
    setEnabled(false);
    auto* help = new TSpravka;
    help->setAttribute(Qt::WA_DeleteOnClose, false);
    // The help window belongs to the library window: the window manager keeps it above
    // the disabled library window, also when that one is clicked.
    help->winId();
    help->windowHandle()->setTransientParent(windowHandle());
    m_helpWindow = help;
    connect(help, &TSpravka::closing, this, [this, help] {
        setEnabled(true);
        help->deleteLater();
        m_helpWindow = nullptr;
    });
    help->show();
}

void TForm1::N12Click() {
    AboutDialog about(this);
    about.exec();
}

bool TForm1::FormCloseQuery() {
    // Edits the reader holds are saved or dropped first; «Отмена» keeps them and the
    // program.
    if (m_reader && !m_reader->settleUnsavedEdits())
        return false;
    return Dialogs::instance().confirm(this, QStringLiteral("Выйти из программы Tomeria?"));
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FormStorage1->closeQueryHook()) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_reader)
        m_reader->hide();
    if (m_helpWindow)
        m_helpWindow->close();
    // A running import stops and stores its rows now: its window would refuse to close
    // and keep the program running.
    delete m_bulkWindow;
    QApplication::quit();
}

// ---- Adding a folder of books; the list's keys and tooltips ---------------------------

void TForm1::buildBulkImport() {
    BulkAddItem = new QAction(QStringLiteral("Добавить книги из папки…"), this);
    BulkAddItem->setObjectName(QStringLiteral("BulkAddItem"));
    if (auto* file = menuBar()->findChild<QMenu*>(QStringLiteral("N1")))
        file->insertAction(N8, BulkAddItem);
    auto* popupBulkAdd = new QAction(QStringLiteral("Добавить книги из папки…"), this);
    popupBulkAdd->setObjectName(QStringLiteral("PopupBulkAddItem"));
    PopupMenu1->insertAction(PopupMenu1->findChild<QAction*>(QStringLiteral("N5")), popupBulkAdd);
    connect(BulkAddItem, &QAction::triggered, this, guarded(this, &TForm1::BulkAddItemClick));
    connect(popupBulkAdd, &QAction::triggered, this, guarded(this, &TForm1::BulkAddItemClick));

    new ListKeys(
        ListBox1, [this] { ListBox1DblClick(); }, [this] { N8Click(); });

    // Books an import had written when the program was killed, never put in place.
    QTimer::singleShot(0, this, [this] { BulkImport::removeLeftovers(m_library); });
}

BulkImportWindow* TForm1::bulkImportWindow() const {
    return m_bulkWindow;
}

void TForm1::BulkAddItemClick() {
    const QString folder = Dialogs::instance().chooseFolder(this);
    if (!folder.isEmpty())
        startBulkImport({folder});
}

bool TForm1::dropStartsBulkImport(const QList<QUrl>& urls) {
    if (urls.isEmpty() ||
        !std::all_of(urls.cbegin(), urls.cend(), [](const QUrl& url) { return url.isLocalFile(); }))
        return false;
    if (urls.size() == 1 && !QFileInfo(urls.front().toLocalFile()).isDir())
        return false; // one file: the add-book panel
    QStringList paths;
    for (const QUrl& url : urls)
        paths.append(url.toLocalFile());
    guard([this, paths] { startBulkImport(paths); });
    return true;
}

void TForm1::startBulkImport(const QStringList& paths) {
    if (m_bulkWindow) {
        if (!m_bulkWindow->import()->isFinished()) {
            m_bulkWindow->show();
            m_bulkWindow->raise();
            m_bulkWindow->activateWindow();
            return;
        }
        delete m_bulkWindow;
    }
    auto* window = new BulkImportWindow(m_library, paths, this);
    connect(window->import(), &BulkImport::booksAdded, &m_library, &Library::noteBooksAdded);
    connect(window->import(), &BulkImport::booksAdded, this, &TForm1::showListPlace);
    connect(window->import(), &BulkImport::booksRemoved, &m_library, &Library::noteBooksRemoved);
    connect(window->import(), &BulkImport::booksRemoved, this, &TForm1::Obnov);
    connect(window->import(), &BulkImport::finished, this, [this] { m_folder.Razmer(); });
    try {
        window->start();
    } catch (...) {
        delete window;
        throw;
    }
    m_bulkWindow = window;
    window->show();
}

void TForm1::showListPlace() {
    if (const int current = ListBox1->currentRow();
        current >= 0 && !StatusBar1->panelText(1).isEmpty())
        StatusBar1->setPanelText(1,
                                 QStringLiteral("%1 / %2").arg(current + 1).arg(ListBox1->count()));
}
