#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "recording/manifest/Manifest.h"
#include "tools/verify/RecordingIndex.h"
#include "tools/verify/RecordingVerifier.h"
#include "tools/verify/VerifyEngine.h"

namespace korvex::verify {

// The check of a recording against its SHA256SUMS: the frames' lines are handed to the frame
// pass (which digests each frame from the bytes it reads for the check anyway), the other
// files' lines are checked here, and what the folder holds beyond the manifest is found by the
// index's walk. Files are matched by their bytes' path, else ignoring case (recordings come
// from FAT media).
class ManifestCheck {
public:
    // Reads the manifest of the index's folder, if it has one. False (with errno-like `error`)
    // only when one exists and cannot be read at all.
    bool load(const std::string& folder, const RecordingIndex& index, int& error);
    bool present() const { return present_; }
    const FrameDigests& frameDigests() const { return frames_; }

    // The frame pass's verdict on frame i (in index order, one call per frame).
    void frameChecked(std::size_t i, ManifestState state);
    // Digests and compares the files that are no frame (may run beside the frame pass: it
    // touches nothing the pass uses). `cancel`, when set, ends it after the file in hand.
    void checkOtherFiles(const std::string& folder, const RecordingIndex& index,
                         const std::atomic<bool>* cancel = nullptr);
    // The tally, with every file named; `soundRelative` is the recording's sound file inside
    // the folder (empty without one): a manifest that lists frames but not it is incomplete.
    ManifestSummary finish(const RecordingIndex& index, const std::string& soundRelative);

private:
    struct Other {
        manifest::Entry entry;
        std::uint8_t state = 0;  // 0 not found, 1 matched, 2 changed, 3 unreadable
        bool conflicting = false;
    };
    bool lookUpFrame(const RecordingIndex& index, std::string_view path, std::size_t& frame) const;
    std::size_t slotOf(std::string_view path) const;

    bool present_ = false;
    std::string fileName_;
    FrameDigests frames_;
    std::vector<std::uint32_t> table_;  // frame number + 1 by hash of the path, 0 empty
    std::vector<Other> others_;
    std::size_t unparsed_ = 0;
    bool cutShort_ = false;
    bool listsFrames_ = false;
    std::vector<std::string> othersAdded_;
    // Frames by state, as numbers into the index.
    std::size_t framesMatched_ = 0;
    std::vector<std::uint32_t> framesChanged_, framesAdded_, framesUnreadable_;
};

}  // namespace korvex::verify
