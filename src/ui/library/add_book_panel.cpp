#include "ui/library/add_book_panel.h"

#include "core/base/regular_file.h"
#include "core/base/tomeria_error.h"
#include "core/formats/book_import.h"
#include "core/library/book_preparation.h"
#include "core/library/library.h"
#include "ui/controls/color_btn.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/guard.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/library_look.h"

#include <QAccessibleWidget>
#include <QActionGroup>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>

#include <algorithm>
#include <limits>

using namespace LibraryLook;

namespace {

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

// The code-page button to assistive technology: a button with a menu, the menu its
// child, so the menu's choices are in the tree before it pops up.
class MenuButtonAccessible : public QAccessibleWidget {
public:
    explicit MenuButtonAccessible(QPushButton* button)
        : QAccessibleWidget(button, QAccessible::ButtonMenu) {}
    int childCount() const override { return menu() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 && menu() ? QAccessible::queryAccessibleInterface(menu()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && menu() && child->object() == menu() ? 0 : -1;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && button()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction())
            button()->showMenu();
    }

private:
    QPushButton* button() const { return static_cast<QPushButton*>(object()); }
    QMenu* menu() const { return button()->menu(); }
};

// The code-page button: a class of its own, so that its accessible interface is ours.
class CodePageButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;
};

QAccessibleInterface* codePageAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("CodePageButton"))
        return new MenuButtonAccessible(static_cast<QPushButton*>(object));
    return nullptr;
}

} // namespace

AddBookPanel::AddBookPanel(Library& library, RichTextEditor* preview, QWidget* parent)
    : QFrame(parent), m_library(library), m_preview(preview) {
    setObjectName(QStringLiteral("Panel2"));
    setFixedHeight(86);
    paint(this, QColor(0, 128, 0));
    caption(QStringLiteral("Загрузить"), this, 10, 10);
    Dfail = field(QStringLiteral("Dfail"), this, QRect(120, 5, 276, 19));
    SpeedButton1 = new QPushButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(395, 6, 26, 19);
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setToolTip(QStringLiteral("Выбрать файл"));
    SpeedButton1->setAccessibleName(QStringLiteral("Выбрать файл"));
    caption(QStringLiteral("Название книги"), this, 10, 35);
    knigaimeno = field(QStringLiteral("knigaimeno"), this, QRect(120, 31, 301, 19));
    caption(QStringLiteral("Заметки"), this, 10, 60);
    zametki = field(QStringLiteral("zametki"), this, QRect(120, 56, 301, 19));
    // A pasted note is kept whole: the catalogue holds a note of any length.
    zametki->setMaxLength(std::numeric_limits<int>::max());
    keepOneLine(knigaimeno);
    keepOneLine(zametki);
    ColorBtn2 = new TColorBtn(this);
    ColorBtn2->setObjectName(QStringLiteral("ColorBtn2"));
    ColorBtn2->setText(QStringLiteral("Отмена"));
    ColorBtn2->setGeometry(450, 10, 126, 21);
    ColorBtn1 = new TColorBtn(this);
    ColorBtn1->setObjectName(QStringLiteral("ColorBtn1"));
    ColorBtn1->setText(QStringLiteral("Сохранить"));
    ColorBtn1->setGeometry(450, 50, 126, 21);
    buildCodePageChoice();
    // The keyboard goes through the panel as it reads, then into the preview.
    setTabOrder(Dfail, SpeedButton1);
    setTabOrder(SpeedButton1, knigaimeno);
    setTabOrder(knigaimeno, zametki);
    setTabOrder(zametki, ColorBtn2);
    setTabOrder(ColorBtn2, CodePageChoice);
    setTabOrder(CodePageChoice, ColorBtn1);
    setTabOrder(ColorBtn1, m_preview);
    // The preview is no place to edit a book in: Tab moves on, Ctrl+Tab types a tab.
    m_preview->setTabChangesFocus(true);
    m_preview->installEventFilter(this);
    Dfail->installEventFilter(this);

    hide();
}

