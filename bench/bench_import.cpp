// Importing big books to the shown add-book preview: a 10 MB FB2 and a 10 MB EPUB, and
// how fast a ZIP bomb and a billion-laughs file are refused, with the peak memory of
// each. Where pandoc is installed, `pandoc -t plain` on the same file is timed beside.
// Then the hostile shapes: deep nesting, quadratic HTML, crowded elements, a ZIP bomb
// without a central directory, UTF-16 markup, entity tricks; each must be read or
// refused within 2 s. Pandoc is left out for them.
// Each case runs in a process of its own; its memory is the peak added by the import.
//   bench_import [FOLDER OF CP1251 TEXTS]   (prose for the books; random words without)
//   bench_import --write-hostile FOLDER     (only writes the hostile files, to time
//                                            them with another build's --import)

#include "core/base/cp1251.h"
#include "core/formats/book_import.h"
#include "support/hostile_books.h"
#include "support/test_books.h"
#include "ui/editor/rich_text_editor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

using namespace HostileBooks;

namespace {

// Paragraphs of prose: the texts of the folder, or random Cyrillic words.
QStringList prose(const QString& folder, qsizetype characters) {
    QString text;
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.txt")}, QDir::Files);
    for (int round = 0; !folder.isEmpty() && !files.isEmpty() && text.size() < characters; ++round)
        for (const QString& name : files) {
            QFile file(QDir(folder).filePath(name));
            if (file.open(QIODevice::ReadOnly))
                text += Cp1251::decode(file.readAll());
        }
    if (text.isEmpty()) {
        const QString letters =
            QStringLiteral("оооеееаааииинннтттсссрррвввлллккмммддппуяыьгзбчйхжшюцщэфъё");
        QRandomGenerator random(14);
        while (text.size() < characters) {
            for (int word = 0; word < 80; ++word) {
                const int length = 1 + int(random.bounded(9));
                for (int i = 0; i < length; ++i)
                    text += letters[int(random.bounded(letters.size()))];
                text += QLatin1Char(' ');
            }
            text += QStringLiteral(".\n");
        }
    }
    text.replace(QLatin1Char('&'), QStringLiteral("и"))
        .remove(QLatin1Char('<'))
        .remove(QLatin1Char('>'));
    QStringList paragraphs = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& p : paragraphs)
        p = p.trimmed();
    paragraphs.removeAll(QString());
    return paragraphs;
}

// The paragraphs as markup, chapters of 100 paragraphs with a title and some emphasis,
// until `bytes` of UTF-8 are written.
QByteArray markup(const QStringList& paragraphs, qsizetype bytes, const char* chapterOpen,
                  const char* chapterClose, qsizetype* used = nullptr) {
    QByteArray out;
    qsizetype i = 0;
    while (out.size() < bytes) {
        out += QByteArray(chapterOpen).replace("%1", QByteArray::number(i / 100 + 1));
        for (int k = 0; k < 100 && out.size() < bytes; ++k, ++i) {
            const QString& p = paragraphs[i % paragraphs.size()];
            const qsizetype cut = p.indexOf(QLatin1Char(' '), p.size() / 2);
            out += "<p>" +
                   (cut > 0 ? p.left(cut).toUtf8() + " <emphasis>" + p.mid(cut + 1).toUtf8() +
                                  "</emphasis>"
                            : p.toUtf8()) +
                   "</p>\n";
        }
        out += chapterClose;
    }
    if (used)
        *used = i;
    return out;
}

QByteArray makeFb2(const QStringList& paragraphs, qsizetype bytes) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FictionBook "
           "xmlns=\"http://www.gribuser.ru/"
           "xml/fictionbook/2.0\"><description><title-info><author><first-name>Лев</first-name>"
           "<last-name>Толстой</last-name></author><book-title>Большая книга</book-title>"
           "</title-info></description><body>\n" +
           markup(paragraphs, bytes, "<section><title><p>Глава %1</p></title>\n", "</section>\n") +
           "</body></FictionBook>\n";
}

