// The whole export in the test's process, read back as a player reads it: each picture against
// what the view draws for its frame, the sound's clicks against the pictures' times, the marks,
// Cancel, and the side files.

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "tests/export/ExportTestSupport.h"
#include "tests/tools/ReportJson.h"
#include "tests/tools/ToolsTestSupport.h"
#include "tools/recgen/SoundWriter.h"
#include "viewer/export/Sha256.h"
#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/CKorvexView.h"
#include "viewer/playback/core/PaneGeometry.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/shell/ScreenshotMode.h"

namespace korvex::test {
namespace {

// A recording opened as the viewer opens it, with a view that is never shown.
class Viewer {
public:
    explicit Viewer(const std::string& folder) {
        doc_.setViewPort(&view_);
        opened_ = openRecordingHeadless(doc_, folder, nullptr);
    }
    ~Viewer() { doc_.setViewPort(nullptr); }
    bool opened() const { return opened_; }
    CKorvexDoc& doc() { return doc_; }
    CKorvexView& view() { return view_; }

    // What the view draws in `size` for frame `index` after the frames in [from, index) were
    // shown one after the other (the panes of a multi-pane layout keep the last of each channel).
    QImage frameAfter(int from, int index, const QSize& size) {
        for (int i = from; i < index; ++i) {
            doc_.SetPosition(i);
            view_.captureCurrentFrame();
        }
        doc_.SetPosition(index);
        return view_.renderView(size);
    }

private:
    CKorvexDoc doc_;
    CKorvexView view_{doc_};
    bool opened_ = false;
};

struct ViewCase {
    const char* name;
    int frames;
    std::vector<int> channels;
    int panes;
    int channel;                // for one pane: -2 default, or the channel
    int from;                   // 1-based, as the export takes it
    std::vector<int> compared;  // 0-based frame indices of the exported list
    PictureFormat pictures = PictureFormat::Jpeg2000;
};

class MatchesTheView : public ExportFixture, public ::testing::WithParamInterface<ViewCase> {};

TEST_P(MatchesTheView, EachPictureIsWhatTheViewDrawsForItsFrame) {
    const ViewCase& c = GetParam();
    gen::RecordingSpec spec = smallSpec(c.frames);
    spec.channels = c.channels;
    spec.titles = {"GATE", "YARD", "DOCK", "HALL"};
    spec.pictures = c.pictures;
    const std::string rec = record("rec", spec);

    ExportRequest r;
    r.folder = rec;
    r.output = out("out.mp4");
    r.panes = c.panes;
    r.channel = c.channel;
    r.from = FrameBound::ofNumber(c.from);
    r.marks = false;  // the view draws marks only in the program's check mode
    const ExportOutcome o = exportWith(r);
    ASSERT_EQ(o.result, ExportOutcome::Result::Written) << o.error;

    Viewer viewer(rec);
    ASSERT_TRUE(viewer.opened());
    if (c.panes == 4)
        viewer.view().onCommand(cmd::viewImage4);
    if (c.panes == 1 && c.channel >= 0)
        viewer.view().onCommand(cmd::channelFirst + c.channel);
    ImageSource& source = *viewer.doc().source();
    const int first = c.from - 1;
    std::vector<std::int64_t> times;
    for (int k : c.compared)
        times.push_back(static_cast<std::int64_t>(source.offsetAt(k)) - source.offsetAt(first));
    VideoStreamInfo info;
    const auto pictures = picturesAt(o.output, times, &info);
    const QSize size(info.width, info.height);
    // The export fills the panes from the frames before its first, as the screenshot does.
    const int prefill = c.panes > 1 ? std::max(0, first - 2 * c.panes) : first;
    for (std::size_t i = 0; i < c.compared.size(); ++i) {
        const int k = c.compared[i];
        ASSERT_FALSE(pictures[i].empty()) << "no picture at " << times[i] << " ms";
        const QImage drawn = viewer.frameAfter(i == 0 ? prefill : c.compared[i - 1], k, size);
        const double db = psnr(rgbBytes(drawn), pictures[i]);
        EXPECT_GE(db, 30.0) << "frame " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MatchesTheView,
    ::testing::Values(
        ViewCase{"onePane", 30, {0}, 1, kDefaultChannel, 1, {0, 13, 29}},
        ViewCase{"oneChannelOfFour", 48, {0, 1, 2, 3}, 1, 2, 3, {2, 7, 11}},
        ViewCase{"fourPanes", 48, {0, 1, 2, 3}, 4, kDefaultChannel, 21, {20, 21, 22, 23, 33, 47}},
        // JPEG frames are decoded four bytes a pixel for the export, three for the view.
        ViewCase{"onePaneJpeg", 30, {0}, 1, kDefaultChannel, 1, {0, 13, 29}, PictureFormat::Jpeg},
        ViewCase{"fourPanesJpeg",
                 48,
                 {0, 1, 2, 3},
                 4,
                 kDefaultChannel,
                 21,
                 {20, 21, 33, 47},
                 PictureFormat::Jpeg}),
    [](const ::testing::TestParamInfo<ViewCase>& info) { return std::string(info.param.name); });

// The sound's click at each frame's offset, found in the decoded sound, against the pictures'
// times.
TEST_F(ExportFixture, ClicksOfTheSoundFallOnTheirFrames) {
    const std::string rec = record("rec", smallSpec(40));
    for (int from : {1, 11}) {
        ExportRequest r;
        r.folder = rec;
        r.output = out("clicks" + std::to_string(from) + ".mp4");
        r.from = FrameBound::ofNumber(from);
        r.to = FrameBound::ofNumber(35);
        const ExportOutcome o = exportWith(r);
        ASSERT_EQ(o.result, ExportOutcome::Result::Written) << o.error;
        std::vector<float> mono;
        int rate = 0;
        std::string error;
        ASSERT_TRUE(readSound(o.output, mono, rate, error)) << error;
        std::vector<double> clicksMs;
        for (std::size_t s : gen::findClicks(mono.data(), mono.size(), rate, 0.3f))
            clicksMs.push_back(static_cast<double>(s) * 1000.0 / rate);
        VideoStreamInfo video;
        ASSERT_TRUE(readVideo(o.output, video, error)) << error;
        ASSERT_EQ(video.ptsMs.size(), static_cast<std::size_t>(35 - from + 1));
        // One click per frame, each within one frame (100 ms) of its picture.
        EXPECT_EQ(clicksMs.size(), video.ptsMs.size());
        for (std::int64_t pts : video.ptsMs) {
            double nearest = 1e9;
            for (double c : clicksMs)
                nearest = std::min(nearest, std::abs(c - static_cast<double>(pts)));
            EXPECT_LT(nearest, 100.0) << "picture at " << pts << " ms, from frame " << from;
            // In fact much closer: the sound goes along sample for sample.
            EXPECT_LT(nearest, 15.0) << "picture at " << pts << " ms, from frame " << from;
        }
    }
}

// Share of the pixels in `r` of `rgb` (width `w`) that are banner red.
double redShare(const std::vector<std::uint8_t>& rgb, int w, const PixelRect& r) {
    int red = 0, all = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            ++all;
            if (p[0] > 170 && p[1] < 90 && p[2] < 90)
                ++red;
        }
    }
    return all > 0 ? static_cast<double>(red) / all : 0;
}

TEST_F(ExportFixture, AnAlteredFrameShowsTheRedBannerWithMarksOnly) {
    gen::RecordingSpec spec = smallSpec(10);
    spec.damage = {{3, gen::Damage::CodedByte}};
    const std::string rec = record("rec", spec);
    for (bool marks : {true, false}) {
        ExportRequest r;
        r.folder = rec;
        r.output = out(marks ? "marks.mp4" : "nomarks.mp4");
        r.marks = marks;
        const ExportOutcome o = exportWith(r);
        ASSERT_EQ(o.result, ExportOutcome::Result::Written) << o.error;
        VideoStreamInfo info;
        const auto pictures = picturesAt(o.output, {200, 300}, &info);
        ASSERT_FALSE(pictures[0].empty());
        ASSERT_FALSE(pictures[1].empty());
        const PixelRect banner = pictureBannerRect(fitFourByThree({0, 0, info.width, info.height}));
        // Frame 3 is the altered one; frame 2 before it is intact.
        EXPECT_LT(redShare(pictures[0], info.width, banner), 0.01);
        if (marks)
            EXPECT_GT(redShare(pictures[1], info.width, banner), 0.3);
        else
            EXPECT_LT(redShare(pictures[1], info.width, banner), 0.01);
    }
}

// The frames are read ahead of the drawing, but a frame whose time runs backwards is still left
// out, one that does not decode still shows the invalid-image face in its place, and the
// progress still goes forward to the last frame.
TEST_F(ExportFixture, FramesRunningBackwardsAreLeftOutAndTheRestKeepTheirOrder) {
    gen::RecordingSpec spec = smallSpec(12);
    spec.pictures = PictureFormat::Jpeg;
    spec.writeTimeTxt = true;
    const std::string folder = (work_ / "rec").string();
    const gen::RecordingResult rec = gen::writeRecording(folder, spec);
    ASSERT_TRUE(rec.ok) << rec.error;
    {
        // Frame 3 goes back before frame 2, frame 5 repeats frame 4's offset.
        std::ofstream times(rec.timeTxtPath, std::ios::trunc);
        for (int ms : {0, 100, 200, 150, 300, 300, 400, 500, 600, 700, 800, 900})
            times << ms << "\r\n";
        std::ofstream broken(rec.frames[7].path, std::ios::trunc);
        broken << "not a picture";
    }
    ExportRequest r;
    r.folder = folder;
    r.output = out("out.mp4");
    std::vector<long long> done;
    const ExportOutcome o = exportWith(r, nullptr, [&](const ExportProgress& p) {
        if (p.stage == ExportProgress::Stage::Frames)
            done.push_back(p.done);
    });
    ASSERT_EQ(o.result, ExportOutcome::Result::Written) << o.error;
    EXPECT_EQ(o.sideCar.pictures, 10);
    EXPECT_EQ(o.sideCar.skipped, 2);
    EXPECT_EQ(o.sideCar.undecodable, 1);
    EXPECT_EQ(o.sideCar.last.number, 12);
    ASSERT_FALSE(done.empty());
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    EXPECT_EQ(done.back(), 12);

    VideoStreamInfo info;
    std::string error;
    ASSERT_TRUE(readVideo(o.output, info, error)) << error;
    EXPECT_EQ(info.ptsMs,
              (std::vector<std::int64_t>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900}));
}

