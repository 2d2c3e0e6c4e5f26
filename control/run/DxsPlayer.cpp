#include "control/run/DxsPlayer.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "control/buffers/PicvoxLog.h"

namespace picvox {

using platform::Event;
using platform::soundFailed;
using platform::SoundResult;

namespace {

// After the forced end has stopped the buffer, the stop notification follows at once; this only
// bounds the wait for a buffer that never reports its stop.
constexpr int kStopGraceMs = 1000;
// The pause after each refill: the notifications come a second apart.
constexpr int kRefillPauseMs = 100;

template <class... Args>
void logDxs(const char* format, Args... args) {
    // A text without values is written as text, never read as a format.
    if constexpr (sizeof...(Args) == 0)
        WriteLog(LogTag::DXSManip, "%s", format);
    else
        WriteLog(LogTag::DXSManip, format, args...);
}

}  // namespace

const char* PlayResultName(SoundResult result) {
    switch (result) {
        case platform::kSoundInvalidParam:
            return "DSERR_INVALIDPARAM";
        case platform::kSoundInvalidCall:
            return "DSERR_INVALIDCALL";
        case platform::kSoundPrioLevelNeeded:
            return "DSERR_PRIOLEVELNEEDED";
        case platform::kSoundBufferLost:
            return "DSERR_BUFFERLOST";
        default:
            return nullptr;
    }
}

const char* LockResultName(SoundResult result) {
    switch (result) {
        case platform::kSoundGeneric:
            return "DSERR_GENERIC";
        case platform::kSoundInvalidParam:
            return "DSERR_INVALIDPARAM";
        case platform::kSoundNoDriver:
            return "DSERR_NODRIVER";
        case platform::kSoundAlreadyInitialized:
            return "DSERR_ALREADYINITIALIZED";
        default:
            return "UnKnown!!";
    }
}

std::unique_ptr<DxsPlayer> DXSInit(const platform::WaveFormat& format, std::uint64_t window) {
    (void)window;  // the sound server needs no window to play
    auto player = std::make_unique<DxsPlayer>();
    logDxs("DXSInit calloc成功 size=%d\n", static_cast<int>(sizeof(DxsPlayer)));

    if (soundFailed(platform::SoundDevice::create(&player->directSound)))
        return nullptr;
    logDxs("DXSInit DirectSoundCreate成功\n");
    // Sharing the device with other programs is the sound server's business: nothing to ask.
    logDxs("DXSInit SetCooperativeLevel成功\n");
    // Every buffer mixes into the server's own output, so there is no primary buffer to make.
    logDxs("DXSInit プライマリーバッファ生成成功\n");

    // Two seconds; the format is checked before any size is taken from it.
    if (!format.playable())
        return nullptr;
    if (soundFailed(player->directSound->CreateSoundBuffer(format, 2 * format.avgBytesPerSec,
                                                           &player->secondary)))
        return nullptr;
    player->halfSize = format.avgBytesPerSec;
    player->silence = format.silenceByte();
    logDxs("DXSInit セカンダリーバッファ生成成功\n");
    if (player->secondary->silent()) {
        player->silentOutput = true;
        logDxs("DXSInit サウンドデバイスなし 無音で再生 (%.200s)\n",
               player->secondary->silentReason().c_str());
    }

    const platform::PositionNotify positions[] = {
        {0, &player->halfStartEvent},
        {player->halfSize, &player->halfMidEvent},
        {platform::PositionNotify::kOffsetStop, &player->stopPosEvent},
    };
    (void)player->secondary->SetNotificationPositions(positions, 3);
    logDxs("DXSInit イベント生成成功\n");
    return player;
}

void ReleaseDxsPlayer(std::unique_ptr<DxsPlayer>& player) {
    if (!player)
        return;
    player->secondary.reset();
    player->directSound.reset();
    player.reset();
}

bool FillHalf(int half, DxsPlayThreadParams& params) {
    DxsPlayer& player = *params.player;
    void* part1 = nullptr;
    void* part2 = nullptr;
    std::uint32_t size1 = 0;
    std::uint32_t size2 = 0;
    const SoundResult locked =
        player.secondary->Lock(static_cast<std::uint32_t>(half) * player.halfSize, player.halfSize,
                               &part1, &size1, &part2, &size2);
    if (soundFailed(locked)) {
        logDxs("DXSPlayThread DXS バッファロック失敗 code=%d name=%s", locked,
               LockResultName(locked));
        return false;
    }
    // The log has always shown the low 32 bits of the addresses.
    auto low = [](const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); };
    logDxs("DXSPlayThread DXS バッファロック成功 adr1=%x siz1=%d adr2=%x siz2=%d", low(part1),
           static_cast<int>(size1), low(part2), static_cast<int>(size2));
    bool full = true;
    // Silence is the format's middle value: zero bytes would be a full-scale step in 8-bit sound.
    if (!params.ring->Get(part1, size1)) {
        logDxs("DXSPlayThread DXS リングバッファデータ1不足 adr1=%x siz1=%d", low(part1),
               static_cast<int>(size1));
        std::memset(part1, player.silence, size1);
        full = false;
    } else if (part2 != nullptr && size2 > 0 && !params.ring->Get(part2, size2)) {
        logDxs("DXSPlayThread DXS リングバッファデータ2不足 adr2=%x siz2=%d", low(part2),
               static_cast<int>(size2));
        std::memset(part2, player.silence, size2);
        full = false;
    }
    (void)player.secondary->Unlock(part1, size1, part2, size2);
    return full;
}

