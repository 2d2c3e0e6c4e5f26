#pragma once

#include <cstdint>
#include <memory>

#include "control/buffers/AudioRing.h"
#include "platform/Event.h"
#include "platform/audio/SoundBuffer.h"
#include "platform/audio/WaveFormat.h"

namespace picvox {

// The sound player: a two-second looping buffer (two halves of one second each) that the
// feeding thread refills from the AudioRing, half by half, as the play cursor leaves each half.
// Made by the download thread on its first sound segment, used by every pass of the run and
// released at the run's end.
struct DxsPlayer {
    std::unique_ptr<platform::SoundDevice> directSound;
    platform::Event halfStartEvent{platform::Event::Reset::Auto};  // cursor passed offset 0
    platform::Event halfMidEvent{platform::Event::Reset::Auto};    // cursor passed halfSize
    platform::Event stopPosEvent{platform::Event::Reset::Auto};    // the buffer stopped
    // The feeder's forced-end order, not owned; stored by DXSPlayThread.
    platform::Event* forcedEndEvent = nullptr;
    std::uint32_t halfSize = 0;  // one second of the stream: avgBytesPerSec
    std::uint8_t silence = 0;    // the byte that is silence in the stream's format
    // No sound device: the buffer plays at its real pace into a null output and nobody hears it.
    // The run goes on as ever; the user should be told once.
    bool silentOutput = false;
    // Declared last so that it goes first: the device thread sets the events above.
    std::unique_ptr<platform::SoundBuffer> secondary;
};

// Makes the player for `format` (log lines for each step); null on any failure. No sound device
// is no failure: the player is then silentOutput.
// `window` is the control's window; the sound layer does not need it.
std::unique_ptr<DxsPlayer> DXSInit(const platform::WaveFormat& format, std::uint64_t window);
// Stops nothing and waits for nothing: the feeder must have ended. Leaves `player` null.
void ReleaseDxsPlayer(std::unique_ptr<DxsPlayer>& player);

// What the feeding thread works with. The events are the caller's; forcedEndEvent is best a
// manual-reset one (the owner's stop order), but an automatic one works too.
struct DxsPlayThreadParams {
    bool saveWithSound = false;  // not used by the thread
    DxsPlayer* player = nullptr;
    AudioRing* ring = nullptr;
    platform::Event* oneSecondEvent = nullptr;     // set after each second refilled
    platform::Event* emptyOrErrorEvent = nullptr;  // set when the ring ran dry or playing failed
    platform::Event* forcedEndEvent = nullptr;     // set by the owner to end the thread
    platform::Event* threadEndedEvent = nullptr;   // set as the last act; may be null when the
                                                   // thread's runner gives its own end notice
};

// The feeding thread's body: fills half 0, plays looping and refills the other half at every
// half notification until the ring runs dry, the buffer stops or the owner orders the end.
// Returns 0.
int DXSPlayThread(DxsPlayThreadParams& params);
// Copies one second (half `half`) from the ring into the buffer; when the ring holds less, the
// half becomes silence and the result is false.
bool FillHalf(int half, DxsPlayThreadParams& params);

// The names the log gives the results of Play and Lock.
const char* PlayResultName(platform::SoundResult result);  // null: nothing is logged
const char* LockResultName(platform::SoundResult result);

}  // namespace picvox
