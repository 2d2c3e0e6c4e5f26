#include <alsa/asoundlib.h>

#include <limits>
#include <string_view>

#include "platform/audio/AlsaMessages.h"
#include "platform/audio/MixerDevice.h"

namespace platform {

namespace {

class AlsaMixer final : public MixerDevice {
public:
    ~AlsaMixer() override { close(); }

    bool open() override {
        if (handle_ != nullptr)
            return true;
        // The panel asks twice a second; without a sound card each failure would print lines.
        routeAlsaMessages();
        snd_mixer_t* h = nullptr;
        if (snd_mixer_open(&h, 0) < 0 || h == nullptr)
            return false;
        if (snd_mixer_attach(h, "default") < 0 ||
            snd_mixer_selem_register(h, nullptr, nullptr) < 0 || snd_mixer_load(h) < 0) {
            snd_mixer_close(h);
            return false;
        }
        handle_ = h;
        return true;
    }

    void close() override {
        if (handle_ != nullptr)
            snd_mixer_close(handle_);
        handle_ = nullptr;
        offset_ = 0;
    }

    bool findSpeakerVolume(VolumeControlInfo& out) override {
        if (handle_ == nullptr)
            return false;
        snd_mixer_handle_events(handle_);
        std::uint32_t index = 0;
        std::uint32_t chosen = 0;
        snd_mixer_elem_t* found = nullptr;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(handle_); e != nullptr;
             e = snd_mixer_elem_next(e), ++index) {
            if (!snd_mixer_selem_is_active(e) || !snd_mixer_selem_has_playback_volume(e))
                continue;
            const char* name = snd_mixer_selem_get_name(e);
            const bool master = name != nullptr && std::string_view(name) == "Master";
            if (found == nullptr || master) {
                found = e;
                chosen = index;
            }
            if (master)
                break;
        }
        if (found == nullptr)
            return false;
        long lo = 0;
        long hi = 0;
        if (snd_mixer_selem_get_playback_volume_range(found, &lo, &hi) < 0 || hi <= lo) {
            return false;
        }
        // Callers work in unsigned values; a range that starts below zero is shifted up.
        const long long offset = lo < 0 ? -static_cast<long long>(lo) : 0;
        const long long top = static_cast<long long>(hi) + offset;
        if (top > std::numeric_limits<std::uint32_t>::max())
            return false;
        offset_ = offset;
        out.id = chosen;
        out.minimum = static_cast<std::uint32_t>(lo + offset);
        out.maximum = static_cast<std::uint32_t>(top);
        return true;
    }

    bool getValue(std::uint32_t controlId, std::uint32_t& value) override {
        snd_mixer_elem_t* e = element(controlId);
        if (e == nullptr)
            return false;
        long v = 0;
        if (snd_mixer_selem_get_playback_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &v) < 0)
            return false;
        const long long shifted = static_cast<long long>(v) + offset_;
        if (shifted < 0 || shifted > std::numeric_limits<std::uint32_t>::max())
            return false;
        value = static_cast<std::uint32_t>(shifted);
        return true;
    }

    bool setValue(std::uint32_t controlId, std::uint32_t value) override {
        snd_mixer_elem_t* e = element(controlId);
        if (e == nullptr)
            return false;
        const long long raw = static_cast<long long>(value) - offset_;
        return snd_mixer_selem_set_playback_volume_all(e, static_cast<long>(raw)) >= 0;
    }

private:
    // The element at `index` in the mixer's list, after taking in changes made elsewhere.
    snd_mixer_elem_t* element(std::uint32_t index) {
        if (handle_ == nullptr)
            return nullptr;
        snd_mixer_handle_events(handle_);
        std::uint32_t i = 0;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(handle_); e != nullptr;
             e = snd_mixer_elem_next(e), ++i) {
            if (i == index)
                return snd_mixer_selem_has_playback_volume(e) ? e : nullptr;
        }
        return nullptr;
    }

    snd_mixer_t* handle_ = nullptr;
    long long offset_ = 0;
};

}  // namespace

std::unique_ptr<MixerDevice> makeAlsaMixer() {
    return std::make_unique<AlsaMixer>();
}

}  // namespace platform
