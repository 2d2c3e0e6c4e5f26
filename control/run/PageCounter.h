#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "control/download/RunMode.h"
#include "control/run/PagePort.h"
#include "platform/Event.h"

namespace picvox::run {

// The page counter's timers: seconds of a picture-only save (every 1000 ms), seconds of cached
// sound being written (every 100 ms), then seconds counted on the page (every 1000 ms).
inline constexpr std::uint32_t kPictureSaveTimerId = 100;
inline constexpr std::uint32_t kSoundWriteTimerId = 101;
inline constexpr std::uint32_t kSaveSecondsTimerId = 102;
inline constexpr std::uint32_t kPictureSaveTimerMs = 1000;
inline constexpr std::uint32_t kSoundWriteTimerMs = 100;
inline constexpr std::uint32_t kSaveSecondsTimerMs = 1000;

// The counter's state, owned by the control object. counterValue and timerId are shared with
// the WAV writer and the main process thread; the rest belongs to the page thread.
struct PageCounter {
    std::atomic<std::int32_t> counterValue{0};  // seconds saved, then seconds counted by 102
    std::atomic<std::int32_t> timerId{0};       // 0, 100, 101 or 102: the timer now set
    // Set by timer 102 once the counter has passed save_time (automatic reset).
    platform::Event countDone{platform::Event::Reset::Auto};

    std::atomic<std::int32_t> saveTime{0};  // save_time as Start copied it
    std::int32_t counterShown = 0;
    std::int32_t tickCount = 1;  // the picture-only counter; never reset
    // Each of timers 100 and 101 is started at most once in the life of a control.
    bool soundTimerArmed = true;
    bool pictureTimerArmed = true;
};

// The properties the counter's arming depends on, as Start copies them.
struct CounterSettings {
    RunMode mode;
    std::int32_t destinationSW = 0;
    std::int32_t saveTime = 0;
};

// v seconds as "hh:mm:ss": the time passed (at most saveTime), or with destinationSW the time
// left (at least 0).
std::string FormatCounterText(std::int32_t value, std::int32_t saveTime,
                              std::int32_t destinationSW);

// The last step of Start: takes save_time, resets what the page was shown and, in a save mode
// with a window, sets timer 100 (saving pictures only: a picture save or a download) or 101
// (with sound) unless it was set before.
void ArmPageCounter(PageCounter& counter, const CounterSettings& settings, PagePort& page);

// The WAV writer's switch once the cached sound is written: timer 101 gives way to 102. Only
// while 101 is the counter's timer; false (nothing set) once Stop or the report has killed it.
bool SwitchToSecondsTimer(PageCounter& counter, PagePort& page);

// Kills the timer now set (Stop, the end-of-run report).
void KillPageCounter(PageCounter& counter, PagePort& page);

// One timer message on the page thread. `counterName` is the counter property and
// `destinationSW` that property as it is now.
void OnPageCounterTimer(PageCounter& counter, std::uint32_t id, const std::string& counterName,
                        std::int32_t destinationSW, PagePort& page);

}  // namespace picvox::run
