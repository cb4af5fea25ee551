#include "core/text/display_text.h"
#include "core/text/hyphenator.h"

#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <atomic>

// Russian hyphenation and the display string built from it.
class TestDisplayText : public QObject {
    Q_OBJECT

    // Starts the threads together and waits for them all.
    static void runAll(const QList<QThread*>& threads) {
        for (QThread* thread : threads)
            thread->start();
        for (QThread* thread : threads) {
            thread->wait();
            delete thread;
        }
    }

private Q_SLOTS:
    void words_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("marked");
        const auto row = [](const char* word, const char* marked) {
            QTest::newRow(word) << QString::fromUtf8(word) << QString::fromUtf8(marked);
        };
        // The system's patterns also break the prefix: «пе-ре-».
        row("переносы", "пе-ре-но-сы");
        row("Михаил", "Ми-ха-ил");
        row("ПЕРЕНОСЫ", "ПЕ-РЕ-НО-СЫ");
        row("ёлка", "ёл-ка");
        row("Ёжики", "Ёжи-ки");
        row("учёный", "учё-ный");
        row("я", "я");
        row("он", "он");
        row("три", "три");
        row("или", "или");
        row("мама", "ма-ма");
        row("книга", "кни-га");
        row("хорошо", "хо-ро-шо");
        row("подъезд", "подъ-езд");
        row("библиотека", "биб-лио-те-ка");
        row("word", "word");
        row("слово1", "слово1");
    }
    void words() {
        QFETCH(QString, word);
        QFETCH(QString, marked);
        QVERIFY(Hyphenator::russian().available());
        QCOMPARE(Hyphenator::russian().marked(word), marked);
    }

    // Soft hyphens only inside Russian words standing alone; the positions map both
    // ways, a soft hyphen's own position to the place it was put at.
    void hyphensAndPositions() {
        const QString text = QStringLiteral("Михаил, я и Qtшный переносы-книга 123книга.");
        const DisplayText display(text, true, false);
        const QChar h = DisplayText::kSoftHyphen;
        QCOMPARE(display.text(), QStringLiteral("Ми%1ха%1ил, я и Qtшный пе%1ре%1но%1сы-кни%1га "
                                                "123книга.")
                                     .arg(h));
        QCOMPARE(display.hyphens(), (std::vector<qsizetype>{2, 4, 21, 23, 25, 31}));
        QString back;
        for (qsizetype d = 0; d < display.text().size(); ++d)
            if (display.text()[d] != h)
                back += display.text()[d];
        QCOMPARE(back, text);
        for (qsizetype t = 0; t <= text.size(); ++t) {
            const qsizetype d = display.toDisplay(t);
            QCOMPARE(display.toText(d), t);
            if (t < text.size())
                QCOMPARE(display.text()[d], text[t]);
        }
        // The place before «ха» is after its soft hyphen; the hyphen itself is that place.
        QCOMPARE(display.toDisplay(2), 3);
        QCOMPARE(display.toText(2), 2);
        QCOMPARE(display.toDisplay(text.size()), display.text().size());

        // A line breaker asks word by word and finds the same places.
        std::vector<qsizetype> asked;
        for (qsizetype t = 0; t < text.size(); ++t)
            for (const qsizetype place : DisplayText::hyphenPlaces(text, t))
                if (asked.empty() || place > asked.back())
                    asked.push_back(place);
        QCOMPARE(asked, display.hyphens());
        QCOMPARE(DisplayText(text, asked).text(), display.text());

        const DisplayText plain(text, false, false);
        QCOMPARE(plain.text(), text);
        QCOMPARE(plain.toDisplay(7), 7);
        QCOMPARE(plain.toText(7), 7);
    }

    // Justified, a one-letter preposition or conjunction holds to the next word.
    void shortWordsHold_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("display");
        const QChar n = DisplayText::kNoBreakSpace;
        QTest::newRow("each") << QStringLiteral("в к с у о и а б я")
                              << QStringLiteral("в%1к%1с%1у%1о%1и%1а%1б я").arg(n);
        QTest::newRow("capitals, start, after punctuation")
            << QStringLiteral("В доме, а потом «К ним» и.")
            << QStringLiteral("В%1доме, а%1потом «К%1ним» и.").arg(n);
        QTest::newRow("ends of words")
            << QStringLiteral("дома в  лесу, он и") << QStringLiteral("дома в%1 лесу, он и").arg(n);
    }
    void shortWordsHold() {
        QFETCH(QString, text);
        QFETCH(QString, display);
        const DisplayText joined(text, false, true);
        QCOMPARE(joined.text(), display);
        QCOMPARE(joined.toDisplay(5), 5);
        for (qsizetype at = 0; at < text.size(); ++at)
            QCOMPARE(DisplayText::holdsSpace(text, at), display[at] == DisplayText::kNoBreakSpace);
        QCOMPARE(DisplayText(text, false, false).text(), text);
    }

    // The hyphenator is shared by the view's worker thread and the window's.
    void usableFromThreads() {
        QList<QThread*> threads;
        std::atomic<int> wrong = 0;
        for (int t = 0; t < 4; ++t)
            threads << QThread::create([&wrong] {
                for (int i = 0; i < 2000; ++i)
                    if (Hyphenator::russian().marked(QStringLiteral("библиотека")) !=
                        QStringLiteral("биб-лио-те-ка"))
                        ++wrong;
            });
        runAll(threads);
        QCOMPARE(wrong.load(), 0);
    }

    // The breaks a thread remembers are those the patterns give: for more words than it
    // keeps, asked one by one or many at once, from several threads together, with other
    // hyphenators (the same patterns, and none) asked in between.
    void rememberedBreaks() {
        const Hyphenator& russian = Hyphenator::russian();
        const Hyphenator same(Hyphenator::defaultPatterns());
        const Hyphenator none(QStringLiteral("/nonexistent/hyph.dic"));
        const QString letters = QStringLiteral("абвгдеёжзийклмнопрстуфхцчшщъыьэюяАОЁЯq");
        QRandomGenerator random(7);
        std::vector<QString> words;
        std::vector<std::uint64_t> truth;
        int broken = 0;
        for (int i = 0; i < 100000; ++i) {
            QString word;
            for (int n = 1 + int(random.bounded(30)); n > 0; --n)
                word += letters[random.bounded(int(letters.size()))];
            words.push_back(word);
            truth.push_back(russian.breaks(word, false));
            broken += truth.back() != 0;
            std::vector<int> places;
            for (int at = 0; at < 64; ++at)
                if (truth.back() >> at & 1)
                    places.push_back(at);
            if (i % 97 == 0)
                QCOMPARE(russian.points(word), places);
        }
        QVERIFY(broken > 50000);
        std::atomic<int> wrong = 0;
        QList<QThread*> threads;
        for (quint32 t = 0; t < 4; ++t)
            threads << QThread::create([&, t] {
                QRandomGenerator own(100 + t);
                std::vector<QStringView> batch;
                std::vector<size_t> asked;
                std::vector<std::uint64_t> answers;
                size_t batchSize = 1;
                for (int i = 0; i < 100000; ++i) {
                    // Some words often, most seldom.
                    const size_t k = own.bounded(1 + own.bounded(quint32(words.size())));
                    const Hyphenator& h = i % 5000 == 0 ? same : russian;
                    if (i % 11 == 0 && none.breaks(words[k]) != 0)
                        ++wrong;
                    if (i % 3 != 0) {
                        if (h.breaks(words[k]) != truth[k])
                            ++wrong;
                        continue;
                    }
                    batch.push_back(words[k]);
                    asked.push_back(k);
                    if (batch.size() == batchSize) {
                        answers.assign(batch.size(), 0);
                        russian.breaks(batch.data(), batch.size(), answers.data());
                        for (size_t j = 0; j < batch.size(); ++j)
                            if (answers[j] != truth[asked[j]])
                                ++wrong;
                        batch.clear();
                        asked.clear();
                        batchSize = 1 + own.bounded(150);
                    }
                }
            });
        runAll(threads);
        QCOMPARE(wrong.load(), 0);
    }

    // Patterns that cannot be read break nothing.
    void missingPatterns() {
        const Hyphenator none(QStringLiteral("/nonexistent/hyph.dic"));
        QVERIFY(!none.available());
        QCOMPARE(none.marked(QStringLiteral("переносы")), QStringLiteral("переносы"));
        QCOMPARE(DisplayText(QStringLiteral("переносы"), true, false, none).text(),
                 QStringLiteral("переносы"));
    }
};

QTEST_MAIN(TestDisplayText)
#include "test_display_text.moc"
