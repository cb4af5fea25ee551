// The catalogue loader on any file: loading never fails on content, and saving what
// was loaded gives a file that loads to the same rows.
#include "core/library/catalogue.h"

#include "fuzz_input_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = writeFuzzInput(QStringLiteral("books.dat"), data, size);
    if (path.isEmpty())
        return 0;
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
