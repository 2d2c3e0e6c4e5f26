#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/verify/Verification.h"

namespace korvex::verify {

// What a frame shows on a report's timeline, the worst first.
enum class FrameClass : int {
    PictureAltered = 0,
    TimeAltered,
    Unchecked,
    NoTime,
    Placeholder,
    Intact,
};
inline constexpr std::size_t kFrameClasses = 6;
FrameClass classOf(const VerifiedFrame& frame);
const char* frameClassKey(FrameClass c);  // "pictureAltered", ... as in the report's data

// A frame the report names.
struct ReportFrame {
    int index = 0;
    std::string file;  // inside the recording folder
    int channel = -1;
    std::string time;  // the recorder's clock, empty without a valid time
    std::int32_t flags = -1;
    std::uint32_t offsetMs = 0;
    bool placeholder = false;
    bool decoded = false;
    std::vector<std::uint8_t> thumbnail;  // JPEG, altered frames only, empty when none
};

// A list the report shows only the start of.
template <class T>
struct Capped {
    long long total = 0;
    std::vector<T> listed;
};

struct ChannelReport {
    int channel = -1;
    std::string title;
    long long frames = 0;
    std::string first, last;  // earliest and latest capture time of its frames
    std::array<long long, kFrameClasses> counts{};
    // The channel's frames cut into kTimelineBins equal stretches in their order; each bin
    // counts them by class.
    std::vector<std::array<std::uint32_t, kFrameClasses>> bins;
    long long expected = 0;  // frames the index gives the channel
};

// The report of one verification: what JSON, HTML and PDF all show. Its size does not depend on
// the recording's: the frames are folded into the channels' timelines as they pass, and only
// the first of each kind of finding are kept.
struct ReportModel {
    static constexpr std::size_t kTimelineBins = 200;
    static constexpr std::size_t kMaxListed = 200;

    // About the report itself.
    std::string program = "korvex-verify";
    std::string version;
    std::vector<std::string> commandLine;
    std::string madeAt;    // UTC, ISO 8601
    std::string timeZone;  // the zone the recorders' times are read in

    int status = 0;  // korvex-verify's exit status for the recording
    std::string headline;
    std::vector<std::string> details;

    std::string folder;
    std::string kind;
    std::string soundFile;     // inside the folder, empty without sound
    double soundSeconds = -1;  // -1 unknown
    bool infoLoaded = false;
    bool timeTable = false;
    long long frameCount = 0;
    std::string firstTime, lastTime;
    std::vector<ChannelReport> channels;
    VerifySummary summary;
    long long alteredFrames = 0;  // frames with bit 0 or 1

    Capped<ReportFrame> altered;   // with thumbnails
    Capped<ReportFrame> findings;  // not checked, without a valid time, placeholder, no picture
    Capped<UnreadableEntry> unreadable;
    ManifestSummary manifest;  // its lists cut to kMaxListed; the counts stay whole
};

// Builds the model while the verification runs; hand it the observer calls.
class ReportBuilder final : public VerifyObserver {
public:
    explicit ReportBuilder(ReportModel& model) : model_(model) {}
    void started(const VerifyReport& report, std::size_t frames) override;
    void frame(FrameOutcome& outcome) override;
    void finished(const VerifyReport& report) override;

private:
    ChannelReport& channel(int number);
    ReportModel& model_;
    std::map<int, std::size_t> channelAt_;
    std::map<int, long long> expected_;
    std::string prefix_;  // the folder with its '/', taken off the frames' paths
};

// The verdict in plain words for a finished report.
void writeVerdict(ReportModel& model);

// The model as the report's embedded data: JSON whose bytes the report shows the SHA-256 of.
// '<', '>' and '&' are always escaped, so the text can stand inside an HTML script element.
std::string reportDataJson(const ReportModel& model);

// One self-contained HTML page: styles inline, thumbnails as data URLs, the timeline as inline
// SVG, no reference outside the file; `data` (reportDataJson) embedded with its digest.
std::string reportHtml(const ReportModel& model, const std::string& data);

// The length of a sound file in seconds, -1 when it cannot be read.
double soundLengthSeconds(const std::string& path);

// Standard base64 of `bytes`.
std::string base64(const std::vector<std::uint8_t>& bytes);

}  // namespace korvex::verify