QByteArray makeEpub(const QStringList& paragraphs, qsizetype bytes) {
    QList<QPair<QString, QByteArray>> members{
        {QStringLiteral("mimetype"), "application/epub+zip"},
        {QStringLiteral("META-INF/container.xml"),
         "<?xml version=\"1.0\"?><container version=\"1.0\" xmlns=\"urn:oasis:names:tc:"
         "opendocument:xmlns:container\"><rootfiles><rootfile full-path=\"OEBPS/content.opf\" "
         "media-type=\"application/oebps-package+xml\"/></rootfiles></container>"}};
    QByteArray manifest;
    QByteArray spine;
    // Chapters of about 200 KB until the packed book reaches the size.
    QStringList rest = paragraphs;
    QByteArray packed;
    for (int chapter = 1; packed.size() < bytes; ++chapter) {
        qsizetype used = 0;
        QByteArray body = markup(rest, 200 * 1024, "<h1>Глава %1</h1>\n", "", &used);
        body.replace("emphasis>", "em>");
        rest = rest.mid(used % rest.size()) + rest.first(used % rest.size());
        const QString name = QStringLiteral("ch%1.xhtml").arg(chapter);
        members.append(
            {QStringLiteral("OEBPS/") + name,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/"
             "1999/xhtml\"><head><title>Глава</title></head><body>\n" +
                 body + "</body></html>\n"});
        manifest += "<item id=\"c" + QByteArray::number(chapter) + "\" href=\"" + name.toUtf8() +
                    "\" media-type=\"application/xhtml+xml\"/>";
        spine += "<itemref idref=\"c" + QByteArray::number(chapter) + "\"/>";
        if (chapter % 8 == 0 || packed.isEmpty())
            packed = TestBooks::zip(members);
        else
            packed.resize(packed.size() + body.size() / 3); // an estimate between real packings
    }
    members.append({QStringLiteral("OEBPS/content.opf"),
                    "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" "
                    "version=\"3.0\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                    "<dc:title>Большая книга</dc:title><dc:creator>Лев Толстой</dc:creator>"
                    "</metadata><manifest>" +
                        manifest + "</manifest><spine>" + spine + "</spine></package>"});
    return TestBooks::zip(members);
}