int DXSPlayThread(DxsPlayThreadParams& params) {
    DxsPlayer& player = *params.player;
    platform::SoundBuffer& buffer = *player.secondary;
    Event* const forcedEnd = params.forcedEndEvent;
    logDxs("DXSPlayThread　開始");
    (void)buffer.SetCurrentPosition(0);
    player.forcedEndEvent = forcedEnd;

    bool playing = false;
    if (!FillHalf(0, params)) {
        logDxs("DXSPlayThread 初期データコピー失敗");
        params.emptyOrErrorEvent->set();
    } else {
        logDxs("DXSPlayThread 初期データコピー完了");
        const SoundResult played = buffer.Play(platform::SoundBuffer::kPlayLooping);
        if (soundFailed(played)) {
            if (const char* name = PlayResultName(played))
                logDxs("DXSPlayThread : %s", name);
            params.emptyOrErrorEvent->set();
        } else {
            logDxs("DXSPlayThread DXS Playメソッド完了 %d", 1);
            playing = true;
        }
    }

    // The forced end stops the buffer; the stop notification then ends the loop. Once seen,
    // the order leaves the wait list (a manual order would stay set) and the waits get a limit.
    bool forced = false;
    auto forceEnd = [&] {
        (void)buffer.Stop();
        logDxs("DXSPlayThread DXS 強制終了イベント受信");
        forced = true;
    };
    int nextHalf = 1;
    while (playing) {
        const int which = Event::waitAny({&player.halfStartEvent, &player.halfMidEvent,
                                          &player.stopPosEvent, forced ? nullptr : forcedEnd},
                                         forced ? kStopGraceMs : -1);
        if (which == 0 || which == 1) {
            // Halves alternate whichever notification came: the cursor is in the other one.
            const bool full = FillHalf(nextHalf, params);
            nextHalf ^= 1;
            if (full) {
                logDxs("DXSPlayThread DXS １秒再生完了イベント受信");
                params.oneSecondEvent->set();
            } else {
                (void)buffer.Stop();
                // The stop notifies at once; the owner's order ends this wait too.
                Event::waitAny({&player.stopPosEvent, forced ? nullptr : forcedEnd}, -1);
                logDxs("DXSPlayThread DXS バッファ空イベント発生 or エラー発生");
                params.emptyOrErrorEvent->set();
                playing = false;
            }
            if (!forced) {
                if (forcedEnd == nullptr)
                    std::this_thread::sleep_for(std::chrono::milliseconds(kRefillPauseMs));
                else if (forcedEnd->wait(kRefillPauseMs) && playing)
                    forceEnd();
            }
        } else if (which == 2) {
            logDxs("DXSPlayThread DXS ストップイベント受信");
            playing = false;
        } else if (which == 3) {
            forceEnd();
        } else {
            playing = false;
        }
    }

    (void)buffer.SetCurrentPosition(0);
    logDxs("DXSPlayThread　終了");
    if (params.threadEndedEvent != nullptr)
        params.threadEndedEvent->set();
    return 0;
}

}  // namespace picvox
