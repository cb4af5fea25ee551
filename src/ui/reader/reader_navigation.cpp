#include "ui/reader/reader_navigation.h"

#include "core/book/book_document.h"
#include "core/book/book_text.h"
#include "core/book/note_references.h"
#include "core/library/book_companions.h"
#include "core/library/reading_state.h"
#include "ui/dialogs/dialogs.h"
#include "ui/reader/bookmark_margin.h"
#include "ui/reader/navigation_panel.h"
#include "ui/reader/toolbar_images.h"

#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

QToolButton* toolButton(QToolBar* bar, const QString& name, const QString& hint, int image) {
    auto* button = new QToolButton(bar);
    button->setObjectName(name);
    button->setIcon(ToolbarImages::icon(image));
    button->setToolTip(hint);
    // The name without its key, for screen readers, as the reader's other buttons.
    button->setAccessibleName(hint.section(QStringLiteral(" ("), 0, 0));
    button->setAccessibleDescription(hint);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    bar->addWidget(button);
    return button;
}

} // namespace

ReaderNavigation::ReaderNavigation(QWidget* window, QToolBar* toolBar, NavigationPanel* panel,
                                   ReaderPlaces places)
    : QObject(window), m_window(window), m_panel(panel), m_places(std::move(places)) {
    m_contentsButton = toolButton(toolBar, QStringLiteral("ContentsButton"),
                                  QStringLiteral("Содержание (Ctrl+T)"), 14);
    m_contentsButton->setCheckable(true);
    m_bookmarkButton = toolButton(toolBar, QStringLiteral("BookmarkButton"),
                                  QStringLiteral("Закладка (Ctrl+D)"), 15);
    connect(m_contentsButton, &QToolButton::clicked, this, [this] { toggleContents(); });
    connect(m_bookmarkButton, &QToolButton::clicked, this, [this] { addBookmark(); });

    const auto key = [this](QKeySequence sequence, void (ReaderNavigation::*slot)()) {
        auto* shortcut = new QShortcut(sequence, m_window);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, slot);
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_T), &ReaderNavigation::toggleContents);
    key(QKeySequence(Qt::CTRL | Qt::Key_D), &ReaderNavigation::addBookmark);
    key(QKeySequence(Qt::CTRL | Qt::Key_G), &ReaderNavigation::goTo);
    key(QKeySequence(Qt::CTRL | Qt::Key_PageDown), &ReaderNavigation::nextHeading);
    key(QKeySequence(Qt::CTRL | Qt::Key_PageUp), &ReaderNavigation::previousHeading);
    key(QKeySequence(Qt::ALT | Qt::Key_Left), &ReaderNavigation::back);
    key(QKeySequence(Qt::ALT | Qt::Key_Right), &ReaderNavigation::forward);

    m_editPause = new QTimer(this);
    m_editPause->setSingleShot(true);
    m_editPause->setInterval(kEditPause);
    connect(m_editPause, &QTimer::timeout, this, [this] { followEditing(); });

    m_panel->hide();
    if (m_places.document)
        m_panel->setEditedTextSource([this](qsizetype from, qsizetype to) {
            const BookDocument* book = m_places.document();
            if (!book)
                return QString();
            return book->text(std::clamp<qsizetype>(from, 0, book->length()),
                              std::clamp<qsizetype>(to, 0, book->length()));
        });
    connect(m_panel, &NavigationPanel::jumpRequested, this,
            [this](qsizetype offset) { jumpTo(offset); });
    connect(m_panel, &NavigationPanel::escaped, this, [this] { m_places.focusText(); });
    connect(m_panel, &NavigationPanel::tabChanged, this, [this] { rememberPanel(); });
    if (m_places.viewport && m_places.rectOf) {
        m_margin = new BookmarkMargin(m_places.viewport, m_places.rectOf, [this] {
            // At most a screenful of long lines after the top: nothing far is laid out.
            const qsizetype top = m_places.top();
            return std::pair<qsizetype, qsizetype>(top, top + 1024 * qsizetype(200));
        });
        connect(m_panel, &NavigationPanel::bookmarksChanged, this, [this] {
            std::vector<qsizetype> places;
            for (const Bookmark& b : m_panel->bookmarks().list())
                places.push_back(m_panel->editedPlace(b.offset));
            m_margin->setPlaces(std::move(places));
        });
    }
}

void ReaderNavigation::setReadingState(ReadingState* state) {
    m_reading = state;
    if (m_reading && m_reading->panel() != 0)
        showPanel(m_reading->panel() - 1);
}

