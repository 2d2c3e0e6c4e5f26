#pragma once

// Recordings to export, the export run in the test's process, and what the view draws for a
// frame, to compare the video with.

#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/export/MediaReader.h"
#include "tests/support/GuiTestEnvironment.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/RecordingWriter.h"
#include "viewer/export/ExportJob.h"

namespace korvex::test {

namespace fs = std::filesystem;

// A small recording: `frames` JPEG 2000 pictures of 352 x 240, 100 ms apart from
// 2024-01-01 00:00:00, with a WAV track whose clicks mark every frame's offset.
inline gen::RecordingSpec smallSpec(int frames) {
    gen::RecordingSpec spec;
    gen::parseDvrTime("2024-01-01 00:00:00", spec.startDvrSeconds);
    spec.frames = frames;
    spec.width = 352;
    spec.height = 240;
    spec.framesPerFolder = 40;
    spec.soundTone = false;
    spec.channels = {0};
    return spec;
}

// A scratch folder of the test's own, removed at its end.
class ExportFixture : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> n{0};
        work_ = fs::path(freshFolder("export-" + std::to_string(n++)));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(work_, ec);
    }

    std::string record(const std::string& name, const gen::RecordingSpec& spec) {
        const std::string folder = (work_ / name).string();
        const gen::RecordingResult r = gen::writeRecording(folder, spec);
        EXPECT_TRUE(r.ok) << r.error;
        return folder;
    }
    std::string out(const std::string& name) const { return (work_ / name).string(); }

    ExportOutcome exportWith(ExportRequest request, const std::atomic<bool>* cancel = nullptr,
                             const ExportJob::Progress& progress = {}) {
        std::atomic<bool> never{false};
        ExportJob job(std::move(request), "test");
        return job.run(cancel != nullptr ? *cancel : never, progress);
    }

    // The files of a folder (names only), sorted.
    static std::vector<std::string> filesIn(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path work_;
};

// Red-green-blue bytes of a picture, rows top down.
inline std::vector<std::uint8_t> rgbBytes(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = rgb.constScanLine(y);
        bytes.insert(bytes.end(), row, row + rgb.width() * 3);
    }
    return bytes;
}

// The decoded pictures of `path` at the given times (ms), in that order; empty entries for
// times no picture has.
inline std::vector<std::vector<std::uint8_t>> picturesAt(const std::string& path,
                                                         const std::vector<std::int64_t>& times,
                                                         VideoStreamInfo* info = nullptr) {
    std::vector<std::vector<std::uint8_t>> found(times.size());
    VideoStreamInfo local;
    std::string error;
    const bool ok = readVideo(path, info != nullptr ? *info : local, error,
                              [&](std::int64_t ms, const std::vector<std::uint8_t>& rgb) {
                                  for (std::size_t i = 0; i < times.size(); ++i) {
                                      if (times[i] == ms)
                                          found[i] = rgb;
                                  }
                              });
    EXPECT_TRUE(ok) << error;
    return found;
}

}  // namespace korvex::test
