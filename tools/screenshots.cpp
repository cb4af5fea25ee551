// Makes the README's pictures: the library window, the add-book panel, the reader (plain
// and «Книжная») and the search window, each drawn by the real windows over a copy of the sample
// library; the reader's contents over a book with chapters written beside it; given a
// whole book (a text in code page 1251), the reader's four presets and «Разворот» over it.
//   screenshots LIBRARY_FOLDER OUTPUT_FOLDER [BOOK]

#include "core/base/cp1251.h"
#include "core/search/search_indexer.h"
#include "core/text/book_layout.h"
#include "ui/app/application.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/status_panels.h"
#include "ui/dialogs/dialogs.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/library_window.h"
#include "ui/reader/layout_dialog.h"
#include "ui/reader/navigation_panel.h"
#include "ui/reader/reader_navigation.h"
#include "ui/reader/reader_window.h"
#include "ui/search/search_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

namespace {

// Answers the open-file dialog with the sample RTF file and every question with OK.
class ScriptedDialogs : public Dialogs {
public:
    explicit ScriptedDialogs(QString file) : m_file(std::move(file)) {}
    QString openFile(QWidget*, const QString&) override { return m_file; }
    bool confirm(QWidget*, const QString&, const QString& = QString()) override { return true; }
    void message(QWidget*, const QString&) override {}
    void beep() override {}

private:
    QString m_file;
};

void save(QWidget& widget, const QString& path) {
    QCoreApplication::processEvents();
    widget.grab().save(path);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setUpApplication(app);
    if (argc != 3 && argc != 4)
        return 2;
    const QString wholeBook =
        argc == 4 ? QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath() : QString();
    const QString out = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    Dialogs::install(
        std::make_unique<ScriptedDialogs>(QDir::current().filePath(QStringLiteral("импорт.rtf"))));

    TForm1 form;
    TMainForm reader;
    form.setReaderWindow(&reader);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    QListWidget* list = form.ListBox1;
    list->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    save(form, out + QStringLiteral("/library.png"));

    form.N9Click();
    QCoreApplication::processEvents();
    form.SpeedButton1Click();
    form.zametki->setText(QStringLiteral("образец для импорта"));
    save(form, out + QStringLiteral("/adding.png"));
    form.ColorBtn2Click();

    reader.resize(1000, 700);
    reader.openBook(form.folder().BookPath(list->item(0)->text()));
    reader.setWindowState(Qt::WindowNoState);
    reader.resize(1000, 700);
    save(reader, out + QStringLiteral("/reader.png"));
    // The same page set as a book («Книжная»), then the plain look back.
    reader.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
    save(reader, out + QStringLiteral("/reader-book.png"));
    reader.LayoutDialog1->presetButton(QStringLiteral("Как в редакторе"))->click();

    // The contents of a book with parts and chapters, the chapter at the top marked.
    QString chapters;
    const QString prose = QStringLiteral(
        "Отец мой Андрей Петрович Гринев в молодости своей служил при графе Минихе и вышел "
        "в отставку премьер-майором. С тех пор жил он в своей Симбирской деревне.\r\n");
    const QStringList names{QStringLiteral("СЕРЖАНТ ГВАРДИИ"), QStringLiteral("ВОЖАТЫЙ"),
                            QStringLiteral("КРЕПОСТЬ"),        QStringLiteral("ПОЕДИНОК"),
                            QStringLiteral("ЛЮБОВЬ"),          QStringLiteral("ПУГАЧЕВЩИНА")};
    const QStringList roman{QStringLiteral("I"),  QStringLiteral("II"), QStringLiteral("III"),
                            QStringLiteral("IV"), QStringLiteral("V"),  QStringLiteral("VI")};
    for (int c = 0; c < names.size(); ++c) {
        if (c % 3 == 0)
            chapters += QStringLiteral("\r\nЧасть %1\r\n")
                            .arg(c == 0 ? QStringLiteral("первая") : QStringLiteral("вторая"));
        chapters += QStringLiteral("\r\nГЛАВА %1\r\n%2\r\n\r\n").arg(roman[c], names[c]);
        for (int p = 0; p < 12; ++p)
            chapters += prose;
    }
    const QString book = QDir::current().filePath(QStringLiteral("books/Капитанская дочка.boo"));
    QFile file(book);
    if (file.open(QIODevice::WriteOnly))
        file.write(Cp1251::encode(chapters));
    file.close();
    reader.openBook(book);
    reader.setWindowState(Qt::WindowNoState);
    reader.resize(1000, 700);
    reader.navigation()->toggleContents();
    while (!reader.Navigation->headingsKnown())
        QTest::qWait(20);
    reader.navigation()->jumpTo(reader.Navigation->headings()[2].offset);
    reader.navigation()->addBookmark();
    save(reader, out + QStringLiteral("/reader-contents.png"));
    reader.navigation()->toggleContents();
    reader.hide();
    QFile::remove(book);

    // A whole book in each preset at the screen's size, then two pages side by side once
    // they are counted.
    if (!wholeBook.isEmpty()) {
        const QString copy = QDir::current().filePath(QStringLiteral("books/Мёртвые души.boo"));
        QFile::copy(wholeBook, copy);
        reader.openBook(copy);
        reader.setWindowState(Qt::WindowNoState);
        reader.resize(reader.screen()->size());
        while (!reader.Navigation->headingsKnown())
            QTest::qWait(20);
        const QList<std::pair<QString, QString>> presets{
            {QStringLiteral("Как в редакторе"), QStringLiteral("editor")},
            {QStringLiteral("Книжная"), QStringLiteral("book")},
            {QStringLiteral("Ночная"), QStringLiteral("night")},
            {QStringLiteral("Сепия"), QStringLiteral("sepia")}};
        for (const auto& [name, file] : presets) {
            reader.LayoutDialog1->presetButton(name)->click();
            save(reader, out + QStringLiteral("/reader-preset-%1.png").arg(file));
        }
        reader.LayoutDialog1->presetButton(QStringLiteral("Как в редакторе"))->click();
        reader.LayoutDialog1->presetButton(QStringLiteral("Книжная"))->click();
        reader.LayoutDialog1->pagesBox()->setCurrentIndex(int(BookLayout::Pages::Spread));
        for (int waited = 0; waited < 30000 && (!reader.View->linesCounted() ||
                                                reader.StatusBar->panelText(2).contains(u'≈'));
             waited += 50)
            QTest::qWait(50);
        save(reader, out + QStringLiteral("/reader-spread.png"));
        reader.LayoutDialog1->pagesBox()->setCurrentIndex(int(BookLayout::Pages::Ribbon));
        reader.LayoutDialog1->presetButton(QStringLiteral("Как в редакторе"))->click();
        reader.hide();
        QFile::remove(copy);
    }

    while (form.searchIndexer()->busy())
        QTest::qWait(50);
    form.TextSearchItemClick();
    SearchWindow* search = form.searchWindow();
    search->resize(900, 420);
    search->QueryEdit->setText(QStringLiteral("войной"));
    search->runSearch();
    search->Results->expandItem(search->Results->topLevelItem(0));
    if (!QTest::qWaitForWindowExposed(search))
        return 1;
    save(*search, out + QStringLiteral("/search.png"));
    return 0;
}
