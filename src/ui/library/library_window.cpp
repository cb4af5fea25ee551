#include "ui/library/library_window.h"

#include "core/base/cp1251.h"
#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "core/formats/book_import.h"
#include "core/library/book_preparation.h"
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
#include "ui/library/bulk_import_window.h"
#include "ui/library/help_window.h"
#include "ui/library/logo.h"
#include "ui/library/opening_click_guard.h"
#include "ui/reader/reader_window.h"
#include "ui/search/search_window.h"
#include "ui/settings/window_settings_store.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCollator>
#include <QDate>
#include <QDir>
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
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>

namespace {

const QColor kWindowColour(240, 202, 166);
const QColor kAqua(0, 255, 255);

QFont sansSerif(int pixelSize, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void paint(QWidget* widget, const QColor& background, const QColor& text = QColor()) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Base, background);
    if (text.isValid()) {
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Text, text);
    }
    widget->setPalette(palette);
}

QLabel* caption(const QString& text, QWidget* parent, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setFont(sansSerif(11, true));
    paint(label, Qt::transparent, kAqua);
    label->setAutoFillBackground(false);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit* field(const QString& name, QWidget* parent, const QRect& geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    edit->setFont(sansSerif(11, true));
    // A standard edit: black text on white, not the panel's colours.
    paint(edit, Qt::white, Qt::black);
    return edit;
}

// A one-line field keeps one line: text put in with a line break (a paste, a
// proposed name) is cut at that break, the text around the insertion kept.
void keepOneLine(QLineEdit* edit) {
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& text) {
        if (Library::firstLine(text) == text)
            return;
        const QString before = edit->property("oneLineText").toString();
        qsizetype head = 0;
        while (head < before.size() && head < text.size() && before[head] == text[head])
            ++head;
        qsizetype tail = 0;
        while (tail < before.size() - head && tail < text.size() - head &&
               before[before.size() - 1 - tail] == text[text.size() - 1 - tail])
            ++tail;
        const QString inserted = Library::firstLine(text.mid(head, text.size() - head - tail));
        const bool modified = edit->isModified();
        edit->setText(text.left(head) + inserted + text.right(tail));
        edit->setModified(modified);
        edit->setCursorPosition(int(head + inserted.size()));
    });
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& text) {
        if (Library::firstLine(text) == text)
            edit->setProperty("oneLineText", text);
    });
}

// The code pages a plain text can be read in by hand: the menu's text, the button's.
struct CodePageEntry {
    const char16_t* name;
    const char16_t* shortName;
    std::optional<ImportedText::CodePage> codePage; // none: detected
};
const CodePageEntry kCodePages[] = {
    {u"Автоматически", u"авто", std::nullopt},
    {u"Windows-1251", u"1251", ImportedText::CodePage::Cp1251},
    {u"KOI8-R", u"KOI8-R", ImportedText::CodePage::Koi8R},
    {u"DOS (866)", u"866", ImportedText::CodePage::Cp866},
    {u"ISO-8859-5", u"8859-5", ImportedText::CodePage::Iso88595},
    {u"Mac", u"Mac", ImportedText::CodePage::MacCyrillic},
    {u"UTF-8", u"UTF-8", ImportedText::CodePage::Utf8},
    {u"UTF-16", u"UTF-16", ImportedText::CodePage::Utf16LE}, // in the file's byte order
};

QString codePageCaption(const CodePageEntry& entry) {
    return QStringLiteral("Кодировка: ") + QString::fromUtf16(entry.shortName);
}

// The characters of the text that code page 1251 lacks, for the question before the
// book is stored: the first few, apart.
} // namespace

// ---- DockPanel and SplitterBar ------------------------------------------------------

void DockPanel::setWidth(int width) {
    m_wanted = width;
    fitToWindow();
}

int DockPanel::storedWidth() const {
    // The splitter bar beside the panel takes 3 pixels of the rest.
    const int largest = std::max(kMinimumSide, window()->width() - 3 - kMinimumSide);
    return std::clamp(m_wanted, kMinimumSide, largest);
}

void DockPanel::fitToWindow() {
    const int largest =
        std::max(kMinimumSide, window()->width() - 3 - std::max(kMinimumSide, m_roomBeside));
    m_shown = std::min(storedWidth(), largest);
    setFixedWidth(m_shown);
}

void DockPanel::setRoomBeside(int room) {
    m_roomBeside = room;
    fitToWindow();
}