void ReaderNavigation::bookOpened(const QString& path, std::shared_ptr<const BookText> text) {
    m_history.clear();
    m_editPause->stop();
    // A book of the library (books/NAME.boo) keeps its contents and bookmarks beside it.
    const QFileInfo file(path);
    QString contents;
    QString marks;
    if (file.suffix() == u"boo" && file.dir().dirName() == u"books") {
        const QString base = file.absolutePath() + u'/' + file.completeBaseName();
        contents = base + QStringLiteral(".toc");
        marks = base + QStringLiteral(".bmk");
    }
    m_contentsPath = contents;
    m_panel->setBook(std::move(text), contents, marks);
    topChanged();
}

void ReaderNavigation::bookSaved(const QString& path,
                                 const std::function<std::optional<BookText>()>& settle,
                                 const BookMarkup* shown) {
    m_editPause->stop();
    const BookDocument* book = m_places.document ? m_places.document() : nullptr;
    std::shared_ptr<const BookText> before = m_panel->text();
    if (book && before && book->readInto(*before)) {
        // The document knows what changed since the text the panel holds; the panel
        // lets that text go and the document settles in the same memory: a big book is
        // never held twice.
        const TextChange change = book->changeSinceRead();
        before.reset();
        const BookStamp was = m_panel->letTextGo();
        if (std::optional<BookText> settled = settle()) {
            auto after = std::make_shared<const BookText>(std::move(*settled));
            if (!m_contentsPath.isEmpty())
                BookCompanions::followSave(
                    m_contentsPath, was, change,
                    QByteArrayView(reinterpret_cast<const char*>(after->bytes()), after->length()),
                    shown);
            m_panel->followEdit(change, std::move(after));
            return;
        }
    }
    // A wide book, or a panel that read a text of its own: the file is read again.
    std::shared_ptr<const BookText> after;
    try {
        after = std::make_shared<const BookText>(BookText::readFile(path));
    } catch (...) {
        return; // the next opening reads it
    }
    if (!before || before->isWide() || after->isWide()) {
        bookOpened(path, after);
        return;
    }
    const QByteArrayView old(reinterpret_cast<const char*>(before->bytes()), before->length());
    const QByteArrayView now(reinterpret_cast<const char*>(after->bytes()), after->length());
    const TextChange change = TextChange::between(old, now);
    if (!m_contentsPath.isEmpty())
        BookCompanions::followSave(m_contentsPath, BookStamp::of(old), change, now, shown);
    before.reset();
    m_panel->followEdit(change, after);
    settle();
}

void ReaderNavigation::textEdited() {
    const BookDocument* book = m_places.document ? m_places.document() : nullptr;
    // The view tells of each edit, undo and redo, with the document's last changes (an
    // undo back to the text as saved among them); a book just opened has none.
    if (!book || book->lastChanges().empty())
        return;
    // The document is the one the panel was given for (the same length, or edited since).
    std::vector<TextChange> changes;
    for (const BookDocument::Change& c : book->lastChanges())
        changes.push_back(TextChange{c.from, c.removed, c.inserted});
    const std::shared_ptr<const BookMarkup> shown = m_places.markup ? m_places.markup() : nullptr;
    m_panel->followChanges(changes, shown ? &shown->headings : nullptr);
    m_editPause->start();
}

void ReaderNavigation::followEditing() {
    const BookDocument* book = m_places.document ? m_places.document() : nullptr;
    if (!book)
        return;
    // Only the table of pieces is taken here; the text is made of them and scanned on
    // the panel's worker.
    m_panel->followEditing(book->textSnapshot());
}

void ReaderNavigation::followColours() {
    if (!m_places.colours)
        return;
    const auto [text, background] = m_places.colours();
    m_panel->setColours(text, background);
}

bool ReaderNavigation::eventFilter(QObject* watched, QEvent* event) {
    // The view paints in its colours: the panel follows them, whatever chose them.
    if (event->type() == QEvent::Paint && watched == m_places.viewport)
        followColours();
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Home || key->key() == Qt::Key_End) &&
            (key->modifiers() & Qt::ControlModifier))
            aboutToJump();
        const bool editing = m_places.editing && m_places.editing();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !editing &&
            key->modifiers() == Qt::NoModifier && m_places.caret &&
            followReference(m_places.caret()))
            return true;
    } else if (event->type() == QEvent::MouseButtonRelease && m_places.offsetAt) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // A click (Ctrl+click while editing), not the end of a selection.
        const bool editing = m_places.editing && m_places.editing();
        const Qt::KeyboardModifiers wanted = editing ? Qt::ControlModifier : Qt::NoModifier;
        if (mouse->button() == Qt::LeftButton && mouse->modifiers() == wanted && m_places.caret &&
            m_places.caret() >= 0)
            followReference(m_places.offsetAt(mouse->position().toPoint()));
    }
    return QObject::eventFilter(watched, event);
}

