#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "control/buffers/WavFile.h"

namespace picvox {

// The sound clips from the download thread to the WAV writer: a fixed-slot ring under its own
// lock. One slot always stays free, so read == write means empty and a ring of N slots holds at
// most N - 1 clips.
class WaveSaveQueue {
public:
    explicit WaveSaveQueue(std::size_t slots);
    WaveSaveQueue(const WaveSaveQueue&) = delete;
    WaveSaveQueue& operator=(const WaveSaveQueue&) = delete;

    // False (clip untouched) when full.
    bool Push(WavClip&& clip);
    // False when empty; the clip taken leaves its slot empty.
    bool Pop(WavClip& clip);
    std::size_t slots() const;
    std::size_t held() const;

private:
    mutable std::mutex lock_;
    std::vector<WavClip> ring_;
    std::size_t read_ = 0;
    std::size_t write_ = 0;
};

}  // namespace picvox
