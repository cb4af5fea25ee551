// The settings-file reader and writer on any file: reads end, and a written key reads
// back as written while the other lines stay.
#include "profile_file.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tomeria.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const ProfileFile profile(path);
    profile.readText(QStringLiteral("TForm1"), QStringLiteral("NormPos"), QString());
    profile.readInteger(QStringLiteral("TForm1"), QStringLiteral("ShowCmd"), 0);
    profile.writeText(QStringLiteral("TForm1"), QStringLiteral("Panel4_Width"),
                      QStringLiteral("240"));
    if (profile.readText(QStringLiteral("TForm1"), QStringLiteral("Panel4_Width"), QString()) !=
        QStringLiteral("240"))
        std::abort();
    return 0;
}