bool ReaderNavigation::followReference(qsizetype offset) {
    // The references are looked for in the text as last read or saved, at the place the
    // edits since have moved the click from; a reference typed since is not one yet.
    const std::shared_ptr<const BookText> text = m_panel->text();
    if (!text || offset < 0)
        return false;
    const std::optional<NoteReferences::Reference> reference =
        NoteReferences::at(*text, m_panel->savedPlace(offset));
    if (!reference)
        return false;
    qsizetype target = NoteReferences::target(*text, *reference, NoteReferences::notesStart(*text));
    if (target < 0)
        return false;
    target = m_panel->editedPlace(target);
    // After the click is handled: the view sets its caret at the click first.
    QMetaObject::invokeMethod(
        this, [this, target] { jumpTo(target); }, Qt::QueuedConnection);
    return true;
}

void ReaderNavigation::topChanged() {
    if (m_panel->isVisible())
        m_panel->setTopOffset(m_places.top());
}

void ReaderNavigation::aboutToJump() {
    m_history.jumped(m_places.top());
}

void ReaderNavigation::jumpTo(qsizetype offset) {
    aboutToJump();
    m_places.showAtTop(offset);
    topChanged();
}

bool ReaderNavigation::panelShown() const {
    return m_panel->isVisible();
}

void ReaderNavigation::showPanel(int tab) {
    if (tab == 1)
        m_panel->showBookmarks();
    else
        m_panel->showContents();
    m_panel->show();
    m_contentsButton->setChecked(true);
    m_panel->setTopOffset(m_places.top());
}

void ReaderNavigation::rememberPanel() {
    if (!m_reading)
        return;
    m_reading->setPanel(m_panel->isHidden() ? 0 : m_panel->currentTab() + 1);
    m_reading->trySave();
}

void ReaderNavigation::toggleContents() {
    if (m_panel->isHidden()) {
        showPanel(0);
        m_panel->currentList()->setFocus();
    } else {
        m_panel->hide();
        m_contentsButton->setChecked(false);
        m_places.focusText();
    }
    rememberPanel();
}

void ReaderNavigation::addBookmark() {
    m_panel->addBookmark(m_places.top());
}

void ReaderNavigation::goTo() {
    bool ok = false;
    const QString answer = QInputDialog::getText(
        m_window, QStringLiteral("Перейти"),
        QStringLiteral("Номер строки или доля книги («45 %»):"), QLineEdit::Normal, QString(), &ok);
    if (!ok || answer.trimmed().isEmpty())
        return;
    static const QRegularExpression percent(QStringLiteral("^\\s*(\\d{1,3})\\s*%\\s*$"));
    static const QRegularExpression line(QStringLiteral("^\\s*(\\d{1,9})\\s*$"));
    const qsizetype length = m_places.length();
    if (const auto m = percent.match(answer); m.hasMatch() && m.captured(1).toInt() <= 100) {
        jumpTo(length * m.captured(1).toInt() / 100);
        return;
    }
    if (const auto m = line.match(answer); m.hasMatch() && m.captured(1).toInt() >= 1) {
        const qsizetype offset = m_places.offsetOfLine(m.captured(1).toInt() - 1);
        if (offset >= 0) {
            jumpTo(offset);
            return;
        }
        Dialogs::instance().beep();
        Dialogs::instance().message(
            m_window,
            QStringLiteral("Строки книги ещё считаются: перейдите по доле книги («45 %»)."));
        return;
    }
    Dialogs::instance().beep();
    Dialogs::instance().message(
        m_window, QStringLiteral("Введите номер строки или долю книги, например «45 %»."));
}

void ReaderNavigation::nextHeading() {
    const qsizetype next = m_panel->nextHeading(m_places.top());
    if (next >= 0)
        jumpTo(next);
}

void ReaderNavigation::previousHeading() {
    const qsizetype previous = m_panel->previousHeading(m_places.top());
    if (previous >= 0)
        jumpTo(previous);
}

void ReaderNavigation::back() {
    if (const std::optional<qsizetype> place = m_history.back(m_places.top())) {
        m_places.showAtTop(*place);
        topChanged();
    }
}

void ReaderNavigation::forward() {
    if (const std::optional<qsizetype> place = m_history.forward(m_places.top())) {
        m_places.showAtTop(*place);
        topChanged();
    }
}
