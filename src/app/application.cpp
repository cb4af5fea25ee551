#include "application.h"

#include "dialogs.h"
#include "help_window.h"
#include "library_window.h"
#include "reader_window.h"
#include "single_instance.h"

#include <QApplication>
#include <QFont>

void setUpApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("Tomeria"));
    app.setApplicationDisplayName(QStringLiteral("Tomeria"));
    app.setApplicationVersion(QStringLiteral("1.00"));
    app.setDesktopFileName(QStringLiteral("tomeria"));
    // The layout names Windows fonts; fontconfig resolves Arial and Times New Roman to
    // metric-compatible fonts, and "MS Sans Serif" becomes the desktop's sans-serif.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                                QStringLiteral("Sans Serif")});
    QFont::insertSubstitutions(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"),
                               {QStringLiteral("Liberation Serif")});
}

int runTomeria(QApplication& app) {
    SingleInstance instance;
    if (!instance.acquire()) {
        Dialogs::instance().notice(QStringLiteral("Работает"),
                                   QStringLiteral("Tomeria уже запущена"));
        return 0;
    }
    TForm1 form1;
    TSpravka spravka;
    TMainForm mainForm;
    form1.setReaderWindow(&mainForm);
    form1.show();
    return app.exec();
}
