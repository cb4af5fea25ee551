#pragma once

class QApplication;
class QCoreApplication;
class QLocale;

// Installs Qt's own translations (qtbase) for the locale from Qt's translations folder;
// false when there are none for it.
bool installQtTranslations(QCoreApplication& app, const QLocale& locale);

// Sets up the application object the way every part of the program expects it:
// title "Tomeria", the program's icon, Qt's own texts in Russian, the font
// substitutions of the layout's Windows font names.
void setUpApplication(QApplication& app);

// The program: the single-copy rule, then the three windows, then the event loop.
int runTomeria(QApplication& app);
