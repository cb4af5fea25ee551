#include "ui/app/application.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setUpApplication(app);
    return runTomeria(app);
}
