// The Korvex viewer.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include <string>
#include <vector>

#include "viewer/resources/Resources.h"
#include "viewer/shell/ScreenshotMode.h"
#include "viewer/shell/ViewerApp.h"
#include "viewer/shell/core/CommandLine.h"

int main(int argc, char** argv) {
    // Help and version need neither a display nor a brand file.
    const korvex::LaunchOptions early =
        korvex::parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (early.help || early.version) {
        if (early.help)
            std::fputs(korvex::usageText().c_str(), stdout);
        else
            std::printf("korvex %s\n", korvex::kViewerVersion);
        return 0;
    }
    if (korvex::screenshotNeedsOffscreen(early, std::getenv("DISPLAY"),
                                         std::getenv("WAYLAND_DISPLAY"),
                                         std::getenv("QT_QPA_PLATFORM"))) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication qtApp(argc, argv);
    korvex::initResources();
    korvex::ViewerApp app;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!app.InitInstance(arguments)) {
        std::fprintf(stderr, "korvex: %s\n", qPrintable(app.startupError()));
        // Started from a desktop menu, the program would otherwise end without a word.
        if (korvex::startupFailureNeedsBox(app, early, QGuiApplication::platformName()))
            korvex::startupFailureBox(app)->exec();
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
