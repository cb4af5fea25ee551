#include "ui/reader/reader_window.h"

#include "core/base/cp1251.h"
#include "core/base/folder_anchor.h"
#include "core/base/regular_file.h"
#include "core/base/safe_file.h"
#include "core/base/tomeria_error.h"
#include "core/book/book_document.h"
#include "core/formats/book_import.h"
#include "core/library/library.h"
#include "core/library/reading_state.h"
#include "core/text/hyphenator.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/find_dialog.h"
#include "ui/dialogs/guard.h"
#include "ui/print/print_job.h"
#include "ui/reader/layout_dialog.h"
#include "ui/reader/navigation_panel.h"
#include "ui/reader/reader_navigation.h"
#include "ui/reader/toolbar_images.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPrinterInfo>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <sys/stat.h>

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      View(new BookView(this)),
      StatusBar(new StatusPanels({{150, Qt::AlignLeft, StatusPanels::Bevel::Lowered},
                                  {50, Qt::AlignLeft, StatusPanels::Bevel::Lowered, true},
                                  {60, Qt::AlignRight, StatusPanels::Bevel::Lowered}},
                                 19, this)),
      ToolBar1(new QToolBar(this)), NotFoundNote(new QLabel(this)), PopupMenu1(new QMenu(this)),
      PopupMenu2(new QMenu(this)), FindDialog1(new FindDialog(this)),
      LayoutDialog1(new LayoutDialog(this)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Rich Edit Control Demo"));
    resize(617, 337);
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setPixelSize(11);
    setFont(windowFont);

    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(29);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false);
    ToolButton6 = addButton(QStringLiteral("ToolButton6"), QStringLiteral("Назад (Esc)"), 8);
    addSeparator(23);
    ToolButton2 = addButton(QStringLiteral("ToolButton2"), QStringLiteral("Поиск (Ctrl+F)"), 7);
    ToolButton5 =
        addButton(QStringLiteral("ToolButton5"), QStringLiteral("Цвет окна (Ctrl+K)"), 10);
    ToolButton4 =
        addButton(QStringLiteral("ToolButton4"), QStringLiteral("Шрифт текста (Ctrl+Shift+F)"), 11);
    ToolButton8 =
        addButton(QStringLiteral("ToolButton8"), QStringLiteral("Оформление (Ctrl+L)"), 13);
    addSeparator(17);
    ToolButton7 = addButton(QStringLiteral("ToolButton7"),
                            QStringLiteral("Редактирование/просмотр (Ctrl+E)"), 9);
    ToolButton1 =
        addButton(QStringLiteral("ToolButton1"), QStringLiteral("Сохранить изменения (Ctrl+S)"), 0);
    addSeparator(15);
    ToolButton3 =
        addButton(QStringLiteral("ToolButton3"), QStringLiteral("Печать книги (Ctrl+P)"), 1);
    // The save button exists only while editing.
    for (QAction* action : ToolBar1->actions())
        if (ToolBar1->widgetForAction(action) == ToolButton1)
            m_saveAction = action;
    m_saveAction->setVisible(false);

    // One text area for both modes: read-only while viewing.
    Editor = View;
    View->setObjectName(QStringLiteral("View"));
    QFont editorFont(QStringLiteral("Arial"));
    editorFont.setPixelSize(15);
    View->setTextFont(editorFont, Qt::black);
    View->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    View->setHideSelectionWithoutFocus(true);
    View->setContextMenuPolicy(Qt::NoContextMenu);
    connect(View, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (m_contextMenu && !m_contextMenu->isEmpty())
            m_contextMenu->exec(View->viewport()->mapToGlobal(pos));
    });
    View->setFocus();

    StatusBar->setObjectName(QStringLiteral("StatusBar"));

    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    auto addItem = [this](const QString& name, const QString& caption, int image) {
        QAction* action = PopupMenu1->addAction(ToolbarImages::icon(image), caption);
        action->setObjectName(name);
        return action;
    };
    UndoButton = addItem(QStringLiteral("UndoButton"), QStringLiteral("Отмена"), 2);
    PopupMenu1->addSeparator();
    CutButton = addItem(QStringLiteral("CutButton"), QStringLiteral("Вырезать"), 3);
    CopyButton = addItem(QStringLiteral("CopyButton"), QStringLiteral("Копировать"), 4);
    N3 = addItem(QStringLiteral("N3"), QStringLiteral("Вставить"), 5);
    PopupMenu1->addSeparator();
    N5 = addItem(QStringLiteral("N5"), QStringLiteral("Выделить все"), 6);
    PopupMenu1->addSeparator();
    N2 = addItem(QStringLiteral("N2"), QStringLiteral("Вернуться в список книг"), 8);

    m_fontChoice.font = QFont(QStringLiteral("MS Sans Serif"));
    m_fontChoice.font.setPixelSize(11);
    m_fontChoice.colour = Qt::black;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    auto* body = new QHBoxLayout;
    body->setSpacing(0);
    Navigation = new NavigationPanel(this);
    Navigation->setFixedWidth(320);
    body->addWidget(Navigation);
    body->addWidget(View, 1);
    layout->addLayout(body, 1);
    layout->addWidget(StatusBar);
    m_navigation = new ReaderNavigation(
        this, ToolBar1, Navigation,
        ReaderPlaces{
            [this] { return qsizetype(firstVisibleOffset()); },
            [this](qsizetype offset) {
                View->setSelectionStart(offset);
                View->scrollOffsetToTop(offset);
            },
            [this] { return View->textLength(); },
            [this](int line) -> qsizetype {
                if (!View->linesCounted() || line >= View->lineCount())
                    return -1;
                qsizetype low = 0;
                qsizetype high = View->textLength();
                while (low < high) { // the first character on a line after `line`
                    const qsizetype middle = (low + high) / 2;
                    if (View->lineOfChar(middle) <= line)
                        low = middle + 1;
                    else
                        high = middle;
                }
                return View->lineStartOf(std::max<qsizetype>(0, low - 1));
            },
            [this] { View->setFocus(); },
            [this](const QPoint& point) { return View->offsetAt(point); },
            [this]() -> qsizetype { return View->selectionLength() == 0 ? View->caret() : -1; },
            [this] { return !viewing(); }, View->viewport(),
            [this](qsizetype offset) { return View->characterRect(offset); },
            [this] { return static_cast<const BookDocument*>(View->book().get()); },
            [this] { return std::pair(View->textColour(), View->backgroundColour()); },
            [this] { return View->markup(); }});
    connect(View, &BookView::textChanged, m_navigation, &ReaderNavigation::textEdited);
    View->installEventFilter(m_navigation);
    View->viewport()->installEventFilter(m_navigation);
    m_navigation->contentsButton()->installEventFilter(this); // arrows walk the tool bar
    m_navigation->bookmarkButton()->installEventFilter(this);
    connect(View->verticalScrollBar(), &QScrollBar::valueChanged, m_navigation,
            &ReaderNavigation::topChanged);
    connect(Navigation, &NavigationPanel::markupFound, View, &BookView::setMarkup);
    connect(Navigation, &NavigationPanel::headingsFound, this,
            [this](const std::vector<Heading>& headings) {
                auto markup = std::make_shared<BookMarkup>();
                if (const auto shown = View->markup())
                    markup->emphasis = shown->emphasis;
                markup->headings = headings;
                View->setMarkup(std::move(markup));
            });

    connect(ToolButton6, &QToolButton::clicked, this, guarded(this, &TMainForm::ToolButton6Click));
    connect(ToolButton2, &QToolButton::clicked, this, guarded(this, &TMainForm::ToolButton2Click));
    connect(ToolButton5, &QToolButton::clicked, this, guarded(this, &TMainForm::ToolButton5Click));
    connect(ToolButton4, &QToolButton::clicked, this, guarded(this, &TMainForm::ToolButton4Click));
    connect(ToolButton7, &QToolButton::clicked, this, guarded(this, &TMainForm::ToolButton7Click));
    connect(ToolButton8, &QToolButton::clicked, this, guarded(this, &TMainForm::ToolButton8Click));
    connect(LayoutDialog1, &LayoutDialog::layoutChanged, this,
            [this](const BookLayout& layout) { guard([&] { applyLayout(layout); }); });
    connect(LayoutDialog1, &LayoutDialog::coloursChosen, this,
            [this](const QColor& text, const QColor& background) {
                guard([&] { applyPresetColours(text, background); });
            });
    connect(ToolButton1, &QToolButton::clicked, this, [this] { guard([this] { saveBook(); }); });
    connect(ToolButton3, &QToolButton::clicked, this, guarded(this, &TMainForm::ToolButton3Click));
    connect(UndoButton, &QAction::triggered, this, guarded(this, &TMainForm::UndoButtonClick));
    connect(CutButton, &QAction::triggered, this, guarded(this, &TMainForm::CutButton1Click));
    connect(CopyButton, &QAction::triggered, this, guarded(this, &TMainForm::N2Click));
    connect(N3, &QAction::triggered, this, guarded(this, &TMainForm::N3Click));
    connect(N5, &QAction::triggered, this, guarded(this, &TMainForm::N5Click));
    connect(N2, &QAction::triggered, this, guarded(this, &TMainForm::ToolButton6Click));
    // Esc leaves the reader as "Назад" does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setObjectName(QStringLiteral("EscapeShortcut"));
    connect(escape, &QShortcut::activated, this, guarded(this, &TMainForm::ToolButton6Click));
    // Every tool button has its key; a button hidden or greyed out does nothing.
    const auto press = [this](QToolButton* button) {
        return [this, button] {
            if (shownButtons().contains(button))
                button->click();
        };
    };
    addKey(QKeySequence(Qt::CTRL | Qt::Key_F), QStringLiteral("FindKey"), press(ToolButton2));
    addKey(QKeySequence(Qt::Key_F3), QStringLiteral("FindNextKey"), [this] { findAgain(true); });
    addKey(QKeySequence(Qt::SHIFT | Qt::Key_F3), QStringLiteral("FindPreviousKey"),
           [this] { findAgain(false); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_K), QStringLiteral("ColourKey"), press(ToolButton5));
    addKey(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), QStringLiteral("FontKey"),
           press(ToolButton4));
    addKey(QKeySequence(Qt::CTRL | Qt::Key_L), QStringLiteral("LayoutKey"), press(ToolButton8));
    addKey(QKeySequence(Qt::CTRL | Qt::Key_E), QStringLiteral("ModeKey"), press(ToolButton7));
    addKey(QKeySequence(Qt::CTRL | Qt::Key_S), QStringLiteral("SaveKey"), press(ToolButton1));
    addKey(QKeySequence(Qt::CTRL | Qt::Key_P), QStringLiteral("PrintKey"), press(ToolButton3));
    addKey(QKeySequence(Qt::CTRL | Qt::Key_Plus), QStringLiteral("BiggerKey"),
           [this] { zoomText(1); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_Equal), QStringLiteral("BiggerKey2"),
           [this] { zoomText(1); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_Minus), QStringLiteral("SmallerKey"),
           [this] { zoomText(-1); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_0), QStringLiteral("OriginalSizeKey"),
           [this] { zoomText(-m_zoom); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_Tab), QStringLiteral("ToolBarKey"), [this] {
        const QList<QToolButton*> shown = shownButtons();
        if (!shown.isEmpty())
            shown.front()->setFocus(Qt::TabFocusReason);
    });
    NotFoundNote->setObjectName(QStringLiteral("NotFoundNote"));
    NotFoundNote->setAutoFillBackground(true);
    NotFoundNote->setFrameStyle(QFrame::Box | QFrame::Plain);
    NotFoundNote->setMargin(6);
    NotFoundNote->setAttribute(Qt::WA_TransparentForMouseEvents);
    NotFoundNote->hide();
    m_textFont = editorFont;
    View->installEventFilter(this);
    followBackground(Qt::white);
    connect(FindDialog1, &FindDialog::findNext, this, guarded(this, &TMainForm::FindDialog1Find));
    connect(View, &BookView::textChanged, this, guarded(this, &TMainForm::RichEditChange));
    connect(View, &BookView::selectionChanged, this, guarded(this, &TMainForm::SelectionChange));
    connect(View, &BookView::linesReady, this, guarded(this, &TMainForm::ShowCaretPosition));
    connect(View->verticalScrollBar(), &QScrollBar::valueChanged, this,
            guarded(this, &TMainForm::showProgress));
    // The hyphenation patterns are read once, off the window's thread, before the first
    // hyphenated page needs them.
    Hyphenator::loaded();
}

