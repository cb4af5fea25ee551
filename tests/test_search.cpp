#include "core/base/regular_file.h"
#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "support/test_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>

using TestFiles::cp1251;

// The search index over real book files in a library folder, its cache in a temporary
// XDG_CACHE_HOME: word forms and the query language, the places' CR LF offsets, and
// how the index follows the library and survives damage.
class TestSearch : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_library;
    std::unique_ptr<QTemporaryDir> m_cache;
    SearchIndexer::Books m_books;

    QString bookPath(const QString& name) const {
        return m_library->filePath(QStringLiteral("books/") + name + QStringLiteral(".boo"));
    }
    void writeBook(const QString& name, const QByteArray& bytes) {
        QDir(m_library->path()).mkpath(QStringLiteral("books"));
        TestFiles::write(bookPath(name), bytes);
        for (const auto& book : m_books) {
            if (book.first == name)
                return;
        }
        m_books.append({name, bookPath(name)});
    }
    QString location() const { return SearchIndex::locationFor(m_library->path()); }
    // Runs an indexer over the library as a start of the program does, until it is idle.
    void indexLibrary(QString* failure = nullptr) {
        SearchIndexer indexer(location());
        QSignalSpy failed(&indexer, &SearchIndexer::failed);
        indexer.follow(m_books);
        QTRY_VERIFY_WITH_TIMEOUT(!indexer.busy(), 20000);
        if (failure)
            *failure = failed.isEmpty() ? QString() : failed.first().first().toString();
    }
    QStringList booksFound(const QString& query) {
        SearchIndex index(location());
        QStringList names;
        for (const SearchBook& book : index.search(query).books)
            names << book.name;
        names.sort();
        return names;
    }
    // The text at a place, as the reader would select it (CR LF offsets).
    static QString textAt(const QString& book, const SearchPlace& place) {
        return book.mid(place.offset, place.length);
    }

