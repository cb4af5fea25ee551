// The library window's stored settings applied and saved, on any settings file: the
// real window is created in a library folder, shown (the store applies tomeria.ini),
// then destroyed (the store writes it back). Applying must end quickly whatever the
// values, the window must fit the screen with its list pane inside it, and the file
// written must read back.
#include "core/settings/profile_file.h"
#include "ui/dialogs/dialogs.h"
#include "ui/library/library_window.h"

#include "fuzz_input_file.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// No box is ever shown while fuzzing.
class SilentDialogs : public Dialogs {
public:
    void message(QWidget*, const QString&) override {}
    bool confirm(QWidget*, const QString&, const QString& = QString()) override { return false; }
    void error(QWidget*, const QString&) override {}
    void notice(const QString&, const QString&) override {}
    void beep() override {}
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Never destroyed: the application must outlive every static of Qt's own.
    static QApplication* app = new QApplication(*argc, *argv);
    Q_UNUSED(app);
    Dialogs::install(std::make_unique<SilentDialogs>());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = writeFuzzInput(QStringLiteral("tomeria.ini"), data, size);
    if (path.isEmpty())
        return 0;
    const QString folder = QFileInfo(path).absolutePath();
    QFile catalogue(folder + QStringLiteral("/books.dat"));
    if (catalogue.open(QIODevice::WriteOnly | QIODevice::Truncate))
        catalogue.write("a=1\r\n");
    catalogue.close();
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    {
        TForm1 form;
        form.show();
        QCoreApplication::processEvents();
        // Whatever was stored, the window, normal or maximised, fits the screen's
        // available area and is on it, and the list pane stays inside the window.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
        const QRect frame = form.frameGeometry();
        if (!(form.windowState() & Qt::WindowMinimized) &&
            (frame.width() > available.width() || frame.height() > available.height() ||
             !frame.intersects(available)))
            std::abort();
        if (form.Panel4->width() < 0 || form.Panel4->width() > form.width())
            std::abort();
    }
    QDir::setCurrent(previous);
    // The window's values were written back and read as written.
    const ProfileFile profile(path);
    if (profile.readInteger(QStringLiteral("TForm1"), QStringLiteral("Visible"), -1) != 1)
        std::abort();
    return 0;
}
