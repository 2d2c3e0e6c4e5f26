// The Korvex viewer.
#include <QApplication>
#include <cstdio>

#include "viewer/resources/Resources.h"
#include "viewer/shell/ScreenshotMode.h"
#include "viewer/shell/ViewerApp.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    korvex::initResources();
    korvex::ViewerApp app;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!app.InitInstance(arguments)) {
        std::fprintf(stderr, "korvex: %s\n", qPrintable(app.startupError()));
        return 1;
    }
    for (const std::string& s : app.launchOptions().unknownSwitches) {
        std::fprintf(stderr, "korvex: unknown switch ignored: %s\n", s.c_str());
    }
    if (!app.launchOptions().screenshotPath.empty()) {
        const int shot = korvex::runScreenshot(app);
        app.ExitInstance();
        return shot;
    }
    const int code = QApplication::exec();
    app.ExitInstance();
    return code;
}
