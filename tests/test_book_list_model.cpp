#include "core/library/library.h"
#include "ui/library/book_list_model.h"

#include <QAbstractItemModelTester>
#include <QCollator>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

// The book list model follows the library through its signals: after every add and
// delete it lists what a list read anew from the catalogue lists, in the order a plain
// sort by collation gives.
class TestBookListModel : public QObject {
    Q_OBJECT

    static QStringList reference(const QStringList& namesInCatalogueOrder) {
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        QStringList sorted = namesInCatalogueOrder;
        std::stable_sort(sorted.begin(), sorted.end(), [&](const QString& a, const QString& b) {
            return collator.compare(a.toCaseFolded(), b.toCaseFolded()) < 0;
        });
        return sorted.isEmpty() ? QStringList{QString()} : sorted;
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void followsTheLibrary_data() {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 7u, 2026u})
            QTest::newRow(qPrintable(QString::number(seed))) << seed;
    }
    void followsTheLibrary() {
        QFETCH(quint32, seed);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(QStringLiteral("books"));
        Library library;
        library.folder().setProgramFolder(dir.path() + QLatin1Char('/'));
        library.load(nullptr);
        BookListModel model(library);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 0); // nothing listed before the first reading
        model.reload();
        QCOMPARE(model.names(), QStringList{QString()}); // a new catalogue's blank row

        const QStringList pieces{QStringLiteral("а"), QStringLiteral("Б"), QStringLiteral("ё"),
                                 QStringLiteral("е"), QStringLiteral("z"), QStringLiteral("A"),
                                 QStringLiteral(" "), QStringLiteral("1"), QStringLiteral("я")};
        QRandomGenerator random(seed);
        QStringList listed; // in catalogue order
        for (int step = 0; step < 150; ++step) {
            if (listed.isEmpty() || random.bounded(3) != 0) {
                QString name;
                for (int i = 0, n = 1 + random.bounded(3); i < n; ++i)
                    name += pieces[random.bounded(pieces.size())];
                name = name.trimmed();
                const bool taken =
                    name.isEmpty() ||
                    std::any_of(listed.cbegin(), listed.cend(), [&](const QString& l) {
                        return l.compare(name, Qt::CaseInsensitive) == 0;
                    });
                if (taken)
                    continue;
                library.addBook(name, QString(), "x");
                listed.append(name);
            } else {
                const QString name = listed.takeAt(random.bounded(listed.size()));
                library.deleteBook(name);
            }
            QCOMPARE(model.names(), reference(listed));
            for (int row = 0; row < model.rowCount(); ++row)
                QCOMPARE(model.data(model.index(row)).toString(), model.nameAt(row));
        }
        const QStringList followed = model.names();
        model.reload();
        QCOMPARE(model.names(), followed);
    }

    void firstNameStartingWith_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("row");
        QTest::newRow("empty: the first") << QString() << 0;
        QTest::newRow("letter case ignored") << QStringLiteral("к") << 1;
        QTest::newRow("longer") << QStringLiteral("КНИГА") << 1;
        QTest::newRow("another") << QStringLiteral("ко") << 2;
        QTest::newRow("none") << QStringLiteral("я") << -1;
    }
    void firstNameStartingWith() {
        QFETCH(QString, text);
        QFETCH(int, row);
        QTemporaryDir dir;
        Library library;
        library.folder().setProgramFolder(dir.path() + QLatin1Char('/'));
        library.load(nullptr);
        for (const char* name : {"книга", "Альфа", "Колобок"})
            library.addBook(QString::fromUtf8(name), QString(), "x");
        BookListModel model(library);
        model.reload();
        QCOMPARE(model.names(), (QStringList{QStringLiteral("Альфа"), QStringLiteral("книга"),
                                             QStringLiteral("Колобок")}));
        QCOMPARE(model.firstStartingWith(text), row);
    }
};

QTEST_GUILESS_MAIN(TestBookListModel)
#include "test_book_list_model.moc"