TMainForm::~TMainForm() {
    // The program ends (a session's end, SIGTERM) with the reader shown: nobody is left
    // to hear of a failed write.
    if (isVisible() && m_reading) {
        rememberPosition();
        m_reading->trySave();
    }
}

void TMainForm::setReadingState(ReadingState* state) {
    m_reading = state;
    m_navigation->setReadingState(state);
    if (!state)
        return;
    if (state->font()) {
        m_fontChoice = {*state->font(), state->textColour()};
        m_textFont = *state->font();
        m_zoom = 0;
        View->setTextFont(m_fontChoice.font, m_fontChoice.colour);
    }
    if (state->background()) {
        m_colourChoice = *state->background();
        View->setBackgroundColour(m_colourChoice);
        followBackground(m_colourChoice);
    }
    if (state->textColourChosen()) {
        m_fontChoice.colour = state->textColour();
        View->setTextFont(View->font(), m_fontChoice.colour);
    }
    m_fontChosen = state->font().has_value();
    m_layout = state->layout();
    LayoutDialog1->setBookLayout(m_layout);
    View->setBookLayout(m_layout);
    applyFace();
}

void TMainForm::applyFace() {
    // The view draws without kerning: fonts are compared without it.
    const auto shown = [this](QFont font) {
        font.setKerning(false);
        return View->textFont() == font;
    };
    if (!m_layout.bookFace || m_fontChosen) {
        // The text's own font, bigger or smaller as the text's keys made it.
        QFont font = m_textFont;
        const double factor = std::pow(1.15, m_zoom);
        if (font.pixelSize() > 0)
            font.setPixelSize(std::max(4, int(std::lround(font.pixelSize() * factor))));
        else
            font.setPointSizeF(std::max(3.0, font.pointSizeF() * factor));
        if (!shown(font))
            View->setTextFont(font, m_fontChoice.colour);
        return;
    }
    // Sized for the room the column has: the window's width less the margins.
    qreal room = View->viewport()->width();
    if (room < 200 && screen())
        room = screen()->availableGeometry().width();
    room -= 2 * m_layout.margins;
    const int characters = m_layout.width > 0 ? m_layout.width : 66;
    QFont face = BookLayout::bookFont(room, characters);
    if (m_layout.pages == BookLayout::Pages::Spread) {
        // Two pages side by side where the least size allows them: a face for half the
        // room, less the gutter.
        const QFont half = BookLayout::bookFont((room - BookView::gutterFor(face)) / 2, characters);
        const qreal average = QFontMetricsF(half).averageCharWidth();
        if (2 * characters * average + BookView::gutterFor(half) <= room)
            face = half;
    }
    // Bigger or smaller as the text's keys made it.
    face.setPixelSize(std::max(4, int(std::lround(face.pixelSize() * std::pow(1.15, m_zoom)))));
    if (!shown(face))
        View->setTextFont(face, m_fontChoice.colour);
}