SplitterBar::SplitterBar(DockPanel* target, QWidget* parent) : QWidget(parent), m_target(target) {
    setFixedWidth(3);
    setCursor(Qt::SplitHCursor);
}

void SplitterBar::mousePressEvent(QMouseEvent* event) {
    m_pressX = qRound(event->globalPosition().x());
    m_startWidth = m_target->Width();
}

void SplitterBar::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const int width = m_startWidth + qRound(event->globalPosition().x()) - m_pressX;
    m_target->setWidth(width);
}

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
        connect(reader, &TMainForm::bookSaved, this, [this](const QString& path) {
            const QString file = QFileInfo(path).fileName();
            if (m_indexer && m_folder.isBookPath(path) && file.endsWith(QStringLiteral(".boo")))
                m_indexer->bookChanged(file.chopped(4), path);
        });
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
        const QString name = Val.NameAt(row);
        if (BookFolder::isValidBookName(name))
            books.append({name, m_folder.BookPath(name)});
    }
    // Without a readable catalogue the books are unknown: the index is left as it is.
    if (!m_library.catalogueUnreadable())
        m_indexer->follow(books);
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

    // The add-book panel.
    Panel2 = new QFrame(Panel3);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(86);
    paint(Panel2, QColor(0, 128, 0));
    caption(QStringLiteral("Загрузить"), Panel2, 10, 10);
    Dfail = field(QStringLiteral("Dfail"), Panel2, QRect(120, 5, 276, 19));
    Dfail->setReadOnly(true);
    SpeedButton1 = new QPushButton(Panel2);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(395, 6, 26, 19);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setToolTip(QStringLiteral("Выбрать файл"));
    caption(QStringLiteral("Название книги"), Panel2, 10, 35);
    knigaimeno = field(QStringLiteral("knigaimeno"), Panel2, QRect(120, 31, 301, 19));
    caption(QStringLiteral("Заметки"), Panel2, 10, 60);
    zametki = field(QStringLiteral("zametki"), Panel2, QRect(120, 56, 301, 19));
    // A pasted note is kept whole: the catalogue holds a note of any length.
    zametki->setMaxLength(std::numeric_limits<int>::max());
    keepOneLine(knigaimeno);
    keepOneLine(zametki);
    ColorBtn2 = new TColorBtn(Panel2);
    ColorBtn2->setObjectName(QStringLiteral("ColorBtn2"));
    ColorBtn2->setText(QStringLiteral("Отмена"));
    ColorBtn2->setGeometry(450, 10, 126, 21);
    ColorBtn1 = new TColorBtn(Panel2);
    ColorBtn1->setObjectName(QStringLiteral("ColorBtn1"));
    ColorBtn1->setText(QStringLiteral("Сохранить"));
    ColorBtn1->setGeometry(450, 50, 126, 21);
    buildCodePageChoice();
    Panel2->hide();
    rightLayout->addWidget(Panel2);

    // The details panel.
    Panel5 = new QFrame(Panel3);
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
    rightLayout->addWidget(Panel5);

    Image1 = new QLabel(Panel3);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap::fromImage(makeLogo()));
    Image1->setAlignment(Qt::AlignCenter);
    rightLayout->addWidget(Image1, 1);

    RichEdit1 = new RichTextEditor(Panel3);
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

void TForm1::buildCodePageChoice() {
    // In the gap between «Отмена» and «Сохранить», where it moves no other control.
    CodePageChoice = new QPushButton(codePageCaption(kCodePages[0]), Panel2);
    CodePageChoice->setObjectName(QStringLiteral("CodePageChoice"));
    CodePageChoice->setGeometry(450, 32, 126, 17);
    CodePageChoice->setFont(sansSerif(11, false));
    CodePageChoice->setToolTip(QStringLiteral("Кодировка текста"));
    auto* menu = new QMenu(CodePageChoice);
    menu->setObjectName(QStringLiteral("CodePageMenu"));
    auto* group = new QActionGroup(menu);
    for (const CodePageEntry& entry : kCodePages) {
        QAction* action = menu->addAction(QString::fromUtf16(entry.name));
        action->setCheckable(true);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, &entry] {
            CodePageChoice->setText(codePageCaption(entry));
            guard([this, &entry] { chooseCodePage(entry.codePage); });
        });
    }
    menu->actions().front()->setChecked(true);
    CodePageChoice->setMenu(menu);
    CodePageChoice->hide();
}

