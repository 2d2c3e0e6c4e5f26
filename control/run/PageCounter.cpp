#include "control/run/PageCounter.h"

#include <algorithm>
#include <cstdio>

#include "control/buffers/PicvoxLog.h"
#include "control/run/PageInput.h"

namespace picvox::run {

std::string FormatCounterText(std::int32_t value, std::int32_t saveTime,
                              std::int32_t destinationSW) {
    std::int64_t s = destinationSW != 0 ? std::int64_t{saveTime} - value
                                        : std::min<std::int64_t>(value, saveTime);
    s = std::max<std::int64_t>(s, 0);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>((s / 60) % 60), static_cast<int>(s % 60));
    return text;
}

void ArmPageCounter(PageCounter& counter, const CounterSettings& settings, PagePort& page) {
    counter.saveTime = settings.saveTime;
    counter.counterShown = 0;
    if (!settings.mode.saves() || settings.destinationSW != 0 || page.window() == 0)
        return;
    // A download counts seconds like a picture save: no writer feeds timer 101 there.
    if (settings.mode.pictureOnly() && counter.pictureTimerArmed) {
        page.setTimer(kPictureSaveTimerId, kPictureSaveTimerMs);
        counter.timerId = static_cast<std::int32_t>(kPictureSaveTimerId);
        counter.pictureTimerArmed = false;
        WriteLog(LogTag::CPicvoxer, "画像保存のみのタイマーセット");
    }
    if (counter.timerId == 0 && settings.mode.savesSound() && counter.soundTimerArmed) {
        page.setTimer(kSoundWriteTimerId, kSoundWriteTimerMs);
        counter.timerId = static_cast<std::int32_t>(kSoundWriteTimerId);
        counter.soundTimerArmed = false;
        WriteLog(LogTag::CPicvoxer, "音声画像保存のタイマーセット");
    }
}

bool SwitchToSecondsTimer(PageCounter& counter, PagePort& page) {
    auto expected = static_cast<std::int32_t>(kSoundWriteTimerId);
    if (!counter.timerId.compare_exchange_strong(expected,
                                                 static_cast<std::int32_t>(kSaveSecondsTimerId)))
        return false;
    page.killTimer(kSoundWriteTimerId);
    page.setTimer(kSaveSecondsTimerId, kSaveSecondsTimerMs);
    return true;
}

void KillPageCounter(PageCounter& counter, PagePort& page) {
    const std::int32_t id = counter.timerId.exchange(0);
    if (id != 0)
        page.killTimer(static_cast<std::uint32_t>(id));
}

void OnPageCounterTimer(PageCounter& counter, std::uint32_t id, const std::string& counterName,
                        std::int32_t destinationSW, PagePort& page) {
    // A timer that is not the counter's own any more (a switch queued by the writer that landed
    // after Stop had killed the counter) goes at its first tick instead of counting on an ended
    // run.
    const bool counterTimer =
        id == kPictureSaveTimerId || id == kSoundWriteTimerId || id == kSaveSecondsTimerId;
    if (counterTimer && static_cast<std::int32_t>(id) != counter.timerId.load()) {
        page.killTimer(id);
        return;
    }
    auto show = [&](std::int32_t value) {
        SetPageInput(page, counterName,
                     FormatCounterText(value, counter.saveTime.load(), destinationSW),
                     InputTemplate::Counter);
    };
    switch (id) {
        case kPictureSaveTimerId:
            show(counter.tickCount);
            ++counter.tickCount;
            break;
        case kSoundWriteTimerId: {
            const std::int32_t value = counter.counterValue.load();
            if (value != counter.counterShown) {
                show(value);
                counter.counterShown = value;
            }
            break;
        }
        case kSaveSecondsTimerId: {
            const std::int32_t value = counter.counterValue.load();
            show(value);
            // One tick past save_time, so that the page has shown the full time first.
            if (std::int64_t{value} < std::int64_t{counter.saveTime.load()} + 1)
                counter.counterValue.fetch_add(1);
            else
                counter.countDone.set();
            break;
        }
        default:
            break;
    }
}

}  // namespace picvox::run