void TMainForm::rememberPosition() {
    const QString path = StatusBar->panelText(1);
    if (m_reading && !path.isEmpty())
        m_reading->remember(path, firstVisibleOffset());
}

bool TMainForm::viewing() const {
    return View->isReadOnly();
}

int TMainForm::firstVisibleOffset() {
    return int(View->firstVisibleOffset());
}

void TMainForm::saveReadingState() {
    if (m_reading)
        m_reading->save();
}

QToolButton* TMainForm::addButton(const QString& name, const QString& hint, int image) {
    auto* button = new QToolButton(ToolBar1);
    button->setObjectName(name);
    button->setToolTip(hint);
    // The name without its key, for screen readers; the key is the shortcut's.
    button->setAccessibleName(hint.section(QStringLiteral(" ("), 0, 0));
    button->setAccessibleDescription(hint);
    button->setIcon(ToolbarImages::icon(image));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    // Tab stays in the text; Ctrl+Tab brings the focus to the tool bar, where the arrows
    // walk the buttons (eventFilter).
    button->setFocusPolicy(Qt::NoFocus);
    button->installEventFilter(this);
    ToolBar1->addWidget(button);
    return button;
}

void TMainForm::addKey(const QKeySequence& sequence, const QString& name,
                       std::function<void()> action) {
    m_keys.append(sequence);
    auto* shortcut = new QShortcut(sequence, this);
    shortcut->setObjectName(name);
    connect(shortcut, &QShortcut::activated, this,
            [action = std::move(action)] { guard([&] { action(); }); });
}

