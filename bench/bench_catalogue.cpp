// Catalogue speed: loading and listing 100,000 rows, adding and saving, against a
// straightforward implementation that checks every loaded name against all before it.

#include "bench_support.h"
#include "core/base/cp1251.h"
#include "core/library/catalogue.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray makeCatalogue(int rows) {
    QByteArray out;
    for (int i = 0; i < rows; ++i)
        out += Cp1251::encode(QStringLiteral("Книга номер %1=заметка к книге %1\r\n").arg(i));
    return out;
}

// The straightforward catalogue: a list of lines, every load checks each name against
// all rows read before it.
struct NaiveCatalogue {
    QStringList rows;
    void load(const QString& path) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        const QString text = Cp1251::decode(f.readAll());
        rows.clear();
        for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            const QString name = line.left(line.indexOf(QLatin1Char('=')));
            for (const QString& row : rows)
                if (row.left(row.indexOf(QLatin1Char('='))).compare(name, Qt::CaseInsensitive) == 0)
                    return;
            rows.append(line);
        }
    }
    QString nameAt(int i) const { return rows[i].left(rows[i].indexOf(QLatin1Char('='))); }
};

} // namespace

int main() {
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("big.dat"));
    const QString small = dir.filePath(QStringLiteral("small.dat"));
    {
        QFile f(big);
        f.open(QIODevice::WriteOnly);
        f.write(makeCatalogue(100000));
        QFile g(small);
        g.open(QIODevice::WriteOnly);
        g.write(makeCatalogue(20000));
    }

    auto loadAndList = [](const QString& path) {
        Catalogue c;
        c.LoadCatalogue(path);
        qsizetype total = 0;
        for (int i = 0; i < c.ListedRowCount(); ++i)
            total += c.NameAt(i).size();
        return total;
    };
    const double load100k = bestOf(5, [&] { loadAndList(big); });
    const double load20k = bestOf(5, [&] { loadAndList(small); });

    Catalogue c;
    c.LoadCatalogue(big);
    int n = 0;
    const double addSave = bestOf(5, [&] {
        c.AddRecord(QStringLiteral("Новая книга %1").arg(n++), QStringLiteral("заметка"));
        c.SaveCatalogue(big);
    });

    const double naive20k = bestOf(1, [&] {
        NaiveCatalogue naive;
        naive.load(small);
        qsizetype total = 0;
        for (int i = 0; i < naive.rows.size(); ++i)
            total += naive.nameAt(i).size();
        return total;
    });

    std::printf("\n%-52s %12s %12s\n", "catalogue", "measured", "target");
    std::printf("%-52s %9.1f ms %9s ms\n", "load 100,000 rows + NameAt for every row", load100k,
                "200");
    std::printf("%-52s %9.1f ms %9s ms\n", "AddRecord + SaveCatalogue on 100,000 rows", addSave,
                "50");
    std::printf("%-52s %9.1f ms\n", "load + list 20,000 rows", load20k);
    std::printf("%-52s %9.1f ms   (%.0fx slower)\n", "quadratic baseline, load + list 20,000 rows",
                naive20k, naive20k / load20k);
    return 0;
}
