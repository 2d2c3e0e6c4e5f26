#include "tools/host/StartCheck.h"

#include "tools/host/ControlHandle.h"

namespace picvoxhost {

namespace {

// The range the control accepts for CacheTime where it plays sound.
constexpr std::int32_t kMinCacheMs = 2000;
constexpr std::int32_t kMaxCacheMs = 30000;

}  // namespace

StartSettings startSettingsOf(ControlHandle& control) {
    StartSettings s;
    s.location = control.textProperty("Location");
    s.imageUrl = control.textProperty("ImageFileURL");
    s.waveUrl = control.textProperty("WaveFileURL");
    s.cacheTimeMs = control.intProperty("CacheTime");
    s.hddSave = control.intProperty("hdd_save");
    s.pictureIntervalMs = control.intProperty("jpeg2000_interval");
    s.destinationSW = control.intProperty("destinationSW");
    s.saveTimeSeconds = control.intProperty("save_time");
    return s;
}

std::vector<std::string> startProblems(const StartSettings& s) {
    const bool folderChoice = s.hddSave == 0 && s.destinationSW != 0;
    // The control's modes: a save-only download (hdd_save 2) never plays sound, but fetches its
    // sound file from WaveFileURL.
    const bool download = s.hddSave == 2;
    const bool picturesOnly = download || (s.hddSave != 0 && s.pictureIntervalMs != 0);
    const bool needsSound = !picturesOnly || download;
    std::vector<std::string> problems;
    if (s.location.empty())
        problems.push_back(
            "no Location set (the recorder's page, e.g. http://dvr.local/index.html)");
    if (s.imageUrl.empty())
        problems.push_back("no ImageFileURL set (the pictures)");
    if (needsSound && s.waveUrl.empty())
        problems.push_back("no WaveFileURL set (the sound)");
    if (!picturesOnly && !folderChoice &&
        (s.cacheTimeMs < kMinCacheMs || s.cacheTimeMs > kMaxCacheMs)) {
        problems.push_back("CacheTime " + std::to_string(s.cacheTimeMs) +
                           " ms is outside 2000 to 30000 ms");
    }
    if (s.hddSave != 0 && s.saveTimeSeconds <= 0)
        problems.push_back("save_time " + std::to_string(s.saveTimeSeconds) +
                           " is not a number of seconds to save");
    return problems;
}

namespace {

std::string listed(const char* lead, const std::vector<std::string>& problems) {
    if (problems.empty())
        return {};
    std::string text = lead;
    for (std::size_t i = 0; i < problems.size(); ++i) {
        if (i > 0)
            text += "; ";
        text += problems[i];
    }
    return text + ".";
}

}  // namespace

std::string startRefusal(const std::vector<std::string>& problems) {
    return listed("Not started: ", problems);
}

std::string startHint(const std::vector<std::string>& problems) {
    return listed("Cannot start yet: ", problems);
}

}  // namespace picvoxhost
