// Searching inside every book: indexing speed and size, the longest pause of the event
// loop while the worker thread indexes, memory, query times, and re-indexing one saved
// book; `grep -c` over the same files beside them. With a folder of real texts, also how
// well a word finds its own forms: the places of a name's forms found by any one form,
// the places found for a common noun that are no form of it (each beside plain stemming,
// the index before surnames were told), and the rank of the whole «Война и мир» among
// fragments for «князь андрей болконский».
//   bench_search [FOLDER_OF_CP1251_TEXTS] (TOMERIA_BENCH_MB sets the library size, 100)
//
// On the ten corpus classics (plain stems → now): any one form of the 200 most frequent
// names finds 86.4 % → 100.0 % of the places of all their forms (the lowest 5.8 % →
// 99.8 %; 222 of 886 forms under 98 % → none), typed in lower case alike; the forms of 14
// common nouns find 14.4 % → 8.3 % places that are no form of them («базар» 96.5 % →
// 6.7 %); the whole «Война и мир» ranks 9th → 1st among 312 books and fragments for
// «князь андрей болконский».

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/search/book_words.h"
#include "core/search/index_writer.h"
#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "core/search/search_query.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <unordered_map>

namespace {

qint64 folderBytes(const QString& path) {
    qint64 total = 0;
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

// Texts to fill the library with: the given folder's, or made-up Russian prose.
QList<QByteArray> sourceTexts(const QString& folder) {
    QList<QByteArray> texts;
    if (!folder.isEmpty()) {
        for (const QFileInfo& info :
             QDir(folder).entryInfoList({QStringLiteral("*.txt")}, QDir::Files)) {
            QFile file(info.filePath());
            if (file.open(QIODevice::ReadOnly))
                texts << file.readAll();
        }
    }
    if (texts.isEmpty()) {
        const QStringList words =
            QStringLiteral(
                "война войны войне войной мир мира князь Андрей читал читала книга книги дом "
                "дороге сказал она он они было была время жизнь человек глаза рука слово день "
                "ночь город поле лес солдат полк генерал письмо сердце любовь снова тогда")
                .split(QLatin1Char(' '));
        std::mt19937 random(7);
        QString text;
        while (text.size() < 3'000'000) {
            for (int i = 0; i < 12; ++i)
                text += words[int(random() % words.size())] + QLatin1Char(' ');
            text += QStringLiteral("снова.\r\n");
        }
        texts << Cp1251::encode(text);
    }
    return texts;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double msOf(const std::function<void()>& action, int repeats = 5) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        action();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// grep -c over every book for a pattern, as code page 1251 bytes.
double grepMs(const QString& books, const QString& pattern, const QTemporaryDir& dir) {
    const QString patternFile = dir.filePath(QStringLiteral("pattern"));
    QFile file(patternFile);
    file.open(QIODevice::WriteOnly);
    file.write(Cp1251::encode(pattern) + '\n');
    file.close();
    return msOf(
        [&] {
            QProcess grep;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
            grep.setProcessEnvironment(env);
            grep.start(QStringLiteral("grep"),
                       {QStringLiteral("-c"), QStringLiteral("-r"), QStringLiteral("-F"),
                        QStringLiteral("-f"), patternFile, books});
            grep.waitForFinished(-1);
        },
        3);
}

// ---- how well a word finds its forms -------------------------------------------------

std::string cp1251(const char* utf8) {
    const QByteArray bytes = Cp1251::encode(QString::fromUtf8(utf8));
    return std::string(bytes.constData(), size_t(bytes.size()));
}

std::vector<std::string> cp1251Words(const char* utf8) {
    std::vector<std::string> out;
    for (const QString& word : QString::fromUtf8(utf8).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.push_back(cp1251(word.toUtf8().constData()));
    return out;
}

// The reference: the declensions a Russian name takes, as (endings of the class). Two
// words are forms of one name when some class gives both from one base.
const std::vector<std::vector<std::string>>& nameClasses() {
    static const std::vector<std::vector<std::string>> classes = {
        cp1251Words("- а у ом е"),                                   // Пьер, Иван
        cp1251Words("ов ова ову овым ове овы овых овыми овой овою"), // Базаров
        cp1251Words("ев ева еву евым еве евы евых евыми евой евою"), // Тургенев
        cp1251Words("ин ина ину иным ине ины иных иными иной иною"), // Левин
        cp1251Words("а ы и е у ой ою ей ею"),                        // Наташа, Анна
        cp1251Words("я и е ю ей ею"),                                // Соня, Марья
        cp1251Words("й я ю ем е"),                                   // Андрей
        cp1251Words("ий ия ию ием ии"),                              // Аркадий
        cp1251Words("ь я ю ем е"),                                   // Игорь
        cp1251Words("ий ого ому им ом ая ой ую ие их ими"),          // Болконский
        cp1251Words("ой ого ому ым ом ая ую ые ых ыми"),             // Толстой
    };
    return classes;
}

// The bases a word has in each class: class index and base.
std::set<std::pair<size_t, std::string>> nameLemmas(const std::string& word) {
    std::set<std::pair<size_t, std::string>> out;
    for (size_t c = 0; c < nameClasses().size(); ++c) {
        for (std::string ending : nameClasses()[c]) {
            if (ending == "-")
                ending.clear();
            if (word.size() >= ending.size() + 2 && word.ends_with(ending))
                out.emplace(c, word.substr(0, word.size() - ending.size()));
        }
    }
    return out;
}

struct Corpus {
    // Per book: folded word -> places; and capital / lower-case counts over all books.
    std::vector<std::unordered_map<std::string, qint64>> books;
    std::unordered_map<std::string, std::pair<qint64, qint64>> cases;
    std::vector<QByteArray> texts;
};

// The surname stems some book uses, as the index's surname terms tell.
std::set<std::string>& surnames() {
    static std::set<std::string> stems;
    return stems;
}

// Terms of a book's words: before (plain stems) or after (the index's terms).
using TermMap = std::unordered_map<std::string, std::vector<std::pair<std::string, qint64>>>;

TermMap termsOf(const std::unordered_map<std::string, qint64>& words, const QByteArray& text,
                BookWords::Stemmer& stemmer, bool after) {
    TermMap out;
    BookWords::BookTerms terms(stemmer, text);
    if (after) {
        for (const std::string& stem : terms.surnameStems())
            surnames().insert(stem);
    }
    for (const auto& [word, count] : words)
        out[after ? terms.term(word) : stemmer.stem(word)].emplace_back(word, count);
    return out;
}

// The stems a query word is searched by: before, its own; after, as the query parses it.
std::vector<std::string> queryStems(const std::string& folded, bool capital,
                                    BookWords::Stemmer& stemmer, bool after) {
    if (!after)
        return {stemmer.stem(folded)};
    QString text = Cp1251::decode(QByteArray::fromStdString(folded));
    if (capital && !text.isEmpty())
        text[0] = text[0].toUpper();
    const SearchQuery query = SearchQuery::parse(
        text, stemmer, [](const std::string& stem) { return surnames().contains(stem); });
    return query.parts.empty() ? std::vector<std::string>() : query.parts.front().terms;
}

// Places of each word (by book) a query's stems find.
std::unordered_map<std::string, qint64> found(const std::vector<TermMap>& books,
                                              const std::vector<std::string>& stems) {
    std::unordered_map<std::string, qint64> out;
    for (const TermMap& book : books) {
        for (const std::string& stem : stems) {
            const auto it = book.find(stem);
            if (it == book.end())
                continue;
            for (const auto& [word, count] : it->second)
                out[word] += count;
        }
    }
    return out;
}

void wordForms(const QList<QByteArray>& texts) {
    Corpus corpus;
    for (const QByteArray& text : texts) {
        auto& words = corpus.books.emplace_back();
        BookWords::split(text, 0, 0, [&](const BookWords::Word& word) {
            const std::string folded(word.folded);
            ++words[folded];
            auto& [capital, lower] = corpus.cases[folded];
            ++(word.capital ? capital : lower);
            return true;
        });
    }
    BookWords::Stemmer stemmer;
    std::vector<TermMap> before;
    std::vector<TermMap> after;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        before.push_back(termsOf(corpus.books[size_t(i)], texts[i], stemmer, false));
        after.push_back(termsOf(corpus.books[size_t(i)], texts[i], stemmer, true));
    }
    // Names: words written with a capital more often than not, the 200 most frequent,
    // each with its forms (other such words sharing a base in a class).
    std::vector<std::pair<qint64, std::string>> names;
    std::map<std::pair<size_t, std::string>, std::vector<std::string>> byLemma;
    for (const auto& [word, count] : corpus.cases) {
        if (count.first <= count.second)
            continue;
        names.emplace_back(count.first + count.second, word);
        for (const auto& lemma : nameLemmas(word))
            byLemma[lemma].push_back(word);
    }
    std::sort(names.begin(), names.end(), std::greater<>());
    names.resize(std::min<size_t>(names.size(), 200));
    struct Share {
        qint64 wanted = 0, got = 0;
        double lowest = 1;
        int pairs = 0, under = 0;
    };
    Share shares[2][2]; // [after][capital]
    QStringList worst;
    for (const auto& [total, word] : names) {
        std::set<std::string> forms;
        for (const auto& lemma : nameLemmas(word))
            forms.insert(byLemma[lemma].begin(), byLemma[lemma].end());
        const auto places = [&](const std::string& form) {
            return corpus.cases[form].first + corpus.cases[form].second;
        };
        qint64 all = 0;
        for (const std::string& form : forms)
            all += places(form);
        for (const std::string& form : forms) {
            for (int a = 0; a < 2; ++a) {
                for (int c = 0; c < 2; ++c) {
                    const auto hits = found(a ? after : before, queryStems(form, c, stemmer, a));
                    qint64 got = 0;
                    for (const std::string& other : forms)
                        got += hits.contains(other) ? hits.at(other) : 0;
                    Share& share = shares[a][c];
                    share.wanted += all;
                    share.got += got;
                    share.pairs += 1;
                    const double part = double(got) / double(all);
                    share.lowest = std::min(share.lowest, part);
                    if (part < 0.98) {
                        ++share.under;
                        if (a && worst.size() < 12)
                            worst << QStringLiteral("%1 %2%").arg(
                                Cp1251::decode(QByteArray::fromStdString(form)),
                                QString::number(100 * part, 'f', 0));
                    }
                }
            }
        }
    }
    std::printf("\n%-62s %12s %12s\n", "a word's forms, on the given texts", "plain stems",
                "measured");
    for (int c = 1; c >= 0; --c) {
        const Share& b = shares[0][c];
        const Share& a = shares[1][c];
        std::printf("%-62s %11.1f%% %11.1f%%\n",
                    c ? "200 names: places of all forms found by one form (Базаров)"
                      : "  the same, the form typed in lower case (базаров)",
                    100.0 * double(b.got) / double(b.wanted),
                    100.0 * double(a.got) / double(a.wanted));
        std::printf("%-62s %11.1f%% %11.1f%%\n", "    the form finding the fewest", 100 * b.lowest,
                    100 * a.lowest);
        std::printf("%-62s %12s %12s\n", "    forms finding under 98 %",
                    qPrintable(QStringLiteral("%1 of %2").arg(b.under).arg(b.pairs)),
                    qPrintable(QStringLiteral("%1 of %2").arg(a.under).arg(a.pairs)));
    }
    if (!worst.isEmpty())
        std::printf("    under 98 %%: %s\n", qPrintable(worst.join(QStringLiteral(", "))));

    // Common nouns: each form searched; the places found that are no form of the noun.
    const std::vector<const char*> nouns = {
        "базар базара базару базаром базаре базары базаров базарам базарами базарах",
        "рост роста росту ростом росте росты ростов ростам ростами ростах",
        "стол стола столу столом столе столы столов столам столами столах",
        "дом дома дому домом доме домов домам домами домах",
        "сон сна сну сном сне сны снов снам снами снах",
        "мир мира миру миром мире миры миров мирам мирами мирах",
        "граф графа графу графом графе графы графов графам графами графах",
        "князь князя князю князем князе князья князей князьям князьями князьях",
        "город города городу городом городе городов городам городами городах",
        "лев льва льву львом льве львы львов львам львами львах",
        "вера веры вере веру верой верою",
        "рука руки руке руку рукой рукою рук рукам руками руках",
        "дверь двери дверью дверей дверям дверями дверях",
        "надежда надежды надежде надежду надеждой надеждою надежд надеждам надеждами надеждах",
    };
    qint64 wrong[2] = {0, 0};
    qint64 got[2] = {0, 0};
    qint64 bazarWrong[2] = {0, 0};
    qint64 bazarGot[2] = {0, 0};
    QStringList perNoun;
    // A form the texts write as a name (with a capital more often than not: «Базаров»,
    // «Ростов») counts as that name's, not the noun's: it is neither searched nor a place
    // of the noun.
    const auto isName = [&](const std::string& word) {
        const auto it = corpus.cases.find(word);
        return it != corpus.cases.end() && it->second.first > it->second.second;
    };
    for (const char* noun : nouns) {
        std::vector<std::string> forms = cp1251Words(noun);
        std::erase_if(forms, isName);
        const std::set<std::string> paradigm(forms.begin(), forms.end());
        qint64 nounWrong[2] = {0, 0};
        qint64 nounGot[2] = {0, 0};
        for (const std::string& form : forms) {
            for (int a = 0; a < 2; ++a) {
                for (const auto& [word, count] :
                     found(a ? after : before, queryStems(form, false, stemmer, a))) {
                    got[a] += count;
                    const bool bad = !paradigm.contains(word);
                    wrong[a] += bad ? count : 0;
                    nounGot[a] += count;
                    nounWrong[a] += bad ? count : 0;
                    if (noun == nouns.front()) {
                        bazarGot[a] += count;
                        bazarWrong[a] += bad ? count : 0;
                    }
                }
            }
        }
        perNoun << QStringLiteral("%1 %2→%3")
                       .arg(Cp1251::decode(QByteArray::fromStdString(cp1251Words(noun).front())),
                            QString::number(100.0 * double(nounWrong[0]) /
                                                double(std::max<qint64>(1, nounGot[0])),
                                            'f', 1),
                            QString::number(100.0 * double(nounWrong[1]) /
                                                double(std::max<qint64>(1, nounGot[1])),
                                            'f', 1));
    }
    std::printf(
        "%-62s %11.1f%% %11.1f%%\n",
        qPrintable(QStringLiteral("%1 common nouns, each form: places found that are no form")
                       .arg(nouns.size())),
        100.0 * double(wrong[0]) / double(got[0]), 100.0 * double(wrong[1]) / double(got[1]));
    std::printf("    by noun, %%: %s\n", qPrintable(perNoun.join(QStringLiteral(", "))));
    std::printf("%-62s %11.1f%% %11.1f%%\n", "  of them «базар» (Базаров is none)",
                100.0 * double(bazarWrong[0]) / double(std::max<qint64>(1, bazarGot[0])),
                100.0 * double(bazarWrong[1]) / double(std::max<qint64>(1, bazarGot[1])));
}

// The texts whole, and each cut into fragments of about 30 KB at paragraph ends; the rank
// of the whole book whose text holds «Болконский» most for «князь андрей болконский».
void wholeBooksFirst(const QList<QByteArray>& texts, const QTemporaryDir& dir) {
    const QString library = dir.filePath(QStringLiteral("fragments"));
    const QString books = library + QStringLiteral("/books");
    QDir().mkpath(books);
    SearchIndexer::Books list;
    QString wanted;
    qsizetype most = 0;
    const QByteArray bolkonsky = Cp1251::encode(QStringLiteral("Болконск"));
    auto add = [&](const QString& name, const QByteArray& text) {
        const QString path = books + QLatin1Char('/') + name + QStringLiteral(".boo");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        list.append({name, path});
    };
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QByteArray& text = texts[i];
        const QString name = QStringLiteral("Книга %1").arg(i);
        add(name, text);
        if (text.count(bolkonsky) > most) {
            most = text.count(bolkonsky);
            wanted = name;
        }
        int piece = 0;
        for (qsizetype from = 0; from < text.size();) {
            qsizetype to = text.indexOf('\n', from + 30000);
            to = to < 0 ? text.size() : to + 1;
            add(QStringLiteral("Книга %1, отрывок %2").arg(i).arg(++piece),
                text.mid(from, to - from));
            from = to;
        }
    }
    const QString location = SearchIndex::locationFor(library);
    {
        SearchIndexer indexer(location);
        QEventLoop loop;
        QObject::connect(&indexer, &SearchIndexer::idle, &loop, &QEventLoop::quit);
        indexer.follow(list);
        loop.exec();
    }
    SearchIndex index(location);
    const SearchResult result = index.search(QStringLiteral("князь андрей болконский"), 0);
    int rank = 0;
    for (size_t i = 0; i < result.books.size(); ++i) {
        if (result.books[i].name == wanted) {
            rank = int(i) + 1;
            break;
        }
    }
    std::printf(
        "%-62s %12s %12d\n",
        qPrintable(
            QStringLiteral("rank of the whole book among %1 books and fragments").arg(list.size())),
        "15 (issue)", rank);
    std::printf("%-62s %12s %12s\n", "  for «князь андрей болконский», first found", "",
                qPrintable(result.books.empty() ? QString() : result.books.front().name));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
    const qint64 target = qEnvironmentVariableIntValue("TOMERIA_BENCH_MB") > 0
                              ? qEnvironmentVariableIntValue("TOMERIA_BENCH_MB") * 1'000'000LL
                              : 100'000'000LL;
    const QList<QByteArray> texts =
        sourceTexts(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    if (argc > 1 && !qEnvironmentVariableIsSet("TOMERIA_BENCH_NO_FORMS")) {
        wordForms(texts);
        wholeBooksFirst(texts, dir);
        if (qEnvironmentVariableIsSet("TOMERIA_BENCH_FORMS_ONLY"))
            return 0;
    }
    const QString library = dir.filePath(QStringLiteral("library"));
    const QString books = library + QStringLiteral("/books");
    QDir().mkpath(books);
    SearchIndexer::Books list;
    qint64 total = 0;
    int largest = 0;
    for (int i = 0; total < target; ++i) {
        const QByteArray& text = texts[i % texts.size()];
        const QString name = QStringLiteral("Книга %1").arg(i);
        const QString path = books + QLatin1Char('/') + name + QStringLiteral(".boo");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        list.append({name, path});
        if (text.size() > texts[largest % texts.size()].size())
            largest = i;
        total += text.size();
    }
    const QString location = SearchIndex::locationFor(library);

    // Index the whole library in the worker thread, the event loop watched meanwhile.
    const qint64 idleKb = statusKb("VmRSS:");
    double longestPause = 0;
    double indexMs = 0;
    double indexCpu = cpuSeconds();
    {
        SearchIndexer indexer(location);
        QElapsedTimer t;
        t.start();
        FreezeMeter freeze;
        QEventLoop loop;
        QObject::connect(&indexer, &SearchIndexer::idle, &loop, &QEventLoop::quit);
        indexer.follow(list);
        loop.exec();
        longestPause = double(freeze.longest());
        indexMs = t.nsecsElapsed() / 1e6;
    }
    indexCpu = cpuSeconds() - indexCpu;
    const qint64 peakKb = statusKb("VmHWM:");
    const qint64 indexSize = folderBytes(location);

    SearchIndex index(location);
    int found = 0;
    const double oneWord =
        msOf([&] { found = int(index.search(QStringLiteral("войной")).books.size()); });
    const double phrase = msOf([&] { index.search(QStringLiteral("\"князь андрей\"")); });
    const double twoWords = msOf([&] { index.search(QStringLiteral("война мир")); });
    const double prefix = msOf([&] { index.search(QStringLiteral("войн*")); });
    const QString bigName = list[largest].first;
    int places = 0;
    const double allPlaces =
        msOf([&] { places = int(index.places(QStringLiteral("войной"), bigName).count); });
    // A pasted passage of 1,000 common words (only its first 100 are searched), and the
    // listing of its places in the largest book (the first few thousand are listed).
    QStringList passageWords;
    const QStringList common = QStringLiteral("война мир князь Андрей читал книга дом сказал она "
                                              "он было время жизнь человек глаза рука слово день")
                                   .split(QLatin1Char(' '));
    for (int i = 0; i < 1000; ++i)
        passageWords << common[(i * 7 + i / 5) % common.size()];
    const QString passage = passageWords.join(QLatin1Char(' '));
    const qint64 beforeLongKb = statusKb("VmRSS:");
    const double longQuery = msOf([&] { index.search(passage); }, 3);
    qint64 longPlaces = 0;
    const double longListing =
        msOf([&] { longPlaces = index.places(passage, list[largest].first).count; }, 3);
    const qint64 longKb = statusKb("VmHWM:") - beforeLongKb;
    double reindex = 0;
    qint64 bigSize = QFileInfo(list[largest].second).size();
    {
        IndexWriter writer(location);
        reindex = msOf(
            [&] {
                writer.indexBook(bigName, list[largest].second);
                writer.commit();
            },
            3);
    }
    const double grepWord = grepMs(books, QStringLiteral("войной"), dir);
    const double grepPhrase = grepMs(books, QStringLiteral("князь Андрей"), dir);

    const double mb = double(total) / 1e6;
    std::printf("\n%-62s %12s\n",
                qPrintable(QStringLiteral("search inside %1 books, %2 MB of text")
                               .arg(list.size())
                               .arg(mb, 0, 'f', 0)),
                "measured");
    std::printf("%-62s %9.1f MB/s\n", "index every book: text per second of CPU time",
                mb / indexCpu);
    std::printf("%-62s %9.1f MB/s\n", "  the same per second of wall time (a low-priority thread)",
                mb / (indexMs / 1000));
    std::printf("%-62s %9.2f x text\n", "index size", double(indexSize) / double(total));
    std::printf("%-62s %9.1f ms\n", "longest event-loop pause while indexing", longestPause);
    std::printf("%-62s %9.1f MB\n", "memory above idle while indexing (peak RSS)",
                (peakKb - idleKb) / 1024.0);
    std::printf(
        "%-62s %9.1f ms\n",
        qPrintable(QStringLiteral("one word «войной», %1 books, snippets of 50").arg(found)),
        oneWord);
    std::printf("%-62s %9.1f ms\n", "phrase \"князь андрей\"", phrase);
    std::printf("%-62s %9.1f ms\n", "two words: война мир", twoWords);
    std::printf("%-62s %9.1f ms\n", "prefix войн*", prefix);
    std::printf(
        "%-62s %9.1f ms\n",
        qPrintable(QStringLiteral("every place in the largest book (%1 places)").arg(places)),
        allPlaces);
    std::printf("%-62s %9.1f ms\n", "a pasted passage of 1,000 common words", longQuery);
    std::printf("%-62s %9.1f ms\n",
                qPrintable(QStringLiteral("  its places in the largest book (%1, first %2 listed)")
                               .arg(longPlaces)
                               .arg(SearchIndex::kMaxListedPlaces)),
                longListing);
    std::printf("%-62s %9.1f MB\n", "  memory for both (peak RSS growth)", longKb / 1024.0);
    std::printf(
        "%-62s %9.1f ms\n",
        qPrintable(
            QStringLiteral("re-index one saved book of %1 MB").arg(bigSize / 1e6, 0, 'f', 1)),
        reindex);
    std::printf("%-62s %9.1f ms\n", "  baseline: grep -c войной (exact form only)", grepWord);
    std::printf("%-62s %9.1f ms\n", "  baseline: grep -c \"князь Андрей\"", grepPhrase);
    return 0;
}
