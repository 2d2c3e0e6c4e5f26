#pragma once

#include <cstdint>

namespace picvox {

// The page's hdd_save values: 0 plays only, 1 saves what plays (or pictures only, with a picture
// interval), 2 downloads a recorded stretch frame by frame, then its sound and INF files.
enum class HddSave : std::int32_t { None = 0, Run = 1, Download = 2 };

// What a run does, decided once from hdd_save, jpeg2000_interval and destinationSW when Start
// is called; every thread of the run asks this one value.
enum class RunKind {
    Live,           // caches, plays pictures and sound; on running dry, caches again
    FolderChoice,   // asks the user for the save destination, then plays as Live
    SaveWithSound,  // plays as Live and saves pictures and sound: one pass, then the result
    PictureSave,    // fetches and saves a picture per interval for save_time, no sound
    Download,       // fetches a recorded stretch frame by frame, then its sound and INF files
};

struct RunMode {
    RunKind kind = RunKind::Live;
    // Start empties the cache folders (Live with no picture interval); every other mode keeps
    // what an earlier run cached.
    bool emptiesCache = true;

    static constexpr RunMode of(std::int32_t hddSave, std::int32_t pictureInterval,
                                std::int32_t destinationSW) {
        if (hddSave == static_cast<std::int32_t>(HddSave::Download))
            return {RunKind::Download, false};
        if (hddSave != 0)
            return {pictureInterval != 0 ? RunKind::PictureSave : RunKind::SaveWithSound, false};
        if (destinationSW != 0)
            return {RunKind::FolderChoice, false};
        return {RunKind::Live, pictureInterval == 0};
    }

    // The run writes a recording and ends with a result message.
    constexpr bool saves() const {
        return kind == RunKind::SaveWithSound || kind == RunKind::PictureSave ||
               kind == RunKind::Download;
    }
    // The play loop runs: sound is cached, played and paces the pictures.
    constexpr bool playsSound() const { return !pictureOnly(); }
    // The save-only loop runs: pictures are fetched and saved one after the other, nothing plays.
    constexpr bool pictureOnly() const {
        return kind == RunKind::PictureSave || kind == RunKind::Download;
    }
    // The WAV writer runs and the saved recording starts from the cache.
    constexpr bool savesSound() const { return kind == RunKind::SaveWithSound; }
    // Playing waits for CacheTime of sound, so CacheTime must lie in its range: in every mode
    // that plays (a folder choice plays as Live; with a cache time out of range it would only
    // restart its passes).
    constexpr bool checksCacheTime() const { return playsSound(); }
    // Passes repeat until the end is ordered (a save mode has exactly one).
    constexpr bool repeatsPasses() const { return !saves(); }
    constexpr bool downloadsRecording() const { return kind == RunKind::Download; }

    constexpr bool operator==(const RunMode&) const = default;
};

const char* RunKindName(RunKind kind);

}  // namespace picvox
