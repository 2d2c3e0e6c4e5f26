#pragma once

namespace korvex {

// How an open of a recording folder ended. Only Opened replaces what was shown before with a
// recording; NoFrames and NoFramesInSubfolders leave an empty recording behind, the others leave
// the previous recording as it was.
enum class OpenOutcome {
    Opened,
    Unreadable,            // the folder does not exist or cannot be listed
    NotARecording,         // no frame files of either kind (a sound file alone is not enough)
    NoFrames,              // the scan listed no frame file
    NoFramesInSubfolders,  // a recording with sound keeps its frames in subfolders, and has none
    Cancelled,             // the user cancelled the scan
};

}  // namespace korvex
