#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include "tools/verify/RecordingVerifier.h"
#include "tools/verify/VerifyEngine.h"

namespace korvex::verify {

struct VerifyOptions {
    int threads = 0;  // 0: one per processor
    EngineOptions::Line line = EngineOptions::Line::None;
    bool checkManifest = true;
    std::size_t thumbnails = 0;  // of the first altered frames, for a report
    const std::atomic<bool>* cancel = nullptr;
};

// Follows a verification as it goes. Every call comes on the thread that called
// runVerification.
class VerifyObserver {
public:
    virtual ~VerifyObserver() = default;
    // The recording's facts are in `report` (no frames, unreadable parts of the index so far);
    // `frames` frames follow.
    virtual void started(const VerifyReport& /*report*/, std::size_t /*frames*/) {}
    // Each frame in index order; the observer may take the outcome's line and thumbnail.
    virtual void frame(FrameOutcome& /*outcome*/) {}
    // Everything but the frames: unreadable parts, summary, manifest.
    virtual void finished(const VerifyReport& /*report*/) {}
};

// The verification of `folder` as verifyRecording does it, streamed: `report` keeps no frames,
// the observer sees each one, and memory stays within some tens of bytes a frame. False with a
// message when the folder is no recording the viewer opens, or when cancelled (`cancelled`
// then tells, and nothing was finished).
bool runVerification(const std::string& folder, const VerifyOptions& options,
                     VerifyObserver& observer, VerifyReport& report, std::string& error,
                     bool* cancelled = nullptr);

// Writes SHA256SUMS into a recording that has none (one exported from a recorder): every frame
// in index order, then every other file in byte order of its path. `progress` (frames done,
// frames in all), when given, is called as the frames are hashed. False with a message when the
// folder is no recording, already has a manifest, or a file cannot be read or the manifest
// written; nothing is left behind then. `files` receives the number of lines.
bool writeManifest(const std::string& folder, int threads, std::string& error,
                   std::size_t* files = nullptr,
                   const std::function<void(std::size_t, std::size_t)>& progress = {});

}  // namespace korvex::verify
