#pragma once

class QApplication;

// Sets up the application object the way every part of the program expects it:
// title "Tomeria", the font substitutions of the layout's Windows font names.
void setUpApplication(QApplication& app);

// The program: the single-copy rule, then the three windows, then the event loop.
int runTomeria(QApplication& app);
