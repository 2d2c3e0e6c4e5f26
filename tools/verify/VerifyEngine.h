#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/manifest/Sha256.h"
#include "tools/verify/RecordingIndex.h"
#include "tools/verify/RecordingVerifier.h"

namespace korvex::verify {

// What a frame's bytes say against the recording's manifest.
enum class ManifestState : std::uint8_t { None, Matched, Changed, Unlisted, Unreadable };

// The digests a manifest gives the frames of an index, by frame number.
struct FrameDigests {
    std::vector<Sha256Digest> digest;
    // 0 not listed, 1 listed, 2 listed more than once with different digests.
    std::vector<std::uint8_t> listed;
};

// One frame after the pass, as the consumer receives it.
struct FrameOutcome {
    VerifiedFrame frame;
    int readError = 0;  // errno of the frame file's read; 0 when it was read
    ManifestState manifest = ManifestState::None;
    Sha256Digest digest{};                // with EngineOptions::hash
    std::string line;                     // the frame's output line, when asked for
    std::vector<std::uint8_t> thumbnail;  // JPEG of an altered frame, while wanted
};

struct EngineOptions {
    int threads = 0;  // 0: one per processor
    enum class Work { Verify, HashOnly } work = Work::Verify;
    enum class Line { None, Json, Text } line = Line::None;
    bool hash = false;                       // digest every frame's bytes
    const FrameDigests* expected = nullptr;  // compare them with these
    std::size_t thumbnails = 0;              // thumbnails of the first altered frames
    const std::atomic<bool>* cancel = nullptr;
};

// Receives every frame in index order on the thread that called runFrames.
class FrameConsumer {
public:
    virtual ~FrameConsumer() = default;
    virtual void frame(FrameOutcome& outcome) = 0;
};

// Reads, digests, decodes and checks every frame of `index` as the viewer's loadCurrent and
// offsetAt would, on `threads` workers, each frame file read once. Results reach the consumer in
// index order through a window of a few frames per worker, so memory does not grow with the
// recording and the output is the same whatever the number of threads. The workers are owned by
// the call and joined before it returns. False when cancelled.
bool runFrames(const RecordingIndex& index, const EngineOptions& options, FrameConsumer& consumer);

int defaultThreads();

}  // namespace korvex::verify