bool TMainForm::saveButtonShown() const {
    return m_saveAction->isVisible();
}

void TMainForm::addSeparator(int width) {
    auto* gap = new QWidget(ToolBar1);
    gap->setFixedWidth(width);
    ToolBar1->addWidget(gap);
}

namespace {

// What identifies a file's contents without reading it: its inode, size and time of
// change; empty when there is no file.
QByteArray fileStamp(const QString& path) {
    struct stat st {};
    if (!AnchoredPath(path).stat(st))
        return QByteArray();
    return QByteArray::number(qulonglong(st.st_dev)) + ':' +
           QByteArray::number(qulonglong(st.st_ino)) + ':' +
           QByteArray::number(qlonglong(st.st_size)) + ':' +
           QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ':' +
           QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qlonglong(st.st_ctim.tv_nsec));
}

QString bookName(const QString& path) {
    return QFileInfo(path).completeBaseName();
}

} // namespace

bool TMainForm::hasUnsavedEdits() const {
    return !StatusBar->panelText(1).isEmpty() && View->book()->isModified();
}

bool TMainForm::settleUnsavedEdits() {
    if (!hasUnsavedEdits())
        return true;
    switch (Dialogs::instance().ask(
        this, QStringLiteral("В книге «%1» есть несохранённые изменения. Сохранить их?")
                  .arg(bookName(StatusBar->panelText(1))))) {
    case Dialogs::Answer::Yes:
        if (saveBook())
            return true;
        break; // a save declined or failed keeps the book open
    case Dialogs::Answer::No:
        return true;
    case Dialogs::Answer::Cancel:
        break;
    }
    bringBack();
    return false;
}

void TMainForm::bringBack() {
    if (Dialogs::sessionEnding())
        return;
    if (!isVisible()) {
        setWindowState(windowState() | Qt::WindowMaximized);
        show();
    }
    raise();
    activateWindow();
}

bool TMainForm::saveBook() {
    try {
        ToolButton1Click();
        return !View->book()->isModified();
    } catch (const std::exception& e) {
        Dialogs::instance().error(this, errorBoxText(QString::fromStdString(e.what())));
    }
    return saveElsewhere();
}