TEST_F(ExportFixture, CancelLeavesNothing) {
    const std::string rec = record("rec", smallSpec(60));
    fs::create_directories(work_ / "out");
    for (const int at : {0, 1, 20}) {
        std::atomic<bool> cancel{at == 0};
        ExportRequest r;
        r.folder = rec;
        r.output = (work_ / "out" / "out.mp4").string();
        long long seen = 0;
        const ExportOutcome o = exportWith(r, &cancel, [&](const ExportProgress& p) {
            seen = std::max(seen, p.done);
            if (p.stage == ExportProgress::Stage::Frames && p.done >= at)
                cancel.store(true);
        });
        EXPECT_EQ(o.result, ExportOutcome::Result::Cancelled) << at;
        EXPECT_LT(seen, 60);
        EXPECT_TRUE(filesIn(work_ / "out").empty()) << at;
    }
}

TEST_F(ExportFixture, SideFilesNameTheSourceTheFramesAndTheManifest) {
    const std::string rec = record("rec", smallSpec(20));
    // The manifest another part of the system writes; only its hash matters here.
    {
        std::ofstream manifest(fs::path(rec) / "SHA256SUMS");
        manifest << std::string(64, '0') << "  IMG00001/000001.jp2\n";
    }
    ExportRequest r;
    r.folder = rec;
    r.output = out("side.mp4");
    r.from = FrameBound::ofNumber(3);
    r.to = FrameBound::ofNumber(12);
    const ExportOutcome o = exportWith(r);
    ASSERT_EQ(o.result, ExportOutcome::Result::Written) << o.error;

    const toolstest::Json j = toolstest::Json::parse(toolstest::readText(o.sideCarFile));
    EXPECT_EQ(j.at("source").at("folder").get<std::string>(), fs::absolute(rec).string());
    std::string manifestHex, videoHex;
    int error = 0;
    ASSERT_TRUE(sha256OfFile((fs::path(rec) / "SHA256SUMS").string(), manifestHex, error));
    ASSERT_TRUE(sha256OfFile(o.output, videoHex, error));
    EXPECT_EQ(j.at("source").at("manifest").at("sha256").get<std::string>(), manifestHex);
    EXPECT_EQ(j.at("first").at("number").get<long long>(), 3);
    EXPECT_TRUE(j.at("first").at("file").get<std::string>().ends_with("/IMG00001/000003.jp2"));
    EXPECT_EQ(j.at("first").at("time").get<std::string>(), "2024-01-01 00:00:00");
    EXPECT_EQ(j.at("last").at("number").get<long long>(), 12);
    EXPECT_EQ(j.at("last").at("time").get<std::string>(), "2024-01-01 00:00:01");
    EXPECT_EQ(j.at("options").at("from").get<std::string>(), "3");
    EXPECT_EQ(j.at("video").at("pictures").get<long long>(), 10);
    EXPECT_EQ(j.at("video").at("sha256").get<std::string>(), videoHex);
    EXPECT_EQ(toolstest::readText(o.checksumFile), videoHex + "  side.mp4\n");
    // And the checksum file is one sha256sum reads.
    EXPECT_EQ(std::system(
                  ("cd '" + work_.string() + "' && sha256sum -c --status side.mp4.sha256").c_str()),
              0);
}

