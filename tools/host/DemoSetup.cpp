#include "tools/host/DemoSetup.h"

#include <QDir>
#include <QStandardPaths>

#include "tools/dvrsim/DvrSim.h"

namespace picvoxhost {

using korvex::sim::DvrSim;

std::unique_ptr<DvrSim> startDemoRecorder(std::string* error) {
    // A recorder that has been on for a while, as a page finds it: its newest sound is there
    // at once.
    korvex::sim::DvrSimOptions options;
    options.prerollMs = 10000;
    auto sim = std::make_unique<DvrSim>(options);
    if (!sim->start(error))
        return nullptr;
    return sim;
}

std::string demoDestination() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (base.isEmpty() || !QDir(base).exists())
        base = QDir::homePath();
    const QString folder = base + QStringLiteral("/Picvox");
    QDir().mkpath(folder);
    return folder.toStdString();
}

std::vector<PropertySetting> demoProperties(DemoMode mode, const std::string& baseUrl,
                                            const std::string& destination) {
    // Relative URLs: the control resolves them against the folder part of Location.
    std::vector<PropertySetting> props = {
        {"Location", baseUrl + "index.html"},
        {"ImageFileURL", std::string(DvrSim::kLiveImagePath + 1)},
        {"WaveFileURL", std::string(DvrSim::kLiveSoundPath + 1)},
        {"InitWaveFileURL", std::string(DvrSim::kInitSoundPath + 1)},
        {"CacheTime", "5000"},
        // One request a second: a picture comes with each request, so the saved run holds a
        // picture for every second of its sound.
        {"wave_request_interval", "1000"},
        {"destination", destination},
        {"save_time", std::to_string(kDemoSaveSeconds)},
        {"TimestampOrder", "2"},
    };
    auto add = [&](const char* name, std::string value) { props.push_back({name, value}); };
    switch (mode) {
        case DemoMode::None:
        case DemoMode::Live:
            add("hdd_save", "0");
            add("jpeg2000_interval", "0");
            break;
        case DemoMode::Save:
            add("hdd_save", "1");
            add("jpeg2000_interval", "0");
            break;
        case DemoMode::Pictures:
            add("hdd_save", "1");
            add("jpeg2000_interval", "500");
            break;
        case DemoMode::Download:
            // The recorded stretch, frame by frame, then its sound file and INF file.
            add("hdd_save", "2");
            add("jpeg2000_interval", "200");
            add("ImageFileURL", DvrSim::kRecordImagePath + 1);
            add("WaveFileURL", DvrSim::kRecordSoundPath + 1);
            add("DL_InfFileURL", DvrSim::kRecordInfoPath + 1);
            break;
    }
    return props;
}

}  // namespace picvoxhost