bool TMainForm::saveElsewhere() {
    if (!Dialogs::instance().confirm(
            this,
            QStringLiteral("Книгу «%1» сохранить не удалось. Сохранить текст с изменениями "
                           "в другой файл?")
                .arg(bookName(StatusBar->panelText(1))),
            QStringLiteral("Сохранить в файл…")))
        return false;
    while (true) {
        const QString path = Dialogs::instance().saveFile(
            this, QStringLiteral("Текстовые файлы (UTF-8)|*.txt|Все файлы|*"));
        if (path.isEmpty())
            return false;
        try {
            View->book()->save(path, QStringLiteral("Не удалось создать файл %1").arg(path),
                               QStringLiteral("Не удалось записать файл %1").arg(path),
                               BookDocument::Encoding::Utf8);
            return true;
        } catch (const std::exception& e) {
            Dialogs::instance().error(this, errorBoxText(QString::fromStdString(e.what())));
        }
    }
}

QString TMainForm::recoveryPath(const QString& path) {
    const QFileInfo info(path);
    QString name = QStringLiteral("~") + info.fileName() + QStringLiteral(".unsaved");
    if (QFile::encodeName(name).size() > 255)
        name = QStringLiteral("~") +
               QString::fromLatin1(
                   QCryptographicHash::hash(info.fileName().toUtf8(), QCryptographicHash::Sha1)
                       .toHex()) +
               QStringLiteral(".boo.unsaved");
    return info.dir().filePath(name);
}

void TMainForm::keepUnsavedEdits() noexcept {
    try {
        if (!hasUnsavedEdits())
            return;
        const QString path = StatusBar->panelText(1);
        View->book()->save(recoveryPath(path),
                           QStringLiteral("Cannot create file %1").arg(recoveryPath(path)),
                           QStringLiteral("Failed to Save Stream"), BookDocument::Encoding::Utf8);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Tomeria: %s\n", e.what());
    }
}

void TMainForm::offerRecovery(const QString& path) {
    const QString recovery = recoveryPath(path);
    QByteArray bytes;
    if (RegularFile::read(recovery, RegularFile::kMaxSize, bytes) != RegularFile::Status::Read)
        return;
    const Dialogs::Answer answer = Dialogs::instance().ask(
        this, QStringLiteral("Когда сеанс завершался, в книге «%1» были несохранённые изменения. "
                             "Они сохранены отдельно. Восстановить их?")
                  .arg(bookName(path)));
    if (answer == Dialogs::Answer::Cancel)
        return; // asked again at the next opening
    if (answer == Dialogs::Answer::Yes) {
        // The kept text is shown for editing, as edits not yet saved.
        if (viewing())
            ToolButton7Click();
        const qsizetype top = View->firstVisibleOffset();
        View->selectAll();
        View->insertText(QString::fromUtf8(bytes));
        View->setSelectionStart(std::min(top, View->textLength()));
        View->scrollOffsetToTop(std::min(top, View->textLength()));
        RichEditChange();
        ShowCaretPosition();
    }
    AnchoredPath(recovery).unlink();
}

bool TMainForm::openBook(const QString& path) {
    std::optional<int> remembered = m_reading ? m_reading->position(path) : std::nullopt;
    if (!showAndLoad(path))
        return false;
    // The book shown until now, this one perhaps, has just been remembered.
    remembered = m_reading ? m_reading->position(path) : std::nullopt;
    int offset = 0;
    if (remembered && *remembered <= View->textLength())
        offset = *remembered;
    View->setSelectionStart(offset);
    View->scrollOffsetToTop(offset);
    ShowCaretPosition();
    offerRecovery(path);
    return true;
}

bool TMainForm::showAndLoad(const QString& path) {
    if (!settleUnsavedEdits())
        return false;
    // The book shown until now is left here: remember where.
    if (isVisible())
        rememberPosition();
    // The text area takes its final size before the book arrives: a width change after
    // a long text has arrived lays out the whole text once more. A hidden reader is
    // shown maximised and given a moment to reach that size.
    if (!isVisible()) {
        setWindowState(windowState() | Qt::WindowMaximized);
        show();
        QElapsedTimer waited;
        waited.start();
        while (!(windowHandle() && windowHandle()->isExposed()) && waited.elapsed() < 200)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    }
    raise();
    activateWindow();
    layout()->activate();
    // One read of the file; a failure leaves the book shown until now.
    BookText read = BookText::readFile(path);
    // The contents panel scans the file as read; its bytes are shared, not copied.
    auto asRead = std::make_shared<const BookText>(read);
    auto book = std::make_shared<BookDocument>(std::move(read));
    book->setFileStamp(fileStamp(path));
    View->setBook(std::move(book));
    StatusBar->setPanelText(1, path);
    m_navigation->bookOpened(path, std::move(asRead));
    return true;
}

void TMainForm::openBookAt(const QString& path, qint64 offset, int length) {
    // The place given replaces the remembered one.
    if (!showAndLoad(path))
        return;
    View->select(offset, offset + length);
    View->centerOffset(offset);
    ShowCaretPosition();
    offerRecovery(path);
}

