#include <QTest>
class TestBookView : public QObject { Q_OBJECT };
QTEST_MAIN(TestBookView)
#include "test_book_view.moc"
