#include "core/base/regular_file.h"
#include "core/search/book_words.h"
#include "core/search/index_format.h"
#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "core/search/search_query.h"
#include "support/test_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <random>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using TestFiles::cp1251;

namespace {

// Makes a folder and the files in it unwritable for the time of a test, the super-user
// included (the immutable attribute); undone at the end. False when neither works here.
class Unwritable {
public:
    explicit Unwritable(const QString& folder) {
        m_paths << folder;
        for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files))
            m_paths << file.filePath();
        for (const QString& path : m_paths)
            m_ok = set(path, true) && m_ok;
    }
    ~Unwritable() {
        for (const QString& path : m_paths)
            set(path, false);
    }
    bool ok() const { return m_ok; }

private:
    static bool set(const QString& path, bool on) {
        if (::geteuid() != 0) {
            TestFiles::setReadOnly(path, on);
            return true;
        }
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }
    QStringList m_paths;
    bool m_ok = true;
};

// A passage of `count` words from the books' vocabulary.
QString passage(int count) {
    const QStringList words = QStringLiteral("война князь андрей читал письмо мир жизнь окно "
                                             "книга сад и а на в")
                                  .split(QLatin1Char(' '));
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << words[(i * 7 + i / 3) % words.size()];
    return out.join(QLatin1Char(' '));
}

} // namespace

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
    // Starts as the program does on a possibly damaged index: the indexer follows the
    // library; a search that finds the index damaged has it repaired, then searches
    // again. Returns the books found; `rebuilt` tells whether the indexer said it
    // rebuilt the index.
    QStringList startAndSearch(const QString& query, bool* rebuilt = nullptr) {
        SearchIndexer indexer(location());
        QSignalSpy rebuiltSpy(&indexer, &SearchIndexer::rebuilt);
        QSignalSpy failed(&indexer, &SearchIndexer::failed);
        indexer.follow(m_books);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!indexer.busy(), 20000); }();
        SearchIndex index(location());
        SearchResult result = index.search(query);
        if (result.damaged) {
            indexer.repair();
            [&] { QTRY_VERIFY_WITH_TIMEOUT(!indexer.busy(), 20000); }();
            index.reopen();
            result = index.search(query);
        }
        if (rebuilt)
            *rebuilt = !rebuiltSpy.isEmpty() && indexer.wasRebuilt();
        QStringList names;
        if (!failed.isEmpty())
            names << QStringLiteral("failed: ") + failed.first().first().toString();
        if (result.damaged)
            names << QStringLiteral("still damaged");
        for (const SearchBook& book : result.books)
            names << book.name;
        names.sort();
        return names;
    }
    QString postlist() const { return location() + QStringLiteral("/postlist.glass"); }

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
        QTest::newRow("only exclusions") << QStringLiteral("-князь") << QStringList{garden};
        QTest::newRow("exclusions alone") << QStringLiteral("-война -сад") << QStringList{peace};
        QTest::newRow("signs alone") << QStringLiteral("- * \" ") << QStringList{};
        QTest::newRow("word not there") << QStringLiteral("самовар") << QStringList{};
    }
    void queryLanguage() {
        QFETCH(QString, query);
        QFETCH(QStringList, books);
        QCOMPARE(booksFound(query), books);
    }

    // A prefix finds every word that begins with it although the index holds stems, which
    // may end inside the prefix: a whole word with a star finds its forms too, and so does
    // a pasted passage where a footnote's star follows a word. The best place's snippet
    // shows the word found in bold.
    void prefixes_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("books");
        QTest::addColumn<QString>("bold");
        const QString war = QStringLiteral("Война");
        const QString peace = QStringLiteral("Мир");
        const QString general = QStringLiteral("Кутузов");
        QTest::newRow("a whole word's other form")
            << QStringLiteral("мирные*") << QStringList{peace} << QStringLiteral("Мирная");
        QTest::newRow("a whole word")
            << QStringLiteral("войной*") << QStringList{war} << QStringLiteral("войной");
        QTest::newRow("stem shorter than the prefix")
            << QStringLiteral("главнокомандующ*") << QStringList{general}
            << QStringLiteral("главнокомандующим");
        QTest::newRow("passage with a footnote's star")
            << QStringLiteral("Кутузов был назначен главнокомандующим.* Он уехал.")
            << QStringList{general} << QStringLiteral("главнокомандующим");
        QTest::newRow("start of a stem")
            << QStringLiteral("мирн*") << QStringList{peace} << QStringLiteral("Мирная");
        QTest::newRow("a shorter stem is no prefix")
            << QStringLiteral("мира*") << QStringList{} << QString();
        QTest::newRow("no word") << QStringLiteral("самовар*") << QStringList{} << QString();
    }
    void prefixes() {
        QFETCH(QString, query);
        QFETCH(QStringList, books);
        QFETCH(QString, bold);
        writeBook(QStringLiteral("Кутузов"),
                  cp1251(QStringLiteral("Кутузов был назначен главнокомандующим.* Он уехал.\r\n"
                                        "* Примечание.")));
        indexLibrary();
        QCOMPARE(booksFound(query), books);
        if (!bold.isEmpty()) {
            SearchIndex index(location());
            const QString snippet = index.search(query).books.value(0).best.snippet;
            QVERIFY2(snippet.contains(QStringLiteral("<b>") + bold + QStringLiteral("</b>")),
                     qPrintable(snippet));
        }
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

    // A word finds every inflected form of itself, whichever way the stemmer cut each:
    // a surname in «ов» (cut to «базар» in the nominative only) and a name in «ей»
    // («Андрей» cut to «андр», «Андрея» to «андре»). A word the book writes with a
    // capital more often than not is its surname; «базар» does not find it, and in a
    // book where «базаров» is the plural of «базар» it stays so. The places counted in
    // «Отцы» and in «Рынок».
    void wordForms_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("inNovel");
        QTest::addColumn<int>("inMarket");
        QTest::newRow("surname") << QStringLiteral("Базаров") << 8 << 0;
        QTest::newRow("surname's other form") << QStringLiteral("Базаровым") << 8 << 0;
        QTest::newRow("other form in lower case") << QStringLiteral("базарову") << 8 << 0;
        QTest::newRow("lower case: the surname or the plural")
            << QStringLiteral("базаров") << 9 << 3;
        QTest::newRow("the common noun") << QStringLiteral("базар") << 1 << 3;
        QTest::newRow("the common noun's plural") << QStringLiteral("базары") << 1 << 3;
        QTest::newRow("name in «ей»") << QStringLiteral("Андрей") << 3 << 0;
        QTest::newRow("its other form") << QStringLiteral("андрея") << 3 << 0;
        QTest::newRow("phrase with another form")
            << QStringLiteral("\"смотрел на базарова\"") << 1 << 0;
        QTest::newRow("phrase with a name's other form")
            << QStringLiteral("\"андрей сказал\"") << 1 << 0;
    }
    void wordForms() {
        QFETCH(QString, query);
        QFETCH(int, inNovel);
        QFETCH(int, inMarket);
        writeBook(QStringLiteral("Отцы"),
                  cp1251(QStringLiteral(
                      "Базаров встал. Аркадий смотрел на Базарова. С Базаровым спорили.\r\n"
                      "Базаров кивнул. "
                      "Базарову не спалось; о Базарове говорили. Базаров ушёл. На базаре "
                      "шумно. Андрей пришёл. Андрея ждали. Андрею сказали. Базаровы.")));
        writeBook(QStringLiteral("Рынок"),
                  cp1251(QStringLiteral("На базар пришли. У базаров много людей. Базары.")));
        indexLibrary();
        SearchIndex index(location());
        QCOMPARE(index.places(query, QStringLiteral("Отцы")).count, inNovel);
        QCOMPARE(index.places(query, QStringLiteral("Рынок")).count, inMarket);
        // The snippet shows the surname's forms in bold.
        if (query == QStringLiteral("Базаровым")) {
            const QString snippet =
                index.places(query, QStringLiteral("Отцы")).listed.value(0).snippet;
            QVERIFY2(snippet.startsWith(QStringLiteral("<b>Базаров</b>")), qPrintable(snippet));
        }
    }

    // Made-up surnames in «ов», «ев» and «ин», named in every book, then each written in
    // random case forms in random sentences: any form of a surname, with a capital or without,
    // finds every place of it in every book (and with a capital, only those).
    void surnamesModel() {
        std::mt19937 random(20261208);
        const QStringList syllables =
            QStringLiteral("бра ку ле мо зи ро та пе фу гло шва нди").split(QLatin1Char(' '));
        const QStringList endings = QStringLiteral("%1 %1а %1у %1ым %1е").split(QLatin1Char(' '));
        const QStringList suffixes{QStringLiteral("ов"), QStringLiteral("ев"),
                                   QStringLiteral("ин")};
        QStringList surnames;
        while (surnames.size() < 12) {
            QString base;
            for (int k = 0; k < 3; ++k)
                base += syllables[int(random() % syllables.size())];
            base[0] = base[0].toUpper();
            const QString name = base + suffixes[int(random() % suffixes.size())];
            if (!surnames.contains(name))
                surnames << name;
        }
        QHash<QString, QHash<QString, int>> count; // book, surname
        for (int b = 0; b < 4; ++b) {
            const QString book = QStringLiteral("Книга %1").arg(b);
            QString text;
            for (const QString& surname : surnames) { // a surname is named often
                text += QStringLiteral("%1 встал, %1 сел, %1 ушёл.\r\n").arg(surname);
                count[book][surname] += 3;
            }
            for (int i = 0; i < 150; ++i) {
                const QString& surname = surnames[int(random() % surnames.size())];
                const QString form = endings[int(random() % endings.size())].arg(surname);
                text += QStringLiteral("Вечером %1 читал письмо.\r\n").arg(form);
                ++count[book][surname];
            }
            writeBook(book, cp1251(text));
        }
        indexLibrary();
        SearchIndex index(location());
        for (const QString& surname : surnames) {
            for (const QString& ending : endings) {
                const QString form = ending.arg(surname);
                for (const QString& query : {form, form.toLower()}) {
                    for (int b = 0; b < 4; ++b) {
                        const QString book = QStringLiteral("Книга %1").arg(b);
                        const qint64 found = index.places(query, book).count;
                        const int wanted = count[book][surname];
                        QVERIFY2(query == form ? found == wanted : found >= wanted,
                                 qPrintable(QStringLiteral("%1 in %2: %3 of %4")
                                                .arg(query, book)
                                                .arg(found)
                                                .arg(wanted)));
                    }
                }
            }
        }
    }

    // An index written by an earlier version of the program holds other terms: it is
    // made anew, so surnames are found in all their forms at once.
    void indexOfAnotherFormatIsRebuilt() {
        writeBook(
            QStringLiteral("Отцы"),
            cp1251(QStringLiteral("Базаров встал. Базаров сел. Базаров ушёл. Базарова ждали.")));
        indexLibrary();
        {
            Xapian::WritableDatabase db(QFile::encodeName(location()).toStdString(),
                                        Xapian::DB_OPEN);
            db.set_metadata(IndexFormat::kFormatKey, "1");
            db.delete_document(IndexFormat::idTerm(QStringLiteral("Отцы")));
            db.commit();
        }
        QCOMPARE(booksFound(QStringLiteral("Базаров")), QStringList{});
        indexLibrary();
        QCOMPARE(booksFound(QStringLiteral("Базаров")), QStringList{QStringLiteral("Отцы")});
        SearchIndex index(location());
        QCOMPARE(index.places(QStringLiteral("Базаров"), QStringLiteral("Отцы")).count, 4);
    }

    // Several words near each other in a whole book and in a short fragment of it: the
    // whole book, with more places, comes first (length weighing once put the fragment
    // first).
    void wholeBookAboveItsFragment() {
        QString whole;
        for (int i = 0; i < 200; ++i)
            whole += QStringLiteral("Князь Андрей Болконский молчал. Шёл дождь, и было "
                                    "тихо в долгих коридорах старого дома.\r\n");
        writeBook(QStringLiteral("Книга"), cp1251(whole));
        writeBook(QStringLiteral("Отрывок"),
                  cp1251(QStringLiteral("Князь Андрей Болконский молчал.")));
        indexLibrary();
        SearchIndex index(location());
        const SearchResult result = index.search(QStringLiteral("князь андрей болконский"));
        QCOMPARE(result.books.size(), 2);
        QCOMPARE(result.books[0].name, QStringLiteral("Книга"));
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

    // Damage of every shape: the program never aborts, the index is made anew (and the
    // indexer says so where it noticed), and every book is found again.
    void damagedIndex_data() {
        QTest::addColumn<QString>("shape");
        QTest::newRow("random bytes over each 8 KB block of the postings in turn")
            << QStringLiteral("block");
        QTest::newRow("postings cut short") << QStringLiteral("cut");
        QTest::newRow("postings cut to nothing") << QStringLiteral("empty");
        QTest::newRow("commit failed half-way: postings of the commit before")
            << QStringLiteral("half commit");
        QTest::newRow("version file gone") << QStringLiteral("no version");
    }
    void damagedIndex() {
        QFETCH(QString, shape);
        const QStringList all{QStringLiteral("Война")};
        if (shape == QStringLiteral("block")) {
            // The whole index as built, put back before each block is damaged.
            const auto pristine = TestFiles::snapshot(location());
            const qint64 blocks = QFileInfo(postlist()).size() / 8192;
            QVERIFY(blocks >= 2);
            std::mt19937 random(26);
            for (qint64 block = 0; block < blocks; ++block) {
                for (auto it = pristine.cbegin(); it != pristine.cend(); ++it)
                    TestFiles::write(location() + QLatin1Char('/') + it.key(), it.value());
                QFile file(postlist());
                QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(block * 8192));
                QByteArray junk(8192, Qt::Uninitialized);
                for (char& c : junk)
                    c = char(random());
                file.write(junk);
                file.close();
                QCOMPARE(startAndSearch(QStringLiteral("войной")), all);
            }
            return;
        }
        if (shape == QStringLiteral("cut")) {
            QFile file(postlist());
            QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(file.size() / 2 - 100));
        } else if (shape == QStringLiteral("empty")) {
            TestFiles::write(postlist(), {});
        } else if (shape == QStringLiteral("half commit")) {
            const QByteArray before = TestFiles::read(postlist());
            writeBook(QStringLiteral("Новая"), cp1251(QStringLiteral("Война началась снова.")));
            indexLibrary();
            TestFiles::write(postlist(), before);
        } else {
            QVERIFY(QFile::remove(location() + QStringLiteral("/iamglass")));
        }
        bool rebuilt = false;
        const QStringList found = startAndSearch(QStringLiteral("войной"), &rebuilt);
        if (shape == QStringLiteral("half commit"))
            QCOMPARE(found, (QStringList{QStringLiteral("Война"), QStringLiteral("Новая")}));
        else
            QCOMPARE(found, all);
        QVERIFY(rebuilt);
    }

    // A repair asked for an index that is whole (made anew meanwhile, or damage a
    // search only thought it saw) leaves it as it is.
    void repairLeavesAWholeIndex() {
        SearchIndexer indexer(location());
        QSignalSpy rebuilt(&indexer, &SearchIndexer::rebuilt);
        indexer.repair();
        QTRY_VERIFY(!indexer.busy());
        QVERIFY(rebuilt.isEmpty());
        QCOMPARE(booksFound(QStringLiteral("войной")), QStringList{QStringLiteral("Война")});
    }

    // What keeps the index from being written is told by the system's error, whatever
    // the locale: an index folder that cannot be written is not "taken by another copy".
    void indexProblems_data() {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("message");
        QTest::newRow("locked by another copy")
            << QStringLiteral("locked")
            << QStringLiteral("указатель занят другой копией программы");
        QTest::newRow("index folder read-only")
            << QStringLiteral("read-only index")
            << QStringLiteral("папка указателя недоступна для записи");
        QTest::newRow("cache folder read-only, no index yet")
            << QStringLiteral("read-only cache")
            << QStringLiteral("папка указателя недоступна для записи");
    }
    void indexProblems() {
        QFETCH(QString, problem);
        QFETCH(QString, message);
        std::unique_ptr<SearchIndexer> holder;
        std::unique_ptr<Unwritable> unwritable;
        if (problem == QStringLiteral("locked")) {
            holder = std::make_unique<SearchIndexer>(location());
            holder->follow(m_books);
            QTRY_VERIFY(!holder->busy());
        } else if (problem == QStringLiteral("read-only index")) {
            unwritable = std::make_unique<Unwritable>(location());
        } else {
            QDir(location()).removeRecursively();
            unwritable = std::make_unique<Unwritable>(m_cache->filePath(QStringLiteral("tomeria")));
        }
        if (unwritable && !unwritable->ok())
            QSKIP("files cannot be made unwritable here");
        writeBook(QStringLiteral("Сад"), cp1251(QStringLiteral("Самовар.")));
        QString failure;
        indexLibrary(&failure);
        QCOMPARE(failure, message);
    }

    // A pasted passage: only its first 100 words are searched, and the result says so;
    // a word repeated counts once; a book's places are counted in full and listed up to
    // the limit.
    void longQueries() {
        BookWords::Stemmer stemmer;
        const SearchQuery hundred = SearchQuery::parse(passage(100), stemmer);
        QVERIFY(!hundred.cut);
        const SearchQuery thousand = SearchQuery::parse(passage(1000), stemmer);
        QVERIFY(thousand.cut);
        QCOMPARE(thousand.parts.size(), hundred.parts.size());
        QVERIFY(hundred.parts.size() <= 15); // the vocabulary's words, each once
        QCOMPARE(SearchQuery::parse(QStringLiteral("кот ").repeated(99), stemmer).parts.size(),
                 size_t(1));

        SearchIndex index(location());
        const SearchResult cut = index.search(passage(1000));
        QVERIFY(cut.cut);
        QVERIFY(!index.search(passage(100)).cut);
        QCOMPARE(cut.placeCount, index.search(passage(100)).placeCount);

        writeBook(QStringLiteral("Коты"), cp1251(QStringLiteral("Кот и кошка. ").repeated(2500)));
        indexLibrary();
        index.reopen();
        const SearchPlaces places = index.places(QStringLiteral("кот"), QStringLiteral("Коты"));
        QCOMPARE(places.count, 2500);
        QCOMPARE(places.listed.size(), SearchIndex::kMaxListedPlaces);
        QCOMPARE(places.listed.first().offset, 0);
        QCOMPARE(places.listed.last().offset, qint64(SearchIndex::kMaxListedPlaces - 1) * 13);
        QCOMPARE(index.search(QStringLiteral("кот")).books.value(0).placeCount, 2500);
    }

    // A search asked to give up stops and says its results are incomplete.
    void searchGivesUp() {
        SearchIndex index(location());
        QVERIFY(index.search(QStringLiteral("войной"), 50, [] { return true; }).cancelled);
        QVERIFY(index.places(QStringLiteral("войной"), QStringLiteral("Война"), [] { return true; })
                    .cancelled);
        QVERIFY(!index.search(QStringLiteral("войной")).cancelled);
    }

    // Snippets as plain text too (a screen reader's words), the same text without tags.
    void snippetsAsPlainText() {
        SearchIndex index(location());
        const SearchPlace place =
            index.places(QStringLiteral("войной"), QStringLiteral("Война")).listed.value(0);
        QCOMPARE(place.text, QStringLiteral("Началась война. О войне говорили все; войной жили. "
                                            "Князь Андрей читал письмо. Ёлка стояла."));
        QVERIFY2(place.snippet.contains(QStringLiteral("<b>войной</b>")),
                 qPrintable(place.snippet));
    }

    // Book files replaced after indexing by a FIFO or by a link to /dev/zero: a search
    // neither waits for a writer nor reads without end; those books show no snippet.
    void snippetsOfOddBookFiles() {
        writeBook(QStringLiteral("Юникод"),
                  QStringLiteral("\uFEFFКнязь Андрей в кодировке UTF-8.").toUtf8());
        indexLibrary();
        const QString fifo = bookPath(QStringLiteral("Война"));
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        for (const QString& name : {QStringLiteral("Мир"), QStringLiteral("Юникод")}) {
            QFile::remove(bookPath(name));
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), bookPath(name)));
        }
        // Should the search open the FIFO, a writer comes after ten seconds to end it.
        std::atomic_bool done{false};
        std::atomic_bool hung{false};
        std::thread watchdog([&] {
            for (int i = 0; i < 100 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!done) {
                hung = true;
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
        SearchIndex index(location());
        const SearchResult result = index.search(QStringLiteral("князь"));
        const SearchPlaces places = index.places(QStringLiteral("князь"), QStringLiteral("Война"));
        done = true;
        watchdog.join();
        QVERIFY(!hung);
        QCOMPARE(result.books.size(), 3);
        for (const SearchBook& book : result.books)
            QCOMPARE(book.best.snippet, QString());
        QCOMPARE(places.count, 1);
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
