// The settings-file reader and writer on any file: reads end, and a written key reads
// back as written while the other lines stay.
#include "core/settings/profile_file.h"

#include "fuzz_input_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = writeFuzzInput(QStringLiteral("tomeria.ini"), data, size);
    if (path.isEmpty())
        return 0;
    ProfileFile profile(path);
    profile.readText(QStringLiteral("TForm1"), QStringLiteral("NormPos"), QString());
    profile.readInteger(QStringLiteral("TForm1"), QStringLiteral("ShowCmd"), 0);
    profile.writeText(QStringLiteral("TForm1"), QStringLiteral("Panel4_Width"),
                      QStringLiteral("240"));
    if (profile.readText(QStringLiteral("TForm1"), QStringLiteral("Panel4_Width"), QString()) !=
        QStringLiteral("240"))
        std::abort();
    // The file as saved reads the key back the same.
    profile.save();
    if (ProfileFile(path).readText(QStringLiteral("tform1"), QStringLiteral("PANEL4_WIDTH"),
                                   QString()) != QStringLiteral("240"))
        std::abort();
    return 0;
}