bool AddBookPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (watched == Dfail && modifiers == Qt::NoModifier &&
        (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        // Enter in the file field: the file dialog when it is empty, else the path typed.
        const QString typed = Dfail->text().trimmed();
        guard([this, typed] { typed.isEmpty() ? browse() : previewFile(typed); });
        return true;
    }
    if (watched == m_preview && key->key() == Qt::Key_Tab && modifiers == Qt::ControlModifier) {
        m_preview->setTabChangesFocus(false);
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QCoreApplication::sendEvent(m_preview, &tab);
        m_preview->setTabChangesFocus(true);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void AddBookPanel::buildCodePageChoice() {
    // In the gap between «Отмена» and «Сохранить», where it moves no other control.
    CodePageChoice = new CodePageButton(codePageCaption(kCodePages[0]), this);
    CodePageChoice->setObjectName(QStringLiteral("CodePageChoice"));
    CodePageChoice->setGeometry(450, 32, 126, 17);
    CodePageChoice->setFont(sansSerif(11, false));
    CodePageChoice->setToolTip(QStringLiteral("Кодировка текста"));
    static const bool accessible = (QAccessible::installFactory(codePageAccessible), true);
    Q_UNUSED(accessible);
    auto* menu = new QMenu(CodePageChoice);
    menu->setObjectName(QStringLiteral("CodePageMenu"));
    menu->setAccessibleName(QStringLiteral("Кодировка текста"));
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

void AddBookPanel::setPlainTextSource(const QByteArray& bytes) {
    m_plainTextBytes = bytes;
    CodePageChoice->setVisible(!bytes.isNull());
    CodePageChoice->setText(codePageCaption(kCodePages[0]));
    CodePageChoice->menu()->actions().front()->setChecked(true);
}

void AddBookPanel::start() {
    m_preview->show();
    m_preview->setReadOnlyMode(false);
    m_preview->ClearText();
    knigaimeno->clear();
    knigaimeno->setModified(false); // the next file's first line is proposed again
    Dfail->clear();
    m_chosenPath.clear();
    setPlainTextSource(QByteArray());
    zametki->clear();
}

void AddBookPanel::finish() {
    m_preview->hide();
    m_preview->ClearText();
    setPlainTextSource(QByteArray());
}

void AddBookPanel::browse() {
    const QString path = Dialogs::instance().openFile(
        window(), BookImport::filterLine() + QStringLiteral("|Текстовые, RTF|*.txt;*.rtf"));
    // Cancelled: the file chosen before and its preview stay as they were.
    if (path.isEmpty())
        return;
    previewFile(path);
}

void AddBookPanel::previewFile(const QString& path) {
    // A file that holds no book is refused before anything changes: the file chosen
    // before and its preview stay.
    ImportedBook book;
    QByteArray bytes;
    if (!path.isEmpty() && !m_preview->PlainText()) {
        try {
            bytes = RegularFile::readBook(path);
        } catch (...) {
            clearChosenFile();
            throw;
        }
        book = BookImport::read(bytes);
        if (book.kind == ImportedBook::Kind::NotABook || book.kind == ImportedBook::Kind::TooBig) {
            Dialogs::instance().beep();
            Dialogs::instance().message(window(), book.kind == ImportedBook::Kind::TooBig
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
    if (m_preview->PlainText()) {
        m_preview->LoadFile(path);
    } else {
        if (book.kind == ImportedBook::Kind::PlainText)
            setPlainTextSource(bytes);
        m_pendingContents = BookCompanions::pendingOf(book);
        m_preview->ShowImported(std::move(book));
    }
    Dfail->setText(path);
    m_chosenPath = path;
    proposeName();
}

void AddBookPanel::proposeName() {
    // The first line is proposed as the name, in the form it can be stored in, unless
    // the user has typed one.
    if (!knigaimeno->isModified()) {
        knigaimeno->setText(proposedName());
        knigaimeno->setCursorPosition(0);
    }
}

void AddBookPanel::clearChosenFile() {
    m_pendingContents = {};
    m_preview->ClearText();
    Dfail->clear();
    m_chosenPath.clear();
    setPlainTextSource(QByteArray());
}

QString AddBookPanel::proposedName() {
    // The first display line of the preview that can name a book (blank lines before
    // the title would make a name that looks empty), named as the folder import names
    // a book's title.
    for (int line = 0; line < 64; ++line) {
        const QString name = BookPreparation::nameFromLine(m_preview->DisplayLine(line));
        if (!name.isEmpty())
            return name;
    }
    return QString();
}

void AddBookPanel::chooseCodePage(std::optional<ImportedText::CodePage> codePage) {
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
    m_preview->ClearText();
    m_preview->ShowImported(std::move(book));
    proposeName();
}

bool AddBookPanel::store() {
    QWidget* const owner = window();
    // A path typed but not loaded is no file chosen.
    const bool chosen = !Dfail->text().isEmpty() && Dfail->text() == m_chosenPath;
    const BookPreparation::Prepared book = BookPreparation::check(
        m_library, knigaimeno->text(), zametki->text(), m_preview->WholeText(), chosen);
    switch (book.refusal) {
    case BookPreparation::Refusal::None:
        break;
    case BookPreparation::Refusal::Duplicate:
        // The catalogue's own refusal, in the default error box.
        throw TomeriaError(book.message);
    default:
        // A name that is no file name ('/' in it) meets the file's refusal in the
        // default error box, as writing it would: the library refuses it unwritten.
        if (!BookFolder::isValidBookName(book.name) &&
            Library::unstorableNameCharacters(book.name).isEmpty() &&
            Library::nameFitsFileName(book.name))
            m_library.addBook(book.name, book.note, QByteArray());
        Dialogs::instance().beep();
        Dialogs::instance().message(owner, book.message);
        return false;
    }
    for (const BookPreparation::Question& question : book.questions)
        if (!Dialogs::instance().confirm(owner, question.text, question.confirmButton))
            return false;
    m_library.addBook(book.name, book.note, book.bytes);
    BookCompanions::keep(m_library.folder(), book.name, std::exchange(m_pendingContents, {}),
                         book.bytes);
    setPlainTextSource(QByteArray());
    return true;
}

#include "add_book_panel.moc"