void TForm1::setPlainTextSource(const QByteArray& bytes) {
    m_plainTextBytes = bytes;
    CodePageChoice->setVisible(!bytes.isNull());
    CodePageChoice->setText(codePageCaption(kCodePages[0]));
    CodePageChoice->menu()->actions().front()->setChecked(true);
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
    ListBox1->clear();
    const int count = Val.ListedRowCount();
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    struct Entry {
        QString name;
        QCollatorSortKey key;
    };
    std::vector<Entry> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        QString name = Val.NameAt(i);
        // Folded first: without a locale of its own the collator compares code points.
        QCollatorSortKey key = collator.sortKey(name.toCaseFolded());
        entries.push_back({std::move(name), std::move(key)});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.key.compare(b.key) < 0; });
    QStringList names;
    names.reserve(count);
    for (Entry& entry : entries)
        names.append(std::move(entry.name));
    ListBox1->addItems(names);
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
    const QListWidgetItem* item = ListBox1->item(n);
    if (!item)
        return;
    const QString name = item->text();
    Val.SelectRow(m_library.rowOfItem(name).row);
    Edit1->setText(name);
    Edit1->setCursorPosition(0); // a name too long for the field shows its start
    // The note of the item's own row: a row repeating the name in another letter case
    // keeps its note to itself.
    const int row = Val.CurrentRow();
    Memo1->setPlainText(row < Val.rowCount() ? Catalogue::LineNote(Val.lineAt(row)) : QString());
    StatusBar1->setPanelText(1, QStringLiteral("%1 / %2").arg(n + 1).arg(ListBox1->count()));
    const QString path = m_folder.BookPath(name);
    StatusBar1->setPanelText(4, path);
    const qint64 size = m_folder.BookFileSizeKb(path);
    StatusBar1->setPanelText(3, QString::number(size) + QLatin1Char('/') + m_folder.TotalSizeKb());
    Label7->setText(QString::number(size) + QStringLiteral(" Кб"));
}

void TForm1::ListBox1DblClick() {
    const QListWidgetItem* item = ListBox1->item(selectedRow());
    if (!item)
        return;
    openSearchPlace(item->text(), -1, 0);
}

void TForm1::pbChange() {
    const QString text = pb->text();
    for (int i = 0; i < ListBox1->count(); ++i) {
        if (ListBox1->item(i)->text().startsWith(text, Qt::CaseInsensitive)) {
            setListSelection(i);
            return;
        }
    }
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
    RichEdit1->show();
    RichEdit1->setReadOnlyMode(false);
    RichEdit1->ClearText();
    knigaimeno->clear();
    knigaimeno->setModified(false); // the next file's first line is proposed again
    Dfail->clear();
    setPlainTextSource(QByteArray());
    zametki->clear();
    Panel5->hide();
    Panel2->show();
    knigaimeno->setFocus(Qt::OtherFocusReason);
}

void TForm1::SpeedButton1Click() {
    const QString path = Dialogs::instance().openFile(
        this, BookImport::filterLine() + QStringLiteral("|Текстовые, RTF|*.txt;*.rtf"));
    // Cancelled: the file chosen before and its preview stay as they were.
    if (path.isEmpty())
        return;
    previewFile(path);
}

void TForm1::previewFile(const QString& path) {
    // A file that holds no book is refused before anything changes: the file chosen
    // before and its preview stay.
    ImportedBook book;
    QByteArray bytes;
    if (!path.isEmpty() && !RichEdit1->PlainText()) {
        try {
            bytes = RegularFile::readBook(path);
        } catch (...) {
            clearChosenFile();
            throw;
        }
        book = BookImport::read(bytes);
        if (book.kind == ImportedBook::Kind::NotABook || book.kind == ImportedBook::Kind::TooBig) {
            Dialogs::instance().beep();
            Dialogs::instance().message(this, book.kind == ImportedBook::Kind::TooBig
                                                  ? BookImport::tooBigMessage()
                                                  : BookImport::notABookMessage());
            return;
        }
    }
    // Until the file is read, no file is chosen: one that cannot be read leaves none.
    clearChosenFile();
    if (path.isEmpty()) {
        Dialogs::instance().beep();
        return;
    }
    if (RichEdit1->PlainText()) {
        RichEdit1->LoadFile(path);
    } else {
        if (book.kind == ImportedBook::Kind::PlainText)
            setPlainTextSource(bytes);
        m_pendingContents = BookCompanions::pendingOf(book);
        RichEdit1->ShowImported(std::move(book));
    }
    Dfail->setText(path);
    // The first line is proposed as the name, in the form it can be stored in, unless
    // the user has typed one.
    if (!knigaimeno->isModified()) {
        knigaimeno->setText(proposedName());
        knigaimeno->setCursorPosition(0);
    }
}

