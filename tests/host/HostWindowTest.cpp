// The host's window on Qt's offscreen platform: Start streams from the built-in recorder into
// the control's area, the counter field follows the save, Stop ends the run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "tests/tools/ToolsTestSupport.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/host/ControlHandle.h"
#include "tools/host/DemoSetup.h"
#include "tools/host/HostWindow.h"

using namespace picvoxhost;
namespace fs = std::filesystem;

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A picture from the recorder has many colours; black or the waiting figure have few.
bool showsAPicture(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    return colours.size() > 64;
}

TEST(HostWindow, StartPaintsTheStreamCountsAndStops) {
    toolstest::TempDir home;
    const std::string docs = home / "docs";
    fs::create_directories(docs);
    std::ofstream(docs + "/Picvox.ini") << "";
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "cfg").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    ::setenv("TMPDIR", home.path().c_str(), 1);
    fs::create_directories(home / "cache");
    ::setenv("XDG_DOCUMENTS_DIR", docs.c_str(), 1);

    std::string error;
    ASSERT_TRUE(callRegistrationEntry(std::getenv("PICVOX_MODULE"), false, &error)) << error;
    std::ostringstream notes;
    std::optional<ControlHandle> control = ControlHandle::create(notes, &error);
    ASSERT_TRUE(control) << error;
    auto recorder = startDemoRecorder(&error);
    ASSERT_TRUE(recorder) << error;

    // Nobody is there to close a box: close each one.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    closer.start(50);

    HostWindow window(*control, QSize(360, 240));
    ASSERT_EQ(window.session().applySettings(
                  demoProperties(DemoMode::Live, recorder->baseUrl(), demoDestination())),
              "");
    window.show();
    // The area is the control's from the first paint on.
    ASSERT_TRUE(waitFor([&] { return !window.area()->lastPainted().isNull(); }, 5000));
    EXPECT_EQ(window.area()->lastPainted().size(), QSize(360, 240));

    // Live: the recorder's pictures reach the area.
    window.startButton()->click();
    EXPECT_TRUE(window.stopButton()->isEnabled());
    const auto engineRan = [&] {
        return toolstest::readText(docs + "/Picvox_log.log").find("MainProcessThread START!!") !=
               std::string::npos;
    };
    ASSERT_TRUE(waitFor(engineRan, 5000));
    EXPECT_TRUE(waitFor([&] { return showsAPicture(window.area()->lastPainted()); }, 30000));
    window.stopButton()->click();
    EXPECT_FALSE(window.stopButton()->isEnabled());
    EXPECT_FALSE(window.session().running());

    // Saving: the page's counter field counts.
    ASSERT_EQ(window.session().applySettings({{"hdd_save", "1"}, {"save_time", "30"}}), "");
    window.startButton()->click();
    QLineEdit* counter = window.elementField("save_timer_counter");
    ASSERT_NE(counter, nullptr);
    EXPECT_TRUE(counter->isReadOnly());
    EXPECT_TRUE(waitFor([&] { return !counter->text().isEmpty(); }, 30000));
    window.stopButton()->click();
    EXPECT_FALSE(window.session().running());
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
