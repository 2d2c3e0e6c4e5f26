#include "PanelTestSupport.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "viewer/resources/Resources.h"

namespace korvex::test {

namespace fs = std::filesystem;

namespace {

std::string g_home;

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::random_device rd;
        const fs::path home =
            fs::temp_directory_path() /
            ("korvex-panel-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        fs::create_directories(home / "config");
        g_home = home.string();
        ::setenv("HOME", g_home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", g_home.c_str(), 1);
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        initResources();
        setUiLanguage(Language::English);
    }
    void TearDown() override {
        app_.reset();
        std::error_code ec;
        fs::remove_all(g_home, ec);
    }

private:
    int argc_ = 1;
    char name_[24] = "viewerui_panel_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace

const std::string& scratchHome() {
    return g_home;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    return QTest::qWaitFor(done, timeoutMs);
}

void FrameTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("korvex-panel-rec-") + std::to_string(::getpid()) + "-" +
                       info->test_suite_name() + "-" + info->name();
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    root = (fs::temp_directory_path() / name).string();
    fs::remove_all(root);
    fs::create_directories(root);
    frame = std::make_unique<CMainFrame>();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
}

void FrameTest::TearDown() {
    frame.reset();
    fs::remove_all(root);
}

std::string FrameTest::write(const std::string& name, int frames, gen::RecordingSpec spec,
                             bool keepSpec) {
    if (!keepSpec) {
        spec.pictures = PictureFormat::Jpeg;
        spec.width = 64;
        spec.height = 48;
        spec.framesPerFolder = 5;
    }
    spec.frames = frames;
    const std::string folder = (fs::path(root) / name).string();
    const gen::RecordingResult r = gen::writeRecording(folder, spec);
    EXPECT_TRUE(r.ok) << r.error;
    return folder;
}

bool FrameTest::open(const std::string& folder) {
    return doc().OpenRecordingFolder(folder);
}

void FrameTest::click(int id) {
    auto* button = qobject_cast<QAbstractButton*>(control(id));
    ASSERT_NE(button, nullptr) << id;
    ASSERT_TRUE(button->isEnabled()) << id;
    button->click();
}

}  // namespace korvex::test
