#pragma once

#include <cstdint>

namespace picvox {

// The outcome of a run, as the main process thread reports it with the page's messages.
enum class SaveResult : std::int32_t {
    None = 0,             // nothing to report (Live, a run stopped by the page)
    Complete = 1,         // the save holds what it was asked to: complete_msg
    DiskFull = 2,         // hdd_full_msg
    Error = 3,            // a setting out of range, a folder or file that failed: error_msg
    ResourcesShort = 4,   // already told to the user
    DownloadFailure = 5,  // the recorder failed the run, the sound ran dry, the cache failed:
                          // error_msg
};

// The page message a result shows.
enum class ResultMessage { None, Complete, DiskFull, Error };
constexpr ResultMessage MessageFor(SaveResult result) {
    switch (result) {
        case SaveResult::Complete:
            return ResultMessage::Complete;
        case SaveResult::DiskFull:
            return ResultMessage::DiskFull;
        case SaveResult::Error:
        case SaveResult::DownloadFailure:
            return ResultMessage::Error;
        default:
            return ResultMessage::None;
    }
}

// A failure keeps the first one met: a later one is a consequence.
inline void NoteFailure(SaveResult& result, SaveResult failure) {
    if (result == SaveResult::None || result == SaveResult::Complete)
        result = failure;
}

}  // namespace picvox
