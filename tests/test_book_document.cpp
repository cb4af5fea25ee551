#include "core/base/cp1251.h"
#include "core/base/tomeria_error.h"
#include "core/book/book_document.h"
#include "core/book/book_lines.h"

#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// The open book as the reader edits it, checked against a plain string kept beside it.
class TestBookDocument : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // The reference: the text as shown, its history as whole texts.
    struct Model {
        QString text;
        std::vector<QString> undo;
        std::vector<QString> redo;
        qsizetype typingEnd = -1; // where a letter typed now joins the step before
    };

    static QString normalised(QString text) {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        return text;
    }
    // A range widened to whole line breaks, as the document widens it.
    static void widen(const QString& text, qsizetype& from, qsizetype& to) {
        if (from > 0 && from < text.size() && text[from] == u'\n')
            --from;
        if (to > 0 && to < text.size() && text[to] == u'\n')
            ++to;
    }

    static std::vector<qsizetype> starts(const QString& text) {
        std::vector<qsizetype> s{0};
        for (qsizetype i = 0; i < text.size(); ++i)
            if (text[i] == u'\n')
                s.push_back(i + 1);
        return s;
    }

    static bool sameAsModel(const BookDocument& doc, const Model& model, QRandomGenerator& random,
                            QString* why) {
        if (doc.length() != model.text.size() || doc.wholeText() != model.text) {
            *why = QStringLiteral("text");
            return false;
        }
        const std::vector<qsizetype> s = starts(model.text);
        if (doc.paragraphCount() != int(s.size())) {
            *why = QStringLiteral("paragraph count %1, expected %2")
                       .arg(doc.paragraphCount())
                       .arg(s.size());
            return false;
        }
        for (size_t p = 0; p < s.size(); ++p)
            if (doc.paragraphStart(int(p)) != s[p]) {
                *why = QStringLiteral("paragraph %1 start").arg(p);
                return false;
            }
        int seen = 0;
        doc.forEachParagraph([&](int p, qsizetype start, qsizetype end) {
            if (start == s[size_t(p)] &&
                end == (size_t(p) + 1 < s.size() ? s[size_t(p) + 1] - 2 : model.text.size()))
                ++seen;
        });
        if (seen != int(s.size())) {
            *why = QStringLiteral("paragraph walk");
            return false;
        }
        for (int k = 0; k < 5; ++k) {
            const qsizetype at = random.bounded(int(model.text.size()) + 1);
            const int expected = int(std::upper_bound(s.begin(), s.end(), at) - s.begin()) - 1;
            if (doc.paragraphAt(at) != expected) {
                *why = QStringLiteral("paragraph at %1").arg(at);
                return false;
            }
            const qsizetype to = at + random.bounded(int(model.text.size() - at) + 1);
            if (doc.text(at, to) != model.text.mid(at, to - at)) {
                *why = QStringLiteral("text of a range");
                return false;
            }
            std::string bytes;
            std::u16string chars;
            const QString run =
                doc.isWide()
                    ? QString(reinterpret_cast<const QChar*>(doc.chars(at, to, chars)), to - at)
                    : Cp1251::decode(QByteArrayView(
                          reinterpret_cast<const char*>(doc.bytes(at, to, bytes)), to - at));
            QString shown = run;
            shown.replace(QChar(0), QChar(0x2400));
            if (shown != model.text.mid(at, to - at)) {
                *why = QStringLiteral("run of characters");
                return false;
            }
        }
        return true;
    }

    static QString randomText(QRandomGenerator& random, int length, bool wide) {
        static const QString letters = QStringLiteral("абвгд ежз ийк. Ё,\t-—ab12");
        QString out;
        for (int i = 0; i < length; ++i) {
            const int r = random.bounded(100);
            if (r < 6)
                out += QStringLiteral("\r\n");
            else if (r < 8)
                out += QLatin1Char('\n');
            else if (r < 9)
                out += QLatin1Char('\r');
            else if (r < 10)
                out += QChar::ParagraphSeparator;
            else if (r < 11 && wide)
                out += QStringLiteral("日");
            else if (r < 12)
                out += QChar(0x2400);
            else
                out += letters[random.bounded(int(letters.size()))];
        }
        return out;
    }