QByteArray makeBillionLaughs() {
    QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE FictionBook [<!ENTITY a \"хахахахаха\">";
    for (char c = 'b'; c <= 'j'; ++c) {
        xml += QByteArray("<!ENTITY ") + c + " \"";
        for (int i = 0; i < 10; ++i)
            xml += QByteArray("&") + char(c - 1) + ";";
        xml += "\">";
    }
    return xml + "]><FictionBook><body><p>&j;</p></body></FictionBook>";
}

// ---- Hostile shapes --------------------------------------------------------------------

QList<QPair<QString, QByteArray>> hostileShapes() {
    const QByteArray title = nested(200000, "Заглавие");
    const QByteArray page = "<html><body><p>Начало</p>";
    QByteArray laughs = "<!ENTITY a \"ха\">";
    for (char c = 'b'; c <= 'j'; ++c)
        laughs += QByteArray("<!ENTITY ") + c + " \"" +
                  (QByteArray("&") + char(c - 1) + ";").repeated(10) + "\">";
    const QByteArray utf16Fb2 = fb2("<p>Текст</p>").replace("UTF-8", "UTF-16");
    return {
        {"FB2 title, 200,000 nested", fb2("<p>Текст</p>", title)},
        {"EPUB title, 200,000 nested",
         epub("<dc:title>" + title + "</dc:title>", xhtml("<p>Текст</p>"))},
        {"DOCX run, 200,000 nested", docx("<w:p><w:r><w:t>" + title + "</w:t></w:r></w:p>")},
        {"ODT note citation, 200,000 nested", odt(title)},
        {"HTML <span></x> x20,000", page + QByteArray("<span></x>").repeated(20000)},
        {"HTML <span></x> x100,000", page + QByteArray("<span></x>").repeated(100000)},
        {"HTML <em></q> x20,000", page + QByteArray("<em></q>").repeated(20000)},
        {"HTML <font></span> x20,000", page + QByteArray("<font></span>").repeated(20000)},
        {"EPUB page not XML, <span></x> x20,000",
         epub("<dc:title>Книга</dc:title>",
              "<html><body><p>Начало<br></p>" + QByteArray("<span></x>").repeated(20000))},
        {"FB2 50,000 attributes", fb2("<p>Начало</p>" + crowded("p", 50000, "Хвост"))},
        {"EPUB 50,000 attributes",
         epub("<dc:title>Книга</dc:title>", xhtml("<p>Начало</p>" + crowded("p", 50000, "Хвост")))},
        {"DOCX 50,000 attributes", docx("<w:p><w:r><w:t>Начало</w:t></w:r></w:p>" +
                                        crowded("w:p", 50000, "<w:r><w:t>Хвост</w:t></w:r>"))},
        {"ZIP, no directory, 16 GB skipped zeros",
         rawZip({member("zeros.bin", QByteArray(1 << 20, '\0'), 16 * 1024),
                 member("book.fb2", fb2("<p>Текст</p>"))},
                false)},
        {"FB2 in UTF-16LE with a mark", utf16(utf16Fb2, QStringConverter::Utf16LE, true)},
        {"HTML in UTF-16LE, no mark",
         utf16(page + "<p>Текст</p></body></html>", QStringConverter::Utf16LE, false)},
        {"FB2 quadratic entity (10,000 x 10,000)",
         "<?xml version=\"1.0\"?><!DOCTYPE FictionBook [<!ENTITY x \"" + QByteArray(10000, 'x') +
             "\">]><FictionBook><body><p>" + QByteArray("&x;").repeated(10000) +
             "</p></body></FictionBook>"},
        {"FB2 entity in an attribute",
         "<?xml version=\"1.0\"?><!DOCTYPE FictionBook [<!ENTITY e \"v\">]><FictionBook "
         "a=\"&e;\"><body><p>Текст</p></body></FictionBook>"},
        {"EPUB page of billion laughs",
         epub("<dc:title></dc:title>", "<?xml version=\"1.0\"?><!DOCTYPE html [" + laughs +
                                           "]><html><body><p>&j;</p></body></html>")},
        {"ZIP whose first FB2 is not XML",
         TestBooks::zip({{QStringLiteral("a.fb2"), "не книга"},
                         {QStringLiteral("b.fb2"), fb2("<p>Текст</p>")}})},
    };
}

// The process's peak resident memory (VmHWM: unlike ru_maxrss it starts afresh at exec).
double peakMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// Processor time of this process so far, in ms (the machine may be busy with others).
double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double childPeakMb() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss / 1024.0;
}

