#include "recording/RecordingProbe.h"

#include <string_view>

#include "platform/FileSystem.h"
#include "recording/RecordingNames.h"

namespace korvex {

namespace {

bool hasFileWithExtension(const std::string& folder, std::string_view extension) {
    if (folder.empty())
        return false;
    bool found = false;
    platform::forEachFileWithExtension(folder, extension, [&](const std::string&) {
        found = true;
        return false;  // one is enough
    });
    return found;
}

}  // namespace

int RecordingProbe::probe(const std::string& folder) {
    kind_ = {};
    sound_ = SoundFormat::None;
    pictures_ = PictureFormat::None;
    soundPath_.clear();

    static constexpr struct {
        const char* relativePath;
        SoundFormat format;
    } kSoundFiles[] = {
        {"sound.wav", SoundFormat::Wav},
        {"SOUND/sound.wav", SoundFormat::Wav},
        {"sound.mp3", SoundFormat::Mp3},
        {"SOUND/sound.mp3", SoundFormat::Mp3},
    };
    for (const auto& s : kSoundFiles) {
        std::string found = platform::findFileNoCase(folder, s.relativePath);
        if (!found.empty()) {
            sound_ = s.format;
            soundPath_ = std::move(found);
            break;
        }
    }

    const std::string firstSubfolder = platform::findEntryNoCase(folder, kFirstFrameFolder, true);
    if (hasFileWithExtension(firstSubfolder, "jpg")) {
        pictures_ = PictureFormat::Jpeg;
    } else if (hasFileWithExtension(firstSubfolder, "jp2")) {
        pictures_ = PictureFormat::Jpeg2000;
    } else if (hasFileWithExtension(folder, "jpg")) {
        pictures_ = PictureFormat::Jpeg;
    } else if (hasFileWithExtension(folder, "jp2")) {
        pictures_ = PictureFormat::Jpeg2000;
    }

    if (sound_ == SoundFormat::None && pictures_ == PictureFormat::None)
        return 0;
    switch (sound_) {
        case SoundFormat::Mp3:
            // The MP3 player belongs to the JPEG 2000 recorders, so MP3 decides the kind.
            kind_.kindJp2Mp3 = true;
            break;
        case SoundFormat::None:
            if (pictures_ == PictureFormat::Jpeg) {
                kind_.kindJpeg = true;
            } else {
                kind_.kindJp2Mp3 = true;
            }
            break;
        case SoundFormat::Wav:
            if (pictures_ == PictureFormat::Jpeg) {
                kind_.kindJpeg = true;
            } else if (pictures_ == PictureFormat::Jpeg2000) {
                kind_.kindJp2Wav = true;
            }
            break;
    }
    return 1;
}

const char* frameExtensionFor(const RecordingKind& kind) {
    if (kind.kindJp2Mp3 || kind.kindJp2Wav)
        return "jp2";
    if (kind.kindJpeg)
        return "jpg";
    return nullptr;
}

}  // namespace korvex
