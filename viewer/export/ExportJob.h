#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "viewer/export/ExportRequest.h"
#include "viewer/export/SideCar.h"

// One export of a stretch of a recording into an MP4 video: the recording opened as the viewer
// opens it, the frame files read and decoded ahead on a thread of the job's own, each frame drawn
// by the view's painter on the caller's thread, coded on another thread of the job's while the
// next is drawn, and the file, its checksum and its side-car put in place only when all of it is
// written.

namespace korvex {

struct ExportProgress {
    enum class Stage {
        Indexing,   // the recording's frames are listed
        Frames,     // `done` of `total` frames drawn and handed to the coder
        Finishing,  // the coders drain, the index goes in front, the checksums are made
    };
    Stage stage = Stage::Indexing;
    long long done = 0;
    long long total = 0;
};

struct ExportOutcome {
    enum class Result {
        Written,
        Cancelled,
        Failed,    // writing failed (a full disk, an unwritable folder); nothing left behind
        Unusable,  // not a recording, or no such frames, channel or layout in it
    };
    Result result = Result::Failed;
    std::string error;
    std::string output;
    std::string checksumFile;
    std::string sideCarFile;
    SideCar sideCar;  // what the side-car says (filled once written)
};

// Picture frames the job holds at most between the painter and the coder, besides the one being
// drawn and the one being coded.
inline constexpr int kQueuedPictures = 2;
// Frames the job reads and decodes at most ahead of the one being drawn.
inline constexpr int kFramesAhead = 3;

class ExportJob {
public:
    using Progress = std::function<void(const ExportProgress&)>;

    ExportJob(ExportRequest request, std::string version);

    // Runs the whole export on the calling thread (any thread: the painter draws into pictures of
    // its own, and the job opens the recording itself). `cancel` is polled between frames and by
    // the folder scan; `progress` is called on the calling thread.
    ExportOutcome run(const std::atomic<bool>& cancel, const Progress& progress = {});

private:
    ExportRequest request_;
    std::string version_;
};

}  // namespace korvex
