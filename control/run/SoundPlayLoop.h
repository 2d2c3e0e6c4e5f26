#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "control/buffers/AudioRing.h"
#include "control/buffers/FrameQueue.h"
#include "control/download/SaveResult.h"
#include "control/run/DxsPlayer.h"
#include "platform/Event.h"
#include "platform/audio/WaveFormat.h"

namespace picvox {

// What the sound loop needs from the main process thread and the download thread of its run.
// Everything is borrowed for the length of one SoundPlayLoop call.
struct SoundLoopInput {
    AudioRing* ring = nullptr;
    platform::WaveFormat format;  // the stream's format, as the download thread kept it
    int cacheTimeMs = 0;
    bool saves = false;  // a save run: a dry ring fails it
    bool saveWithSound = false;
    DxsPlayer* player = nullptr;
    FrameQueue* frameQueue = nullptr;  // may be null: no pictures to show
    // Waited for, in this order, while sound plays. endOrder is the run's end order (manual
    // reset); writerEnded the WAV writer's end notice, only when saving with sound.
    platform::Event* endOrder = nullptr;
    platform::Event* writerEnded = nullptr;
    // The download thread's "cached sound queued for the save" notice; waited for up to a
    // second before playing, when there is one.
    platform::Event* soundQueued = nullptr;
    std::atomic<int>* soundPlaying = nullptr;  // 1 while the loop runs
    // The download thread's result: a dry ring in a save run makes a result still None a
    // download failure.
    std::atomic<SaveResult>* downloadResult = nullptr;
    // The waiting animation's state (0: a picture is showing).
    std::function<void(int state)> setAnimationState;
    // Calendar seconds; time() when not given.
    std::function<std::int64_t()> now;
    // Out: the seconds the feeder refilled (sound really played).
    int playedSeconds = 0;
};

// The save result a dry ring gives a save run.
inline constexpr SaveResult kSoundRanDryResult = SaveResult::DownloadFailure;

// Plays the ring through the player, one second at a time on a feeder thread, until the ring runs
// dry, playing fails, the end is ordered or the writer ends. Each played second shows the newest
// picture whose time has come and, every cacheTimeMs/1000 seconds, corrects the frequency.
// Returns 0 once the feeder has ended.
int SoundPlayLoop(SoundLoopInput& input);

// The seconds of sound held, in per cent of the cache time (0 when either is 0).
std::int32_t FillPercent(const AudioRing& ring, const platform::WaveFormat& format, int cacheMs);

// The frequency band of the correction: 7400..8200 Hz for an 8 kHz stream, the same share of
// their own rate for others.
struct FrequencyLimits {
    int low = 0;
    int high = 0;
};
FrequencyLimits FrequencyLimitsFor(const platform::WaveFormat& format);

// Nudges the playback frequency so that the ring stays near the cache time: a step of one per
// cent against a fill out of 70..130 per cent, another for a trend of 15 points since the last
// call. Once the fill is back in band with no trend, the last correction is taken back (see the
// .cpp); rules that only cancel each other out of band change nothing.
void CorrectFrequency(const AudioRing& ring, const platform::WaveFormat& format, int cacheMs,
                      int& savedDiff, int& prevPct, DxsPlayer& player);

}  // namespace picvox
