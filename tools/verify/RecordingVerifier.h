#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::verify {

// One frame as the viewer sees it after showing it once.
struct VerifiedFrame {
    int index = 0;
    std::string path;
    int channel = -1;
    std::int32_t flags = -1;  // checkFlags after the check; -1 when it could not run
    std::int64_t time = 0;    // calendar time of the record, 0 = none
    std::string timeText;     // "YYYY-MM-DD HH:MM:SS" of the recorder's clock; empty = none
    std::uint32_t offsetMs = 0;
    bool decoded = false;  // the picture decoded (the check runs on the file's bytes either way)
    std::string title;     // camera title of the channel, empty without one
    // The black picture the streaming client writes at a save's start: checked like a frame,
    // but nothing the recorder recorded.
    bool placeholder = false;
    // Why the check could not run on the file's bytes (flags -1, file read); empty otherwise.
    std::string notCheckedReason;
};

struct VerifySummary {
    int frames = 0;
    int intact = 0;          // checked, bits 0 and 1 clear
    int pictureAltered = 0;  // bit 0
    int timeAltered = 0;     // bit 1
    int noTime = 0;          // bit 2
    int notChecked = 0;      // -1
    int unreadable = 0;      // folders and files that could not be read
    int placeholder = 0;     // the client's placeholder pictures (counted in intact too)
};

// The recording against its SHA256SUMS. Paths are inside the recording folder.
struct ManifestSummary {
    bool present = false;
    std::string file;  // its name in the folder
    long long matched = 0;
    long long changed = 0;     // listed, but the bytes differ (or two lines disagree)
    long long missing = 0;     // listed, but not in the folder
    long long added = 0;       // in the folder, not listed
    long long unreadable = 0;  // listed, but could not be read
    long long unparsed = 0;    // lines that are no entry, or name a path outside the folder
    bool incomplete = false;   // the saving run did not complete (no sound line, a cut line)
    std::vector<std::string> changedFiles, missingFiles, addedFiles, unreadableFiles;

    bool mismatch() const {
        return present && (changed || missing || added || unreadable || unparsed || incomplete);
    }
};

// A folder or file of the recording that could not be read: frames in it are missing from the
// report, or the frame could not be checked.
struct UnreadableEntry {
    std::string path;
    std::string reason;
};

struct VerifyReport {
    std::string folder;
    std::string kind;  // "jpeg", "jp2mp3" or "jp2wav"
    std::string soundPath;
    bool subfoldersOnly = false;
    bool infoLoaded = false;
    int channelCount = 0;
    bool timeTablePresent = false;
    // Frames of each channel number in the index (-1 for all of a recording without INFO).
    std::map<int, long long> framesPerChannel;
    std::vector<VerifiedFrame> frames;
    std::vector<UnreadableEntry> unreadable;
    VerifySummary summary;
    ManifestSummary manifest;
};

// Opens `folder` exactly as the viewer does (probe, then the index with subfolders only when a
// sound file was found, all channels when an INFO file loads) and shows every frame once, as
// loadCurrent does, so that each is decoded and checked; checks the manifest when the folder has
// one. Fixes the process time zone to the recorders' (as every program of the system does) so
// the times read as the viewer shows them. False, with a message, when the folder is
// unreadable, not a recording or holds no frames. Holds every frame in `report`: for large
// recordings runVerification (Verification.h) streams them instead.
bool verifyRecording(const std::string& folder, VerifyReport& report, std::string& error);

// 2 some part of the recording could not be read (the report is incomplete, whatever it found);
// else 1 some frame altered (bit 0 or 1); 3 some frame not checked and none altered; 0 every
// frame checked and none altered.
int exitStatusOf(const VerifySummary& summary);
// The same, and 4 where that gives 0 but the manifest does not match the folder.
int exitStatusOf(const VerifyReport& report);

// JSON string literal of `text` (with the quotes), always valid JSON, and two different byte
// strings never give the same value: valid UTF-8 stays as it is (controls, C1 included, as
// \u00NN), a byte outside valid UTF-8 reads \xNN in the value, and a backslash reads \\.
std::string jsonString(std::string_view text);

// `text` for a terminal: valid UTF-8 stays, a backslash is doubled, and every byte of a control
// character (C0, DEL, C1) or outside valid UTF-8 is written as \xNN, so a crafted name can
// neither drive the terminal nor pass for another name.
std::string terminalText(std::string_view text);

// The whole report as JSON: folder, kind, frames in index order, unreadable parts, summary, and
// the manifest (a stable contract: keys are only ever added).
std::string toJson(const VerifyReport& report);
// The same in pieces, for a writer that streams the frames: the head up to the frame list's
// "[", one frame's object (without separator), and everything after the frames.
std::string jsonHead(const VerifyReport& report);
std::string jsonFrame(const VerifiedFrame& frame);
std::string jsonTail(const VerifyReport& report, bool anyFrame);
// The manifest's object and the summary's members, with strings quoted by `quote` (jsonString,
// or the report's data quoting that may stand inside an HTML page).
using JsonQuote = std::string (*)(std::string_view);
std::string jsonManifest(const ManifestSummary& manifest, JsonQuote quote = jsonString);
std::string jsonSummaryMembers(const VerifySummary& summary);

// Text mode: a header, one line per frame and the summary, then the manifest's lines when there
// is one.
std::string textHeader(const VerifyReport& report);
std::string textLine(const VerifiedFrame& frame);
std::string textSummary(const VerifySummary& summary);
std::string textManifest(const ManifestSummary& manifest);
// One unreadable part as a line of text without its end ("cannot read PATH (reason)").
std::string textUnreadable(const UnreadableEntry& entry);

}  // namespace korvex::verify