void TForm1::clearChosenFile() {
    RichEdit1->ClearText();
    Dfail->clear();
    setPlainTextSource(QByteArray());
}

QString TForm1::proposedName() {
    // Blank lines before the title and blanks around it would make a name that looks
    // empty or sorts before every other: the first line that is not blank is taken,
    // trimmed, each run of blanks in it made one space, at most 100 characters (as the
    // folder import names a book: a longer name would not fit a file name).
    for (int line = 0; line < 64; ++line) {
        const QString text =
            Cp1251::storable(RichEdit1->DisplayLine(line)).simplified().left(100).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

void TForm1::chooseCodePage(std::optional<ImportedText::CodePage> codePage) {
    if (m_plainTextBytes.isNull())
        return;
    ImportedBook book;
    book.kind = ImportedBook::Kind::PlainText;
    book.format = QStringLiteral("TXT");
    if (!codePage)
        book.text = ImportedText::decode(m_plainTextBytes);
    else if (*codePage == ImportedText::CodePage::Utf16LE)
        book.text =
            ImportedText::decode(m_plainTextBytes, ImportedText::utf16Order(m_plainTextBytes));
    else
        book.text = ImportedText::decode(m_plainTextBytes, *codePage);
    RichEdit1->ClearText();
    RichEdit1->ShowImported(std::move(book));
    if (!knigaimeno->isModified()) {
        knigaimeno->setText(proposedName());
        knigaimeno->setCursorPosition(0);
    }
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
        previewFile(path);
    });
}

void TForm1::ColorBtn1Click() {
    const QString name = knigaimeno->text();
    const QString note = zametki->text();
    // The book is stored as the preview's plain text (a NUL byte shows there as its
    // symbol), in its nearest code page 1251 form.
    QString text = RichEdit1->WholeText();
    text.replace(QChar(0x2400), QChar(0));
    text = Cp1251::storable(text);
    // A name of blanks only names a book nobody could see: it counts as no name; a
    // book of blanks holds no text.
    const auto blank = [](const QString& s) {
        return std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.isSpace(); });
    };
    if (blank(name) || Dfail->text().isEmpty() || blank(text)) {
        Dialogs::instance().beep();
        Dialogs::instance().message(
            this, QStringLiteral("Вы должны загрузить файл и указать название книги"));
        return;
    }
    const QString unstorable = Library::unstorableNameCharacters(name);
    if (!unstorable.isEmpty()) {
        Dialogs::instance().beep();
        Dialogs::instance().message(this, Library::unstorableNameMessage(unstorable));
        return;
    }
    // A name starting with a dot would make the book's file a hidden one.
    if (BookPreparation::nameRefusal(name) == BookPreparation::Refusal::LeadingDot) {
        Dialogs::instance().beep();
        Dialogs::instance().message(
            this, BookPreparation::refusalMessage(BookPreparation::Refusal::LeadingDot, name));
        return;
    }
    if (!Library::nameFitsFileName(name)) {
        Dialogs::instance().beep();
        Dialogs::instance().message(this, Library::longNameMessage());
        return;
    }
    // A book file that no row lists is not replaced without a word.
    if (m_library.hasUnlistedBookFile(name) &&
        !Dialogs::instance().confirm(
            this,
            QStringLiteral("В папке книг уже есть файл %1, которого нет в списке. "
                           "Заменить его?")
                .arg(m_library.folder().BookPath(name)),
            QStringLiteral("Заменить")))
        return;
    // Characters the code page lacks would become «?»: the user decides first.
    const QString lost = Library::lostCharactersQuestion(text);
    if (!lost.isEmpty() && !Dialogs::instance().confirm(this, lost, QStringLiteral("Сохранить")))
        return;
    const QByteArray stored = Cp1251::encode(text);
    m_library.addBook(name, note, stored);
    BookCompanions::keep(m_library.folder(), name, std::exchange(m_pendingContents, {}), stored);
    setPlainTextSource(QByteArray());
    if (m_indexer)
        m_indexer->bookChanged(name, m_folder.BookPath(name));
    Obnov();
    ListBox1->setEnabled(true);
    Panel2->hide();
    Panel5->show();
    RichEdit1->hide();
    Image1->show();
}

