#include "ui/app/application.h"

#include "core/base/folder_anchor.h"
#include "ui/app/single_instance.h"
#include "ui/app/termination.h"
#include "ui/dialogs/dialogs.h"
#include "ui/library/help_window.h"
#include "ui/library/library_window.h"
#include "ui/reader/reader_window.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Texts of Qt's own dialogs that Qt's Russian translations lack. Consulted last, after
// Qt's translations.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return QString();
        if (qstrcmp(source, "Folder") == 0)
            return QStringLiteral("Папка");
        if (qstrcmp(source, "Drive") == 0)
            return QStringLiteral("Диск");
        if (qstrcmp(source, "File") == 0)
            return QStringLiteral("Файл");
        return QString();
    }
};

} // namespace

bool installQtTranslations(QCoreApplication& app, const QLocale& locale) {
    auto* translator = new QTranslator(&app);
    if (locale.language() == QLocale::Russian)
        QCoreApplication::installTranslator(new MissingQtTexts(&app));
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void setUpApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("Tomeria"));
    app.setApplicationVersion(QStringLiteral("1.00"));
    app.setDesktopFileName(QStringLiteral("io.tomeria.Tomeria"));
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/io.tomeria.Tomeria.svg")));
    // Qt's own dialogs, menus and buttons speak Russian like the rest of the program,
    // whatever the session's language.
    installQtTranslations(app, QLocale(QLocale::Russian, QLocale::Russia));
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
    Termination::install();
    SingleInstance instance;
    if (!instance.acquire()) {
        Dialogs::instance().notice(QStringLiteral("Работает"),
                                   QStringLiteral("Tomeria уже запущена"));
        return 0;
    }
    // Another session's copy may work in this library folder.
    if (!instance.acquireFolder(QDir::currentPath())) {
        Dialogs::instance().notice(
            QStringLiteral("Работает"),
            QStringLiteral("Эта библиотека уже открыта в другой копии Tomeria"));
        return 0;
    }
    // The library folder is held open for the whole run: every file of the library is
    // written into it even after it is renamed, never at its old path, up to the last
    // write of the windows' destructors.
    const FolderAnchor libraryFolder;
    TForm1 form1;
    TSpravka spravka;
    TMainForm mainForm;
    form1.setReaderWindow(&mainForm);
    if (Termination::requested())
        return 0; // ended while a start-up message was shown
    form1.show();
    const int result = app.exec();
    // The session ends: there is no time to ask about unsaved edits, so they are kept.
    if (Termination::requested())
        mainForm.keepUnsavedEdits();
    // Once the settings are written the windows go and the locks are let go: the next
    // copy may start while this one takes down its windows and stops the search indexer.
    form1.writeSettingsAtEnd();
    mainForm.hide();
    form1.hide();
    instance.release();
    return result;
}