private Q_SLOTS:
    // 10,000 random edits, undos and redos; after each the text, the paragraphs and the
    // display lines are those of the plain string. Seeded: a failure names its seed and step.
    void randomEditsMatchAPlainString_data() {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<bool>("wide");
        QTest::newRow("code page, seed 1") << 1u << false;
        QTest::newRow("code page, seed 2") << 2u << false;
        QTest::newRow("letters beyond the code page, seed 3") << 3u << true;
    }
    void randomEditsMatchAPlainString() {
        QFETCH(quint32, seed);
        QFETCH(bool, wide);
        QRandomGenerator random(seed);
        const QString initial = normalised(randomText(random, 400, false));
        BookDocument doc = BookDocument::fromText(initial);
        Model model;
        model.text = initial;
        QString saved = initial;
        QString initialStored = initial;
        initialStored.replace(QChar(0x2400), QChar(0));
        QByteArray settledBytes = Cp1251::encodeStorable(initialStored);
        const int steps = 10000;
        for (int step = 0; step < steps; ++step) {
            const int op = random.bounded(100);
            const qsizetype size = model.text.size();
            qsizetype from = random.bounded(int(size) + 1);
            qsizetype to = std::min<qsizetype>(size, from + random.bounded(12));
            QString what;
            if (op < 35) { // a letter typed, often where the last one went
                if (model.typingEnd >= 0 && random.bounded(3) > 0)
                    from = model.typingEnd;
                widen(model.text, from, from);
                const QString letter = random.bounded(10) == 0
                                           ? QStringLiteral("\r\n")
                                           : randomText(random, 1, wide && random.bounded(50) == 0);
                const QString stored = normalised(letter);
                const qsizetype at = doc.replace(from, from, letter, true);
                QCOMPARE(at, from);
                if (from != model.typingEnd) {
                    model.undo.push_back(model.text);
                    model.redo.clear();
                }
                model.text.insert(from, stored);
                model.typingEnd = from + stored.size();
                what = QStringLiteral("type");
            } else if (op < 55) { // a deletion, perhaps across paragraph starts
                widen(model.text, from, to);
                doc.replace(from, to, QString());
                if (from != to) {
                    model.undo.push_back(model.text);
                    model.redo.clear();
                    model.text.remove(from, to - from);
                }
                model.typingEnd = -1;
                what = QStringLiteral("delete");
            } else if (op < 68) { // a paste over a selection, of several paragraphs
                const QString pasted =
                    randomText(random, random.bounded(40), wide && random.bounded(4) == 0);
                widen(model.text, from, to);
                doc.replace(from, to, pasted);
                const QString stored = normalised(pasted);
                if (from != to || !stored.isEmpty()) {
                    model.undo.push_back(model.text);
                    model.redo.clear();
                    model.text.replace(from, to - from, stored);
                }
                model.typingEnd = -1;
                what = QStringLiteral("paste");
            } else if (op < 76) { // a selection dragged elsewhere
                qsizetype at = random.bounded(int(size) + 1);
                widen(model.text, from, to);
                widen(model.text, at, at);
                const qsizetype moved = doc.move(from, to, at);
                if (from != to && (at < from || at > to)) {
                    model.undo.push_back(model.text);
                    model.redo.clear();
                    const QString piece = model.text.mid(from, to - from);
                    model.text.remove(from, to - from);
                    const qsizetype target = at > to ? at - (to - from) : at;
                    model.text.insert(target, piece);
                    QCOMPARE(moved, target);
                }
                model.typingEnd = -1;
                what = QStringLiteral("move");
            } else if (op < 88) {
                QCOMPARE(doc.canUndo(), !model.undo.empty());
                doc.undo();
                if (!model.undo.empty()) {
                    model.redo.push_back(model.text);
                    model.text = model.undo.back();
                    model.undo.pop_back();
                }
                model.typingEnd = -1;
                what = QStringLiteral("undo");
            } else if (op < 98) {
                QCOMPARE(doc.canRedo(), !model.redo.empty());
                doc.redo();
                if (!model.redo.empty()) {
                    model.undo.push_back(model.text);
                    model.text = model.redo.back();
                    model.redo.pop_back();
                }
                model.typingEnd = -1;
                what = QStringLiteral("redo");
            } else {
                doc.setModified(false);
                saved = model.text;
                // The text saved becomes one piece again: in its own memory, or copied
                // when a snapshot still holds the text before. The change found from the
                // pieces is the one between the two texts; the history goes on through it.
                QString stored = model.text;
                stored.replace(QChar(0x2400), QChar(0));
                const QByteArray now = Cp1251::encodeStorable(stored);
                if (!doc.isWide()) {
                    const TextChange found = doc.changeSinceRead();
                    const TextChange wanted = TextChange::between(settledBytes, now);
                    QCOMPARE(found.offset, wanted.offset);
                    QCOMPARE(found.removed, wanted.removed);
                    QCOMPARE(found.inserted, wanted.inserted);
                }
                std::function<BookText()> snapshot;
                if (random.bounded(2) == 0)
                    snapshot = doc.textSnapshot();
                const std::optional<BookText> settled = doc.settle();
                QCOMPARE(settled.has_value(), !doc.isWide());
                if (settled) {
                    QCOMPARE(QByteArrayView(reinterpret_cast<const char*>(settled->bytes()),
                                            settled->length()),
                             QByteArrayView(now));
                    QCOMPARE(settled->paragraphCount(), doc.paragraphCount());
                    QVERIFY(doc.readInto(*settled));
                    QCOMPARE(doc.pieceCount(), model.text.isEmpty() ? 0 : 1);
                    settledBytes = now;
                }
                if (snapshot)
                    QCOMPARE(snapshot().wholeText(), model.text);
                model.typingEnd = -1;
                what = QStringLiteral("saved");
            }
            QString why;
            if (!sameAsModel(doc, model, random, &why))
                QFAIL(qPrintable(QStringLiteral("seed %1, step %2 (%3): %4 differs")
                                     .arg(seed)
                                     .arg(step)
                                     .arg(what, why)));
            if (!doc.isModified())
                QVERIFY2(model.text == saved, qPrintable(QStringLiteral("step %1").arg(step)));
            // Now and then the display lines: as many as a book of the plain string has.
            if (step % 500 == 0) {
                auto copy =
                    std::make_shared<const BookDocument>(BookDocument::fromText(model.text));
                QCOMPARE(doc.paragraphCount(), copy->paragraphCount());
            }
        }
        // What is saved is what is shown, each letter in its code-page form.
        const QString path = m_dir.filePath(QStringLiteral("model%1.boo").arg(seed));
        doc.save(path, QStringLiteral("create"), QStringLiteral("write"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QString stored = model.text;
        stored.replace(QChar(0x2400), QChar(0));
        QCOMPARE(f.readAll(), Cp1251::encodeStorable(stored));
    }

    // A save then a reopen gives back what was typed.
    void saveAndReopen_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("lost");
        QTest::newRow("CR LF") << QStringLiteral("Первая\r\nвторая\r\n\r\n") << QString();
        QTest::newRow("tabs") << QStringLiteral("\tотступ\tи\tтабуляция") << QString();
        QTest::newRow("letters in their near form") << QStringLiteral("Café — naïve") << QString();
        QTest::newRow("letters lost")
            << QStringLiteral("Иероглиф 日 и 本") << QStringLiteral("日本");
        QTest::newRow("a paragraph of 100,000 characters")
            << QString(100000, QChar(u'ж')) + QStringLiteral("\r\nконец") << QString();
    }
    void saveAndReopen() {
        QFETCH(QString, typed);
        QFETCH(QString, lost);
        BookDocument doc =
            BookDocument::fromBytes(Cp1251::encode(QStringLiteral("Начало.\r\nКонец.")));
        const qsizetype at = doc.paragraphEnd(0);
        // The first letters typed one by one (CR LF as one Enter), the rest pasted.
        const QString head = typed.left(200);
        for (qsizetype i = 0; i < head.size(); ++i) {
            const bool enter = head[i] == u'\r' && i + 1 < head.size() && head[i + 1] == u'\n';
            doc.replace(at + i, at + i, enter ? QStringLiteral("\r\n") : QString(head[i]), true);
            i += enter ? 1 : 0;
        }
        doc.replace(at + head.size(), at + head.size(), typed.mid(200));
        QCOMPARE(doc.text(at, at + typed.size()), typed);
        QCOMPARE(doc.isModified(), true);
        QCOMPARE(doc.lostCharacters(), lost);
        const QString path = m_dir.filePath(QStringLiteral("saved.boo"));
        doc.save(path, QStringLiteral("create"), QStringLiteral("write"));
        doc.setModified(false);
        QVERIFY(!doc.isModified());
        const BookDocument again = BookDocument::readFile(path);
        QCOMPARE(again.wholeText(), Cp1251::decode(Cp1251::encodeStorable(doc.wholeText())));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), Cp1251::encodeStorable(doc.wholeText()));
    }

    // A failed save throws the caller's message and keeps the text and its flag.
    void aFailedSaveKeepsTheEdits() {
        BookDocument doc = BookDocument::fromText(QStringLiteral("текст"));
        doc.replace(0, 0, QStringLiteral("новый "));
        bool thrown = false;
        try {
            doc.save(m_dir.filePath(QStringLiteral("missing/folder/book.boo")),
                     QStringLiteral("Cannot create file"), QStringLiteral("write"));
        } catch (const TomeriaError& e) {
            thrown = e.message() == QStringLiteral("Cannot create file");
        }
        QVERIFY(thrown);
        QCOMPARE(doc.wholeText(), QStringLiteral("новый текст"));
        QVERIFY(doc.isModified());
    }

    // Find over a book in many pieces agrees with find over the same text in one piece,
    // across the runs the search reads at a time.
    void findAcrossPieces() {
        QByteArray bytes(qsizetype(17) << 20, 'a');
        for (qsizetype i = 0; i < bytes.size(); i += 97)
            bytes[i] = ' ';
        BookDocument doc = BookDocument::fromBytes(bytes);
        const qsizetype boundary = qsizetype(8) << 20;
        // A word put across the run boundary and a few more in new pieces.
        doc.replace(boundary - 3, boundary + 3, QStringLiteral(" Искомое "));
        doc.replace(1000, 1000, QStringLiteral(" искомое "));
        doc.replace(doc.length() - 10, doc.length() - 10, QStringLiteral(" ИСКОМОЕ "));
        QVERIFY(doc.pieceCount() > 3);
        const BookText plain = BookText::fromText(doc.wholeText());
        for (const bool forward : {true, false})
            for (const bool matchCase : {false, true})
                for (const bool wholeWord : {false, true})
                    for (const qsizetype from :
                         {qsizetype(0), qsizetype(1005), boundary, boundary + 10, doc.length()}) {
                        BookText::FindOptions options;
                        options.forward = forward;
                        options.matchCase = matchCase;
                        options.wholeWord = wholeWord;
                        QCOMPARE(doc.find(QStringLiteral("Искомое"), from, options),
                                 plain.find(QStringLiteral("Искомое"), from, options));
                    }
    }

    // A run of typing is one step, a paste one, a move one; a save ends the typing step.
    void stepsOfTheHistory() {
        BookDocument doc = BookDocument::fromText(QStringLiteral("abc"));
        for (const QChar ch : QStringLiteral("xyz"))
            doc.replace(doc.length(), doc.length(), QString(ch), true);
        doc.replace(0, 1, QStringLiteral("P\nQ"));
        doc.move(0, 1, 4);
        QCOMPARE(doc.wholeText(), QStringLiteral("\r\nQPbcxyz"));
        doc.undo();
        QCOMPARE(doc.wholeText(), QStringLiteral("P\r\nQbcxyz"));
        doc.undo();
        QCOMPARE(doc.wholeText(), QStringLiteral("abcxyz"));
        doc.setModified(false);
        doc.replace(6, 6, QStringLiteral("1"), true);
        doc.undo();
        QVERIFY(!doc.isModified());
        QCOMPARE(doc.wholeText(), QStringLiteral("abcxyz"));
        doc.undo();
        QCOMPARE(doc.wholeText(), QStringLiteral("abc"));
        QVERIFY(doc.isModified());
        QVERIFY(!doc.canUndo());
    }
};

QTEST_GUILESS_MAIN(TestBookDocument)
#include "test_book_document.moc"