void TMainForm::bookDeleted(const QString& path) {
    if (path.isEmpty())
        return;
    // Edits kept for it must not be offered to a later book of the same name.
    AnchoredPath(recoveryPath(path)).unlink();
    if (StatusBar->panelText(1) != path)
        return;
    View->setBook(nullptr);
    StatusBar->setPanelText(1, QString());
    RichEditChange();
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    guard([this] { FormShow(); });
}

void TMainForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Closing the reader (not the window manager minimising it) records where the book
    // was left.
    if (event->spontaneous())
        return;
    // The find dialog and the layout choices act on the reader: they go with it.
    FindDialog1->hide();
    LayoutDialog1->hide();
    guard([this] {
        rememberPosition();
        saveReadingState();
    });
}

QList<QToolButton*> TMainForm::shownButtons() const {
    QList<QToolButton*> shown;
    for (QToolButton* button :
         {ToolButton6, ToolButton2, ToolButton5, ToolButton4, ToolButton8, ToolButton7, ToolButton1,
          ToolButton3, m_navigation->contentsButton(), m_navigation->bookmarkButton()})
        if (button->isEnabled() && (button != ToolButton1 || m_saveAction->isVisible()))
            shown.append(button);
    return shown;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && qobject_cast<QToolButton*>(watched)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up ||
            key == Qt::Key_Down) {
            // Round at the ends.
            const QList<QToolButton*> shown = shownButtons();
            const qsizetype at = shown.indexOf(static_cast<QToolButton*>(watched));
            if (at >= 0) {
                const qsizetype step = key == Qt::Key_Left || key == Qt::Key_Up ? -1 : 1;
                shown[(at + step + shown.size()) % shown.size()]->setFocus(Qt::TabFocusReason);
                return true;
            }
        }
    }
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(key->keyCombination());
        for (const QKeySequence& sequence : std::as_const(m_keys))
            if (sequence.matches(pressed) == QKeySequence::ExactMatch) {
                event->ignore();
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TMainForm::FormShow() {
    ShowCaretPosition();
}

void TMainForm::FormActivate() {
    if (!(windowState() & Qt::WindowMaximized))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TMainForm::ShowCaretPosition() {
    showProgress();
    const qsizetype start = View->selectionStart();
    const int line = View->lineOfChar(start);
    // A far place is shown once the worker has counted the display lines before it.
    StatusBar->setPanelText(0, line < 0
                                   ? QStringLiteral("Строка: ...   Символ: ...")
                                   : QString::asprintf("Строка: %3d   Символ: %3d", line + 1,
                                                       int(start - View->lineStartOf(start)) + 1));
    const bool selected = View->selectionLength() > 0;
    CutButton->setEnabled(selected);
    CopyButton->setEnabled(selected);
}

void TMainForm::SelectionChange() {
    ShowCaretPosition();
}

void TMainForm::RichEditChange() {
    UndoButton->setEnabled(View->canUndo());
}

void TMainForm::ToolButton6Click() {
    hide();
}

void TMainForm::ToolButton2Click() {
    FindDialog1->show();
    FindDialog1->raise();
    FindDialog1->activateWindow();
}

void TMainForm::FindDialog1Find() {
    const QString wanted = FindDialog1->findText();
    FindDialog1->hide();
    if (wanted.isEmpty())
        return;
    find(wanted, FindDialog1->searchDown());
}

void TMainForm::findAgain(bool forward) {
    const QString wanted = FindDialog1->findText();
    if (wanted.isEmpty()) {
        ToolButton2Click();
        return;
    }
    find(wanted, forward);
}

void TMainForm::showNotFound(const QString& wanted) {
    Dialogs::instance().beep(); // the selection stays
    QString shown = wanted;
    if (shown.size() > 60)
        shown = shown.left(60) + QStringLiteral("…");
    NotFoundNote->setText(QStringLiteral("Не найдено: %1").arg(shown));
    NotFoundNote->adjustSize();
    const QWidget* area = View;
    NotFoundNote->move(area->geometry().center().x() - NotFoundNote->width() / 2,
                       area->geometry().top() + 12);
    NotFoundNote->show();
    NotFoundNote->raise();
    QAccessibleEvent event(NotFoundNote, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
    // The note goes by itself; a newer one starts its time again.
    static int shownCount = 0;
    const int count = ++shownCount;
    QTimer::singleShot(2500, NotFoundNote, [this, count] {
        if (count == shownCount)
            NotFoundNote->hide();
    });
}

void TMainForm::find(const QString& wanted, bool forward) {
    NotFoundNote->hide();
    // Down from the end of the selection, or up from before its start, in the book's
    // own characters, in either mode.
    BookDocument::FindOptions options;
    options.forward = forward;
    options.wholeWord = FindDialog1->wholeWord();
    options.matchCase = FindDialog1->matchCase();
    const qsizetype from =
        options.forward ? View->selectionStart() + View->selectionLength() : View->selectionStart();
    const qsizetype found = View->book()->find(wanted, from, options);
    if (found < 0) {
        showNotFound(wanted);
        return;
    }
    m_navigation->aboutToJump();
    View->setFocus(Qt::OtherFocusReason);
    View->setSelectionStart(found);
    View->setSelectionLength(wanted.size());
}

void TMainForm::ToolButton5Click() {
    const std::optional<QColor> colour = Dialogs::instance().chooseColour(this, m_colourChoice);
    if (!colour)
        return;
    m_colourChoice = *colour;
    View->setBackgroundColour(*colour);
    followBackground(*colour);
    if (m_reading) {
        m_reading->setBackground(*colour);
        saveReadingState();
    }
}

void TMainForm::ToolButton4Click() {
    const std::optional<FontChoice> choice = Dialogs::instance().chooseFont(this, m_fontChoice);
    if (!choice)
        return;
    m_fontChoice = *choice;
    m_fontChosen = true;
    m_textFont = choice->font;
    m_zoom = 0;
    View->setTextFont(choice->font, choice->colour);
    if (m_reading) {
        m_reading->setFont(choice->font, choice->colour);
        saveReadingState();
    }
}

void TMainForm::zoomText(int steps) {
    const int zoom = std::clamp(m_zoom + steps, -8, 12);
    if (zoom == m_zoom && steps != 0)
        return;
    m_zoom = zoom;
    const int top = firstVisibleOffset();
    applyFace();
    View->scrollOffsetToTop(top);
    ShowCaretPosition();
}

void TMainForm::followBackground(const QColor& background) {
    const bool dark = qGray(background.rgb()) < 128;
    QPalette palette;
    if (dark) {
        palette = QApplication::palette();
        const QColor window(0x2d, 0x2d, 0x30), text(0xdc, 0xdc, 0xdc);
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::Window, window);
            palette.setColor(group, QPalette::WindowText, text);
            palette.setColor(group, QPalette::Button, window.lighter(120));
            palette.setColor(group, QPalette::ButtonText, text);
            palette.setColor(group, QPalette::Base, QColor(0x1e, 0x1e, 0x20));
            palette.setColor(group, QPalette::AlternateBase, window);
            palette.setColor(group, QPalette::Text, text);
            palette.setColor(group, QPalette::Light, window.lighter(160));
            palette.setColor(group, QPalette::Midlight, window.lighter(130));
            palette.setColor(group, QPalette::Mid, window.darker(130));
            palette.setColor(group, QPalette::Dark, window.darker(160));
            palette.setColor(group, QPalette::Shadow, Qt::black);
            palette.setColor(group, QPalette::ToolTipBase, window);
            palette.setColor(group, QPalette::ToolTipText, text);
        }
        palette.setColor(QPalette::Disabled, QPalette::Window, window);
        palette.setColor(QPalette::Disabled, QPalette::Button, window);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
        palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    }
    // A light background gives the desktop's own colours back.
    for (QWidget* widget :
         {static_cast<QWidget*>(ToolBar1), static_cast<QWidget*>(StatusBar),
          static_cast<QWidget*>(View->verticalScrollBar()), static_cast<QWidget*>(NotFoundNote),
          static_cast<QWidget*>(FindDialog1), static_cast<QWidget*>(LayoutDialog1)}) {
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    }
}

void TMainForm::ToolButton8Click() {
    LayoutDialog1->setBookLayout(m_layout);
    LayoutDialog1->show();
    LayoutDialog1->raise();
    LayoutDialog1->activateWindow();
}

void TMainForm::applyLayout(const BookLayout& layout) {
    if (layout == m_layout)
        return;
    m_layout = layout;
    View->setBookLayout(layout);
    applyFace();
    ShowCaretPosition();
    if (m_reading) {
        m_reading->setLayout(layout);
        saveReadingState();
    }
}

void TMainForm::applyPresetColours(const QColor& text, const QColor& background) {
    m_fontChoice.colour = text;
    m_colourChoice = background;
    View->setTextFont(View->font(), text);
    View->setBackgroundColour(background);
    followBackground(background);
    if (m_reading) {
        if (m_reading->font())
            m_reading->setFont(*m_reading->font(), text);
        else
            m_reading->setTextColour(text);
        m_reading->setBackground(background);
        saveReadingState();
    }
}

void TMainForm::showProgress() {
    const qint64 length = View->textLength();
    const qint64 first = firstVisibleOffset();
    // The last page of a book longer than the window is its end: 100 %, not the share
    // before the page's first line.
    const QScrollBar* bar = View->verticalScrollBar();
    const bool atEnd = bar->maximum() > 0 && bar->value() == bar->maximum();
    if (StatusBar->panelText(1).isEmpty() || length <= 0) {
        StatusBar->setPanelText(2, QString());
        return;
    }
    const qint64 percent = atEnd ? 100 : std::clamp<qint64>(first * 100 / length, 0, 100);
    if (!View->paged()) {
        StatusBar->setPanelText(2, QStringLiteral("%1 %").arg(percent));
        return;
    }
    // Pages: «стр. 37 из 1 204»; while they are counted, about which page of about how
    // many, and the share.
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const int count = View->pageCount();
    const int page = View->pageNumber();
    if (count > 0 && page >= 0) {
        StatusBar->setPanelText(2, QStringLiteral("стр. %1 из %2")
                                       .arg(russian.toString(page + 1), russian.toString(count)));
        return;
    }
    const int estimate = std::max(1, View->estimatedPageCount());
    const QString shown =
        page >= 0
            ? russian.toString(page + 1)
            : QStringLiteral("≈") +
                  russian.toString(std::clamp<qint64>(first * estimate / length + 1, 1, estimate));
    StatusBar->setPanelText(2, QStringLiteral("стр. %1 из ≈%2 (%3 %)")
                                   .arg(shown, russian.toString(estimate))
                                   .arg(percent));
}

void TMainForm::ToolButton7Click() {
    // The same text area either way: the top line, the caret and the selection stay.
    const bool viewing = View->isReadOnly();
    View->setReadOnly(!viewing);
    m_modeImage = viewing ? 12 : 9;
    ToolButton7->setIcon(ToolbarImages::icon(m_modeImage));
    m_saveAction->setVisible(viewing);
    m_contextMenu = viewing ? PopupMenu1 : PopupMenu2;
    View->setContextMenuPolicy(Qt::CustomContextMenu);
    if (isActiveWindow())
        View->setFocus(Qt::OtherFocusReason);
    RichEditChange();
    ShowCaretPosition();
}

void TMainForm::ToolButton1Click() {
    const QString path = StatusBar->panelText(1);
    // Another program changed, replaced or deleted the file since it was opened: its
    // version is not overwritten, nor the file made again, without a word.
    BookDocument& book = *View->book();
    const QByteArray stamp = fileStamp(path);
    if (stamp != book.fileStamp() &&
        !Dialogs::instance().confirm(
            this,
            stamp.isEmpty()
                ? QStringLiteral("Файл книги «%1» удалён другой программой после открытия. "
                                 "Сохранить вашу версию?")
                      .arg(bookName(path))
                : QStringLiteral("Файл книги «%1» изменён другой программой после открытия. "
                                 "Заменить его вашей версией?")
                      .arg(bookName(path)),
            stamp.isEmpty() ? QStringLiteral("Сохранить") : QStringLiteral("Заменить")))
        return;
    // Characters the code page lacks would become «?»: the user decides first.
    const QString lost = Library::lostCharactersQuestion(book.lostCharacters());
    if (!lost.isEmpty() && !Dialogs::instance().confirm(this, lost, QStringLiteral("Сохранить")))
        return;
    book.save(path, QStringLiteral("Cannot create file %1").arg(AnchoredPath::current(path)),
              QStringLiteral("Failed to Save Stream"));
    book.setFileStamp(fileStamp(path));
    book.setModified(false);
    // The place is kept for the book as it now is (a place is kept only while the book's
    // size is the one remembered with it); a hidden reader saving through the unsaved-edits
    // question is not remembered again at its close.
    rememberPosition();
    RichEditChange();
    // The contents follow the save; the document becomes one piece again meanwhile.
    const std::shared_ptr<const BookMarkup> shown = View->markup();
    m_navigation->bookSaved(
        path, [this] { return View->settle(); }, shown.get());
    Q_EMIT bookSaved(path);
}

void TMainForm::ToolButton3Click() {
    if (m_printing)
        throw TomeriaError(QStringLiteral("Printing in progress"));
    if (!Dialogs::instance().choosePrinter(this, m_printer))
        return;
    if (m_printing)
        throw TomeriaError(QStringLiteral("Printing in progress"));
    m_printing = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_printing};
    // The pages come from the book itself, in the text area's font and colour. Between
    // pages the window answers: the book printing stays alive and unedited meanwhile.
    const std::shared_ptr<BookDocument> book = View->book();
    const bool wasReadOnly = View->isReadOnly();
    View->setReadOnly(true);
    struct Restore {
        BookView* view;
        std::shared_ptr<BookDocument> book;
        bool readOnly;
        ~Restore() {
            if (view->book() == book)
                view->setReadOnly(readOnly);
        }
    } restore{View, book, wasReadOnly};
    PrintJob::print(m_printer, *book, View->textFont(), View->textColour(), QStringLiteral("text"),
                    this);
}

void TMainForm::UndoButtonClick() {
    View->undo();
}
void TMainForm::CutButton1Click() {
    View->cutSelection();
}
void TMainForm::N2Click() {
    View->copySelection();
}
void TMainForm::N3Click() {
    View->paste();
}
void TMainForm::N5Click() {
    View->selectAll();
}
