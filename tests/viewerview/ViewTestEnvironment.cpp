#include "ViewTestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>

#include "tests/support/GuiTestEnvironment.h"
#include "viewer/shell/ScreenshotMode.h"

namespace korvex::test {

namespace {

// The application object lives while the QApplication does.
std::unique_ptr<CKorvexApp> g_app;
[[maybe_unused]] const bool g_registered =
    atQtStart([] { g_app = std::make_unique<CKorvexApp>(); }, [] { g_app.reset(); });

}  // namespace

CKorvexApp& application() {
    return *g_app;
}

std::string makeTempFolder(const std::string& tag) {
    static std::atomic<int> counter{0};
    std::random_device rd;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        (tag + "-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    return dir.string();
}

gen::RecordingSpec fourChannelSpec(int frames) {
    gen::RecordingSpec spec;
    spec.pictures = PictureFormat::Jpeg;
    spec.sound = SoundFormat::None;
    spec.frames = frames;
    spec.width = 704;
    spec.height = 480;
    spec.channels = {0, 1, 2, 3};
    spec.titles = {"Gate", "Lobby", "Yard", "Dock"};
    spec.startDvrSeconds = 300'000'000;  // 2009-07-04 05:20:00 on the recorder's clock
    spec.intervalMs = 250;
    return spec;
}

OpenRecording::~OpenRecording() {
    if (doc)
        doc->setViewPort(nullptr);
    view.reset();
    doc.reset();
    std::error_code ec;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ec);
}

std::unique_ptr<OpenRecording> openGenerated(
    const gen::RecordingSpec& spec, QSize viewSize,
    const std::function<void(const gen::RecordingResult&)>& spoil) {
    auto r = std::make_unique<OpenRecording>();
    r->folder = makeTempFolder("korvex-view-rec");
    const std::string recording = (std::filesystem::path(r->folder) / "rec").string();
    r->written = gen::writeRecording(recording, spec);
    if (!r->written.ok) {
        ADD_FAILURE() << "recording not written: " << r->written.error;
        return r;
    }
    if (spoil)
        spoil(r->written);
    r->doc = std::make_unique<CKorvexDoc>();
    r->view = std::make_unique<CKorvexView>(*r->doc);
    r->view->resize(viewSize);
    r->doc->setViewPort(r->view.get());
    r->opened = openRecordingHeadless(*r->doc, recording, nullptr);
    return r;
}

}  // namespace korvex::test
