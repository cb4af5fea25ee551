// The catalogue loader on any file: loading never fails on content, and saving what
// was loaded gives a file that loads to the same rows.
#include "catalogue.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("books.dat"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    Catalogue catalogue;
    catalogue.LoadCatalogue(path);
    for (int i = 0; i < catalogue.ListedRowCount(); ++i)
        catalogue.FindName(catalogue.NameAt(i));
    const QByteArray saved = catalogue.serialized();
    catalogue.SaveCatalogue(path);
    Catalogue again;
    again.LoadCatalogue(path);
    if (again.serialized() != saved)
        std::abort();
    return 0;
}
