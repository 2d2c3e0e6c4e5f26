#include "PanelTestSupport.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

namespace korvex::test {

namespace fs = std::filesystem;

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
