#include "viewer/shell/core/SaveFileName.h"

#include <gtest/gtest.h>

#include "platform/TimeZone.h"
#include "recording/AuthenticityCheck.h"

namespace {

TEST(SaveFileName, RecordingNameAndTheRecordersClock) {
    platform::fixProcessTimeZone();  // as the viewer does at start-up
    const std::int64_t time = korvex::dvrSecondsToTime(850'111'543);  // 2026-12-09 06:05:43
    const struct {
        const char* folder;
        std::int64_t time;
        int index;
        const char* name;
    } rows[] = {
        {"/media/usb/TRM00001", time, 4, "TRM00001_2026-12-09_06-05-43.bmp"},
        {"/media/usb/TRM00001//", time, 4, "TRM00001_2026-12-09_06-05-43.bmp"},
        {"TRM00002", time, 0, "TRM00002_2026-12-09_06-05-43.bmp"},
        {"/media/usb/TRM00001", 0, 11, "TRM00001_frame000012.bmp"},  // no time: the number
        {"/rec/a\tb\x7f", 0, 0, "a_b__frame000001.bmp"},
        {"/", 0, 0, "frame_frame000001.bmp"},
        {"", time, 0, "frame_2026-12-09_06-05-43.bmp"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(korvex::proposedSaveName(r.folder, r.time, r.index), r.name) << r.folder;
}

}  // namespace