private Q_SLOTS:
    void init() {
        m_library = std::make_unique<QTemporaryDir>();
        m_cache = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CACHE_HOME", m_cache->path().toUtf8());
        m_books.clear();
        writeBook(QStringLiteral("Война"),
                  cp1251(QStringLiteral("Началась война.\r\nО войне говорили все; войной жили.\r\n"
                                        "Князь Андрей читал письмо. Ёлка стояла.")));
        writeBook(QStringLiteral("Мир"),
                  cp1251(QStringLiteral("Мирная жизнь. Она читала книгу у окна.\nКнязь "
                                        "пришёл, а Андрей ушёл.")));
        writeBook(QStringLiteral("Сад"), cp1251(QStringLiteral("Вишнёвый сад и ЁЛКИ. Прочтение.")));
        indexLibrary();
    }

    void queryLanguage_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("books");
        const QString war = QStringLiteral("Война");
        const QString peace = QStringLiteral("Мир");
        const QString garden = QStringLiteral("Сад");
        QTest::newRow("word forms of a noun") << QStringLiteral("войны") << QStringList{war};
        QTest::newRow("forms of a verb") << QStringLiteral("читать") << QStringList{war, peace};
        QTest::newRow("case and ё") << QStringLiteral("ЕЛКА") << QStringList{war, garden};
        QTest::newRow("ё in the query") << QStringLiteral("пришел") << QStringList{peace};
        QTest::newRow("all words in one book")
            << QStringLiteral("князь андрей") << QStringList{war, peace};
        QTest::newRow("phrase") << QStringLiteral("\"князь андрей\"") << QStringList{war};
        QTest::newRow("phrase left open") << QStringLiteral("\"андрей читал") << QStringList{war};
        QTest::newRow("prefix") << QStringLiteral("мирн*") << QStringList{peace};
        QTest::newRow("exclusion") << QStringLiteral("князь -война") << QStringList{peace};
        QTest::newRow("only exclusions") << QStringLiteral("-князь") << QStringList{};
        QTest::newRow("signs alone") << QStringLiteral("- * \" ") << QStringList{};
        QTest::newRow("word not there") << QStringLiteral("самовар") << QStringList{};
    }
    void queryLanguage() {
        QFETCH(QString, query);
        QFETCH(QStringList, books);
        QCOMPARE(booksFound(query), books);
    }

    // Offsets count each line break as two characters whatever the file holds, so the
    // reader selects exactly the matched words; snippets put them in bold.
    void placesAreReaderOffsets() {
        SearchIndex index(location());
        const QString war = QStringLiteral("Началась война.\r\nО войне говорили все; войной "
                                           "жили.\r\nКнязь Андрей читал письмо. Ёлка стояла.");
        const QList<SearchPlace> places =
            index.places(QStringLiteral("война"), QStringLiteral("Война")).listed;
        QCOMPARE(places.size(), 3);
        QCOMPARE(textAt(war, places[0]), QStringLiteral("война"));
        QCOMPARE(textAt(war, places[1]), QStringLiteral("войне"));
        QCOMPARE(textAt(war, places[2]), QStringLiteral("войной"));
        QVERIFY2(places[2].snippet.contains(QStringLiteral("<b>войной</b>")),
                 qPrintable(places[2].snippet));

        // A lone LF is one line break too: two characters in the reader.
        const QString peace = QStringLiteral("Мирная жизнь. Она читала книгу у окна.\r\nКнязь "
                                             "пришёл, а Андрей ушёл.");
        const QList<SearchPlace> phrase =
            index.places(QStringLiteral("\"а андрей\""), QStringLiteral("Мир")).listed;
        QCOMPARE(phrase.size(), 1);
        QCOMPARE(textAt(peace, phrase[0]), QStringLiteral("а Андрей"));
    }

    void bookWithMorePlacesRanksHigher() {
        writeBook(QStringLiteral("Редко"),
                  cp1251(QStringLiteral("Один кот и много иных слов тут.")));
        writeBook(QStringLiteral("Часто"), cp1251(QStringLiteral("Кот, коты, котом и кота тут.")));
        indexLibrary();
        SearchIndex index(location());
        const SearchResult result = index.search(QStringLiteral("кот"));
        QCOMPARE(result.books.size(), 2);
        QCOMPARE(result.books[0].name, QStringLiteral("Часто"));
        QCOMPARE(result.books[0].placeCount, 4);
        QCOMPARE(result.placeCount, 5);
    }

    // Deleted, edited and changed-outside books: the index follows at the next look.
    void followsTheLibrary() {
        {
            SearchIndexer indexer(location());
            indexer.bookRemoved(QStringLiteral("Мир"));
            writeBook(QStringLiteral("Сад"), cp1251(QStringLiteral("Теперь здесь самовар.")));
            indexer.bookChanged(QStringLiteral("Сад"), bookPath(QStringLiteral("Сад")));
            QTRY_VERIFY(!indexer.busy());
        }
        QCOMPARE(booksFound(QStringLiteral("андрей")), QStringList{QStringLiteral("Война")});
        QCOMPARE(booksFound(QStringLiteral("самовар")), QStringList{QStringLiteral("Сад")});
        QCOMPARE(booksFound(QStringLiteral("вишня")), QStringList{});

        // Changed while the program was closed: a new size is noticed at the next start,
        // a book gone is removed, a new one added.
        writeBook(QStringLiteral("Война"), cp1251(QStringLiteral("Только самовары.")));
        QFile::remove(bookPath(QStringLiteral("Мир")));
        writeBook(QStringLiteral("Новая"), cp1251(QStringLiteral("Самоваром.")));
        indexLibrary();
        QCOMPARE(
            booksFound(QStringLiteral("самовар")),
            (QStringList{QStringLiteral("Война"), QStringLiteral("Новая"), QStringLiteral("Сад")}));
        QCOMPARE(booksFound(QStringLiteral("князь")), QStringList{});
    }

    // Book files of odd kinds: a FIFO and a link to /dev/zero are never read (the
    // indexer would wait or read without end), a file over the size limit never taken
    // into memory; the other books are indexed as usual.
    void oddBookFilesAreSkipped() {
        QDir(m_library->path()).mkpath(QStringLiteral("books"));
        QCOMPARE(::mkfifo(QFile::encodeName(bookPath(QStringLiteral("Труба"))).constData(), 0600),
                 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), bookPath(QStringLiteral("Ноль"))));
        const QString huge = bookPath(QStringLiteral("Огромная"));
        TestFiles::write(huge, cp1251(QStringLiteral("Князь ")));
        QFile grown(huge);
        QVERIFY(grown.open(QIODevice::ReadWrite) && grown.resize(RegularFile::kMaxSize + 1));
        grown.close();
        for (const QString& name :
             {QStringLiteral("Труба"), QStringLiteral("Ноль"), QStringLiteral("Огромная")})
            m_books.append({name, bookPath(name)});
        QString failure;
        indexLibrary(&failure);
        QCOMPARE(failure, QString());
        QCOMPARE(booksFound(QStringLiteral("князь")),
                 (QStringList{QStringLiteral("Война"), QStringLiteral("Мир")}));
    }

    void damagedIndexIsRebuilt() {
        QDirIterator files(location(), QDir::Files);
        int damaged = 0;
        while (files.hasNext()) {
            TestFiles::write(files.next(), QByteArray(64, '\x5a'));
            ++damaged;
        }
        QVERIFY(damaged > 0);
        QCOMPARE(booksFound(QStringLiteral("война")), QStringList{});
        QString failure;
        indexLibrary(&failure);
        QCOMPARE(failure, QString());
        QCOMPARE(booksFound(QStringLiteral("война")), QStringList{QStringLiteral("Война")});
    }

    // A cache folder that cannot be written (a file stands where it should be, which
    // stops even the super-user): the indexer says why it stopped, nothing is found.
    void unwritableCacheFolder() {
        QDir(m_cache->filePath(QStringLiteral("tomeria"))).removeRecursively();
        TestFiles::write(m_cache->filePath(QStringLiteral("tomeria")), "not a folder");
        QString failure;
        indexLibrary(&failure);
        QCOMPARE(failure, QStringLiteral("папка указателя недоступна для записи"));
        QCOMPARE(booksFound(QStringLiteral("война")), QStringList{});
    }

    // One index is written by one indexer: a second one (another copy of the program)
    // leaves it alone and says so, while the first goes on.
    void oneWriterAtATime() {
        SearchIndexer first(location());
        first.follow(m_books);
        QTRY_VERIFY(!first.busy());
        QString failure;
        indexLibrary(&failure);
        QCOMPARE(failure, QStringLiteral("указатель занят другой копией программы"));
        writeBook(QStringLiteral("Сад"), cp1251(QStringLiteral("самовар")));
        first.bookChanged(QStringLiteral("Сад"), bookPath(QStringLiteral("Сад")));
        QTRY_VERIFY(!first.busy());
        QCOMPARE(booksFound(QStringLiteral("самовар")), QStringList{QStringLiteral("Сад")});
    }

    void indexNeverInsideTheLibrary() {
        QVERIFY(location().startsWith(m_cache->path() + QStringLiteral("/tomeria/")));
        QDirIterator files(m_library->path(), QDir::Files | QDir::Hidden,
                           QDirIterator::Subdirectories);
        QStringList all;
        while (files.hasNext())
            all << QDir(m_library->path()).relativeFilePath(files.next());
        all.sort();
        QCOMPARE(all,
                 (QStringList{QStringLiteral("books/Война.boo"), QStringLiteral("books/Мир.boo"),
                              QStringLiteral("books/Сад.boo")}));
        // Two library folders never share an index.
        QVERIFY(SearchIndex::locationFor(m_library->filePath(QStringLiteral("books"))) !=
                location());
    }
};

QTEST_GUILESS_MAIN(TestSearch)
#include "test_search.moc"