void TForm1::ColorBtn2Click() {
    RichEdit1->hide();
    RichEdit1->ClearText();
    setPlainTextSource(QByteArray());
    Image1->show();
    Panel2->hide();
    Panel5->show();
    ListBox1->setEnabled(true);
}

void TForm1::N8Click() {
    const QListWidgetItem* item = ListBox1->item(selectedRow());
    if (!item)
        return;
    const QString name = item->text();
    Dialogs::instance().beep();
    if (!Dialogs::instance().confirm(this,
                                     QStringLiteral("Книга будет полностью удалена! Продолжить?")))
        return;
    // The row removed is the selected book's own row, also when the search box made
    // the selection.
    const QString path = m_library.folder().BookPath(name);
    m_library.deleteBook(name);
    if (m_reader)
        m_reader->bookDeleted(path);
    if (m_indexer)
        m_indexer->bookRemoved(name);
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

namespace {

// Enter in the list opens the selected book, as a double-click does; Delete deletes it,
// as «Удалить книгу» does. A name the list's width cuts off shows whole in a tooltip.
// It belongs to the list and knows nothing of the window until a key asks for it.
class ListKeys : public QObject {
public:
    ListKeys(QListWidget* list, std::function<void()> open, std::function<void()> remove)
        : QObject(list), m_open(std::move(open)), m_remove(std::move(remove)) {
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // No list while the list is being taken down.
        auto* list = qobject_cast<QListWidget*>(parent());
        if (!list)
            return false;
        if (watched == list && event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
                return false;
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                guard(m_open);
                return true;
            }
            if (key->key() == Qt::Key_Delete) {
                guard(m_remove);
                return true;
            }
        } else if (watched == list->viewport() && event->type() == QEvent::ToolTip) {
            const auto* help = static_cast<QHelpEvent*>(event);
            const QListWidgetItem* item = list->itemAt(help->pos());
            const QRect rect = item ? list->visualItemRect(item) : QRect();
            // An item is as wide as its text: what passes the viewport's edge is cut off.
            if (item && rect.left() + list->fontMetrics().horizontalAdvance(item->text()) >
                            list->viewport()->width()) {
                QToolTip::showText(help->globalPos(), item->text(), list->viewport(), rect);
            } else {
                QToolTip::hideText();
                event->ignore();
            }
            return true;
        }
        return false;
    }

private:
    std::function<void()> m_open;
    std::function<void()> m_remove;
};

} // namespace

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
    QTimer::singleShot(0, this, [this] {
        BulkImport::removeLeftovers(m_library);
    });
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
    connect(window->import(), &BulkImport::booksAdded, this,
            [this](const QStringList& names) { insertBookNames(names); });
    connect(window->import(), &BulkImport::booksRemoved, this, [this](const QStringList& names) {
        Obnov();
        if (m_indexer)
            for (const QString& name : names)
                m_indexer->bookRemoved(name);
    });
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

void TForm1::insertBookNames(const QStringList& names) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_programSelects = true;
    for (const QString& name : names) {
        // After the names it sorts with, as the list's own sort puts a later row.
        const QString key = name.toCaseFolded();
        int low = 0;
        int high = ListBox1->count();
        while (low < high) {
            const int middle = (low + high) / 2;
            if (collator.compare(ListBox1->item(middle)->text().toCaseFolded(), key) <= 0)
                low = middle + 1;
            else
                high = middle;
        }
        ListBox1->insertItem(low, name);
    }
    m_programSelects = false;
    // The selected book's place and the count follow the list as it grows.
    if (const int current = ListBox1->currentRow();
        current >= 0 && !StatusBar1->panelText(1).isEmpty())
        StatusBar1->setPanelText(1,
                                 QStringLiteral("%1 / %2").arg(current + 1).arg(ListBox1->count()));
    // A blank row the first book took the place of: the list is built anew.
    if (ListBox1->count() != Val.ListedRowCount())
        Obnov();
    if (m_indexer)
        for (const QString& name : names)
            m_indexer->bookChanged(name, m_folder.BookPath(name));
}
