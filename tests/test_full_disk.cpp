// Writes on a disk that fills up part-way: run with the short-write library preloaded
// (see support/short_write_shim.cpp), which lets the files matching TOMERIA_FULL_DISK take
// TOMERIA_DISK_FREE bytes, then fails the rest of the write with ENOSPC. Every place the
// program writes must then keep the old file byte for byte, say so, and leave no
// temporary file behind.

#include "core/base/safe_file.h"
#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "support/full_disk.h"
#include "support/recording_dialogs.h"
#include "support/test_files.h"
#include "ui/bookview/book_view.h"
#include "ui/controls/color_btn.h"
#include "ui/editor/rich_text_editor.h"
#include "ui/library/library_window.h"
#include "ui/reader/reader_window.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <dlfcn.h>

using TestFiles::cp1251;

namespace {} // namespace

class TestFullDisk : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_cache;
    std::unique_ptr<DialogsScope> m_dialogs;
    std::unique_ptr<TMainForm> m_reader;
    std::unique_ptr<TForm1> m_form;
    QString m_previousFolder;

    QString path(const QString& name) const { return m_dir->filePath(name); }
    RecordingDialogs& dialogs() { return **m_dialogs; }
    TForm1& start() {
        m_reader = std::make_unique<TMainForm>();
        m_form = std::make_unique<TForm1>();
        m_form->setReaderWindow(m_reader.get());
        m_form->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_form.get());
        return *m_form;
    }
    // A library of two books with a long catalogue, so no write fits the free bytes.
    void makeLibrary() {
        QByteArray catalogue;
        for (int i = 0; i < 200; ++i)
            catalogue +=
                cp1251(QStringLiteral("Книга %1=заметка %1\r\n").arg(i, 3, 10, QChar('0')));
        TestFiles::write(path("books.dat"), catalogue);
        QDir().mkdir(path("books"));
        TestFiles::write(path(QStringLiteral("books/Книга 000.boo")), QByteArray(5000, 'a'));
        TestFiles::write(path(QStringLiteral("books/Книга 001.boo")), QByteArray(5000, 'b'));
    }
    void select(const QString& name) {
        QListWidget* list = m_form->ListBox1;
        const QListWidgetItem* item = list->findItems(name, Qt::MatchExactly).value(0);
        QVERIFY(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(::dlsym(RTLD_DEFAULT, "tomeria_short_write_shim_loaded"),
                 "run with the short-write library in LD_PRELOAD");
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_cache = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CACHE_HOME", m_cache->path().toUtf8());
        m_previousFolder = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        m_dialogs = std::make_unique<DialogsScope>();
    }
    void cleanup() {
        m_form.reset();
        m_reader.reset();
        m_dialogs.reset();
        QDir::setCurrent(m_previousFolder);
        m_dir.reset();
    }

    void aShortWriteNeverReplacesTheFile_data() {
        QTest::addColumn<int>("free");
        QTest::newRow("nothing fits") << 0;
        QTest::newRow("a few bytes fit") << 7;
        QTest::newRow("most of it fits") << 9000;
    }
    void aShortWriteNeverReplacesTheFile() {
        QFETCH(int, free);
        const QString target = path("file.txt");
        TestFiles::write(target, "old contents");
        const auto before = TestFiles::snapshot(m_dir->path());
        QString error;
        {
            const FullDisk disk(m_dir->path() + QStringLiteral("/*"), free);
            error = TestFiles::errorOf([&] {
                SafeFile::write(target, QByteArray(10000, 'n'), QStringLiteral("create"),
                                QStringLiteral("write"));
            });
        }
        QCOMPARE(error, QStringLiteral("write"));
        QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
        {
            const FullDisk roomy(m_dir->path() + QStringLiteral("/*"), 10000);
            SafeFile::write(target, QByteArray(10000, 'n'), QStringLiteral("create"),
                            QStringLiteral("write"));
        }
        QCOMPARE(TestFiles::read(target), QByteArray(10000, 'n'));
    }

    void addingABookOnAFullDisk_data() {
        QTest::addColumn<QString>("fullFiles");
        QTest::addColumn<QString>("message");
        QTest::newRow("the book file") << "books/*"
                                       << "Failed to Save Stream.";
        QTest::newRow("the catalogue") << "*books.dat*"
                                       << "Stream write error.";
    }
    void addingABookOnAFullDisk() {
        QFETCH(QString, fullFiles);
        QFETCH(QString, message);
        makeLibrary();
        const QString source = m_dir->filePath(
            QStringLiteral("../source-%1.txt").arg(QString::number(quintptr(this))));
        TestFiles::write(source, cp1251(QStringLiteral("Новая книга\n") + QString(3000, 'x')));
        TForm1& form = start();
        const auto before = TestFiles::snapshot(m_dir->path());
        form.N9->trigger();
        dialogs().files.enqueue(source);
        QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
        {
            const FullDisk disk(m_dir->path() + QLatin1Char('/') + fullFiles, 7);
            QTest::mouseClick(form.ColorBtn1, Qt::LeftButton);
        }
        QFile::remove(source);
        QCOMPARE(dialogs().texts("error"), QStringList{message});
        QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
        QVERIFY(
            form.ListBox1->findItems(QStringLiteral("Новая книга"), Qt::MatchExactly).isEmpty());
    }

    void deletingABookOnAFullDisk() {
        makeLibrary();
        TForm1& form = start();
        const auto before = TestFiles::snapshot(m_dir->path());
        select(QStringLiteral("Книга 001"));
        {
            const FullDisk disk(path(QStringLiteral("*books.dat*")), 7);
            form.N8->trigger();
        }
        QCOMPARE(dialogs().texts("error"), QStringList{QStringLiteral("Stream write error.")});
        QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
        QCOMPARE(form.ListBox1->count(), 200);
    }

    void savingABookOnAFullDisk() {
        makeLibrary();
        start();
        const QString book = path(QStringLiteral("books/Книга 000.boo"));
        m_reader->openBook(book);
        QTest::mouseClick(m_reader->ToolButton7, Qt::LeftButton);
        m_reader->Editor->insertText(QStringLiteral("правка "));
        const auto before = TestFiles::snapshot(m_dir->path());
        {
            const FullDisk disk(path(QStringLiteral("books/*")), 7);
            QTest::mouseClick(m_reader->ToolButton1, Qt::LeftButton);
        }
        QCOMPARE(dialogs().texts("error"), QStringList{QStringLiteral("Failed to Save Stream.")});
        QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
        QVERIFY(m_reader->Editor->book()->isModified());
    }

    void settingsAtExitOnAFullDisk() {
        makeLibrary();
        const QByteArray ini = "[TForm1]\r\nFormVersion=0\r\nPanel4_Width=160\r\n";
        TestFiles::write(path("tomeria.ini"), ini);
        TForm1& form = start();
        const auto before = TestFiles::snapshot(m_dir->path());
        {
            const FullDisk disk(path(QStringLiteral("*tomeria.ini*")), 7);
            dialogs().confirmations.enqueue(true);
            QVERIFY(form.close());
            m_form.reset();
        }
        const QString message = QStringLiteral("Unable to write to %1.").arg(path("tomeria.ini"));
        QVERIFY(!dialogs().texts("error").isEmpty());
        for (const QString& shown : dialogs().texts("error"))
            QCOMPARE(shown, message);
        QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
        QCOMPARE(TestFiles::read(path("tomeria.ini")), ini);
    }

    // The search index on a full disk: indexing stops with the reason for the status
    // line, what was indexed stays searchable, the library's files are never touched.
    void searchIndexOnAFullDisk() {
        makeLibrary();
        TestFiles::write(path(QStringLiteral("books/Книга 000.boo")),
                         cp1251(QStringLiteral("Война и мир.")));
        TForm1& form = start();
        SearchIndexer* indexer = form.searchIndexer();
        QTRY_VERIFY_WITH_TIMEOUT(!indexer->busy(), 20000);
        const QString location = SearchIndex::locationFor(form.folder().programFolder());
        TestFiles::write(path(QStringLiteral("books/Книга 001.boo")),
                         cp1251(QStringLiteral("самовар пыхтел ")).repeated(20000));
        const auto before = TestFiles::snapshot(m_dir->path());
        QSignalSpy failed(indexer, &SearchIndexer::failed);
        {
            const FullDisk disk(location + QStringLiteral("/*"), 4096);
            indexer->bookChanged(QStringLiteral("Книга 001"),
                                 path(QStringLiteral("books/Книга 001.boo")));
            QTRY_VERIFY_WITH_TIMEOUT(!indexer->busy(), 20000);
        }
        QCOMPARE(failed.value(0).value(0).toString(), QStringLiteral("нет места на диске"));
        QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
        SearchIndex index(location);
        QCOMPARE(index.search(QStringLiteral("войной")).books.value(0).name,
                 QStringLiteral("Книга 000"));
        QVERIFY(index.search(QStringLiteral("самовар")).books.isEmpty());
    }
};

QTEST_MAIN(TestFullDisk)
#include "test_full_disk.moc"
