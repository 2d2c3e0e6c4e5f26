#include "control/run/SoundPlayLoop.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

#include "control/buffers/PicvoxLog.h"
#include "platform/Worker.h"

namespace picvox {

using platform::Event;
using platform::soundFailed;

namespace {

constexpr int kLowPercent = 70;
constexpr int kHighPercent = 130;
constexpr int kTrendPoints = 15;
constexpr int kSoundQueuedWaitMs = 1000;

}  // namespace

std::int32_t FillPercent(const AudioRing& ring, const platform::WaveFormat& format, int cacheMs) {
    if (format.avgBytesPerSec == 0 || cacheMs <= 0)
        return 0;
    const double seconds = static_cast<double>(ring.DataSize()) / format.avgBytesPerSec;
    const double pct = seconds / (cacheMs * 0.001) * 100.0;
    // A tiny cache time must not overflow the conversion.
    return static_cast<std::int32_t>(std::min(pct, double{std::numeric_limits<int32_t>::max()}));
}

FrequencyLimits FrequencyLimitsFor(const platform::WaveFormat& format) {
    // 7400 and 8200 Hz are the band for the recorders' 8 kHz sound. Held absolute, they would
    // drag any other rate to the band's edge on the first correction (16 kHz sound would play
    // at half speed), so other rates get the same share of their own rate.
    constexpr std::int64_t kRate = 8000;
    constexpr std::int64_t kLow = 7400;
    constexpr std::int64_t kHigh = 8200;
    const std::int64_t rate = format.samplesPerSec == 0 ? kRate : format.samplesPerSec;
    return {static_cast<int>(rate * kLow / kRate), static_cast<int>(rate * kHigh / kRate)};
}

// The settling step: once the fill is back in band with no trend, the frequency returns by the
// last correction's difference, to where it was before that correction. The last step is the
// one that turned the fill around, so the rate before it is the nearest known to the
// recorder's own clock. Simulated against a recorder 2 % slow, returning only half the step
// left the fill swinging between 69 and 126 % for minutes; the whole step held it within a
// few points.
void CorrectFrequency(const AudioRing& ring, const platform::WaveFormat& format, int cacheMs,
                      int& savedDiff, int& prevPct, DxsPlayer& player) {
    if (format.avgBytesPerSec == 0 || !player.secondary)
        return;
    const int pct = FillPercent(ring, format, cacheMs);
    std::uint32_t hz = 0;
    if (soundFailed(player.secondary->GetFrequency(&hz)))
        return;
    const int cur = static_cast<int>(std::min<std::uint32_t>(hz, 1u << 30));
    const int step = cur / 100;
    int f = cur;
    if (pct < kLowPercent)
        f -= step;
    else if (pct > kHighPercent)
        f += step;
    const int d = pct - prevPct;
    if (d >= kTrendPoints)
        f += step;
    else if (d <= -kTrendPoints)
        f -= step;

    const FrequencyLimits limits = FrequencyLimitsFor(format);
    if (f != cur) {
        f = std::clamp(f, limits.low, limits.high);
        savedDiff = cur - f;
        (void)player.secondary->SetFrequency(static_cast<std::uint32_t>(f));
        WriteLog(LogTag::MainProcess,
                 "MainProcessThread 周波数補正 バッファ残=%d%% 前回差=%d%% 元周波数=%d "
                 "補正周波数=%d\n",
                 pct, d, cur, f);
    } else if (savedDiff != 0 && pct >= kLowPercent && pct <= kHighPercent && d > -kTrendPoints &&
               d < kTrendPoints) {
        const int settled = std::clamp(cur + savedDiff, limits.low, limits.high);
        (void)player.secondary->SetFrequency(static_cast<std::uint32_t>(settled));
        WriteLog(LogTag::MainProcess,
                 "MainProcessThread 周波数補正完了 バッファ残=%d%%, 現周波数=%d\n", pct, settled);
        savedDiff = 0;
    } else {
        WriteLog(LogTag::MainProcess,
                 "MainProcessThread 周波数補正なし バッファ残=%d%%, 現周波数=%d\n", pct, cur);
    }
    prevPct = pct;
}

int SoundPlayLoop(SoundLoopInput& in) {
    if (in.soundPlaying != nullptr)
        in.soundPlaying->store(1);
    // The feeder's forced end is the worker's stop order, its end notice the worker's.
    Event oneSecondEvent(Event::Reset::Auto);
    Event emptyOrErrorEvent(Event::Reset::Auto);
    platform::Worker feeder;
    WriteLog(LogTag::MainProcess, "MainProcess イベント生成成功\n");

    int prevPct = in.ring != nullptr ? FillPercent(*in.ring, in.format, in.cacheTimeMs) : 0;
    int savedDiff = 0;
    int counter = -1;
    if (in.soundQueued != nullptr)
        Event::waitAny({in.endOrder, in.soundQueued}, kSoundQueuedWaitMs);

    DxsPlayThreadParams params;
    params.saveWithSound = in.saveWithSound;
    params.player = in.player;
    params.ring = in.ring;
    params.oneSecondEvent = &oneSecondEvent;
    params.emptyOrErrorEvent = &emptyOrErrorEvent;
    params.forcedEndEvent = &feeder.stopEvent();
    const bool started = in.player != nullptr && in.player->secondary && in.ring != nullptr &&
                         feeder.start([&params](Event&) { DXSPlayThread(params); });
    WriteLog(LogTag::MainProcess, "MainProcess DXSPlayThreadスレッド開始%s",
             started ? "成功" : "失敗");

    const std::uint32_t bytesPerSec = in.format.avgBytesPerSec;
    const int correctEvery = in.cacheTimeMs / 1000;
    while (started) {
        const int which =
            Event::waitAny({in.endOrder, &oneSecondEvent, &emptyOrErrorEvent, in.writerEnded}, -1);
        if (which == 1) {
            ++in.playedSeconds;
            // Pictures trail the clock by the sound still queued plus two seconds: what is
            // heard now was recorded that long ago.
            const std::int64_t buffered =
                bytesPerSec == 0 ? 0 : (in.ring->DataSize() + bytesPerSec / 2) / bytesPerSec;
            const std::int64_t now =
                in.now ? in.now() : static_cast<std::int64_t>(std::time(nullptr));
            if (in.frameQueue != nullptr && in.frameQueue->ShowAt(now - buffered - 2) &&
                in.setAnimationState)
                in.setAnimationState(0);
            if (++counter >= correctEvery) {
                CorrectFrequency(*in.ring, in.format, in.cacheTimeMs, savedDiff, prevPct,
                                 *in.player);
                counter = 0;
            }
            WriteLog(LogTag::MainProcess, "MainProcess DXSPlayThread１秒再生完了イベント受信");
        } else if (which == 2) {
            if (in.saves && in.downloadResult != nullptr) {
                SaveResult none = SaveResult::None;
                in.downloadResult->compare_exchange_strong(none, kSoundRanDryResult);
            }
            break;
        } else {
            break;  // the end order, the writer's end, or a failed wait
        }
    }
    // Sets the forced end, waits for the feeder's last act and joins it.
    feeder.stop();
    if (in.soundPlaying != nullptr)
        in.soundPlaying->store(0);
    return 0;
}

}  // namespace picvox