TEST_F(ExportFixture, RequestsTheRecordingCannotServeWriteNothing) {
    gen::RecordingSpec noIndex = smallSpec(12);
    noIndex.writeInfo = false;
    gen::RecordingSpec twoChannels = smallSpec(12);
    twoChannels.channels = {0, 1};
    const std::string plain = record("plain", noIndex);
    const std::string two = record("two", twoChannels);
    fs::create_directories(work_ / "out");
    const std::string taken = (work_ / "out" / "taken.mp4").string();
    std::ofstream(taken) << "not ours";

    struct Refusal {
        const char* what;
        std::function<void(ExportRequest&)> change;
    };
    const Refusal cases[] = {
        {"no channel 5ch", [&](ExportRequest& r) { r.channel = 4; }},
        {"names no channels",
         [&](ExportRequest& r) {
             r.folder = plain;
             r.channel = 0;
         }},
        {"one pane only",
         [&](ExportRequest& r) {
             r.folder = plain;
             r.panes = 4;
         }},
        {"has 6 frames", [&](ExportRequest& r) { r.from = FrameBound::ofNumber(7); }},
        {"no frame at or after",
         [&](ExportRequest& r) {
             std::string why;
             ASSERT_TRUE(parseFrameBound("2030-01-01 00:00:00", r.from, why)) << why;
         }},
        {"before --from",
         [&](ExportRequest& r) {
             r.from = FrameBound::ofNumber(5);
             r.to = FrameBound::ofNumber(2);
         }},
        {"exists", [&](ExportRequest& r) { r.output = taken; }},
        {"not a recording", [&](ExportRequest& r) { r.folder = (work_ / "out").string(); }},
    };
    for (const Refusal& c : cases) {
        ExportRequest r;
        r.folder = two;
        r.output = (work_ / "out" / "new.mp4").string();
        c.change(r);
        const ExportOutcome o = exportWith(r);
        EXPECT_EQ(o.result, ExportOutcome::Result::Unusable) << c.what;
        EXPECT_NE(o.error.find(c.what), std::string::npos) << o.error;
        EXPECT_EQ(filesIn(work_ / "out"), std::vector<std::string>{"taken.mp4"}) << c.what;
    }
    EXPECT_EQ(toolstest::readText(taken), "not ours");
    // Asked to, it replaces the file.
    ExportRequest r;
    r.folder = two;
    r.output = taken;
    r.overwrite = true;
    EXPECT_EQ(exportWith(r).result, ExportOutcome::Result::Written);
}

}  // namespace
}  // namespace korvex::test
