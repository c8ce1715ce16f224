// ZuzavadI: the desktop monitor for a bus of measuring instruments.
#include <QApplication>

#include "app/gui/rozaduzovari_ruv.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    zuz::gui::ScreenshotRun screenshot;
    zuz::gui::ParseScreenshotRun(QApplication::arguments(), &screenshot);
    zuz::gui::RozaduzovariRuv app(screenshot);
    app.InitInstance();
    return 0;
}