// One import, in a process of its own (so the peak memory is its own), and pandoc on
// the same file (at most a minute).
int importCase(const QString& label, const QString& path, bool withPandoc) {
    const qsizetype fileSize = QFileInfo(path).size();
    RichTextEditor preview;
    preview.resize(640, 400);
    preview.show();
    QCoreApplication::processEvents();
    const double before = peakMb();
    const double cpuBefore = cpuMs();
    QElapsedTimer timer;
    timer.start();
    ImportedBook book = BookImport::readFile(path);
    const double read = timer.nsecsElapsed() / 1e6;
    const char* kinds[] = {"plain text", "formatted", "not a book", "too big"};
    const char* kind = kinds[int(book.kind)];
    qsizetype characters = book.text.size();
    for (const RtfParagraph& paragraph : book.document.paragraphs)
        for (const RtfRun& run : paragraph.runs)
            characters += run.text.size();
    preview.ShowImported(std::move(book));
    QCoreApplication::processEvents(); // painted
    const double shown = timer.nsecsElapsed() / 1e6;
    const double cpu = cpuMs() - cpuBefore;
    const double added = peakMb() - before;
    std::printf(
        "%-36s %7.1f MB %8.0f ms %8.0f ms %8.0f ms %8.0f MB %7.1fx  %s, %.1f M characters\n",
        qPrintable(label), fileSize / 1048576.0, read, shown, cpu, added,
        added * 1048576.0 / qMax<qsizetype>(fileSize, 1), kind, characters / 1e6);
    const QString pandoc =
        withPandoc ? QStandardPaths::findExecutable(QStringLiteral("pandoc")) : QString();
    if (!pandoc.isEmpty()) {
        QProcess process;
        timer.restart();
        process.start(pandoc, {QStringLiteral("-t"), QStringLiteral("plain"), path,
                               QStringLiteral("-o"), QStringLiteral("/dev/null")});
        const bool finished = process.waitForFinished(60000);
        if (!finished) {
            process.kill();
            process.waitForFinished();
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        std::printf("%-36s %10s %11s %8.0f ms %11s %8.0f MB %8s  pandoc/Tomeria: %s%.1f%s\n",
                    "  pandoc -t plain, same file", "", "", ms, "", childPeakMb(), "",
                    finished ? "" : "over ", ms / shown, finished ? "" : " (stopped after 60 s)");
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc >= 4 && QByteArrayView(argv[1]) == "--import")
        return importCase(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                          argc == 4);
    if (argc == 3 && QByteArrayView(argv[1]) == "--write-hostile") {
        const QDir folder(QString::fromLocal8Bit(argv[2]));
        int n = 0;
        for (const auto& [label, bytes] : hostileShapes()) {
            QFile file(folder.filePath(QStringLiteral("%1.bin").arg(++n, 2, 10, QLatin1Char('0'))));
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            std::printf("%s\t%s\n", qPrintable(file.fileName()), qPrintable(label));
        }
        return 0;
    }
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir dir;
    auto save = [&dir](const QString& name, const QByteArray& data) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(data);
        return file.fileName();
    };
    QList<QPair<QString, QString>> cases;
    {
        const QStringList paragraphs = prose(folder, 6 << 20);
        cases.append({QStringLiteral("FB2, 10 MB"),
                      save(QStringLiteral("big.fb2"), makeFb2(paragraphs, 10 << 20))});
        cases.append({QStringLiteral("EPUB, 10 MB"),
                      save(QStringLiteral("big.epub"), makeEpub(paragraphs, 10 << 20))});
        cases.append(
            {QStringLiteral("ZIP bomb, 1 GB of zeros (refused)"),
             save(QStringLiteral("bomb.fb2.zip"),
                  TestBooks::zip({{QStringLiteral("book.fb2"), QByteArray(1 << 30, '\0')}}))});
        cases.append({QStringLiteral("billion laughs FB2 (refused)"),
                      save(QStringLiteral("laughs.fb2"), makeBillionLaughs())});
    }
    std::printf("\n%-36s %10s %11s %11s %11s %11s %8s\n", "import to the shown preview", "file",
                "read", "shown", "processor", "memory", "×file");
    std::fflush(stdout);
    auto runCase = [](const QString& label, const QString& path, bool withPandoc) {
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList arguments{QStringLiteral("--import"), label, path};
        if (!withPandoc)
            arguments.append(QStringLiteral("--no-pandoc"));
        run.start(QCoreApplication::applicationFilePath(), arguments);
        run.waitForFinished(-1);
    };
    for (const auto& [label, path] : cases)
        runCase(label, path, true);
    std::printf("\nhostile shapes: read or refused within 2 s, memory under 10x\n");
    std::fflush(stdout);
    int n = 0;
    for (const auto& [label, bytes] : hostileShapes())
        runCase(label, save(QStringLiteral("hostile%1.bin").arg(++n), bytes), false);
    return 0;
}
