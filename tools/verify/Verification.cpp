#include "tools/verify/Verification.h"

#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/TimeZone.h"
#include "recording/RecordingProbe.h"
#include "recording/manifest/Manifest.h"
#include "tools/verify/ManifestCheck.h"
#include "tools/verify/RecordingIndex.h"

namespace korvex::verify {

namespace {

namespace fs = std::filesystem;

const char* kindName(const RecordingKind& kind) {
    if (kind.kindJpeg)
        return "jpeg";
    if (kind.kindJp2Mp3)
        return "jp2mp3";
    return "jp2wav";
}

// The folder opened as the viewer opens it; false with the message the user sees.
bool openRecording(const std::string& folderArg, VerifyReport& report, RecordingIndex& index,
                   std::string& error) {
    report = VerifyReport{};
    platform::fixProcessTimeZone();

    std::error_code ec;
    std::string folder = fs::absolute(fs::path(folderArg), ec).lexically_normal().string();
    if (ec)
        folder = folderArg;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    report.folder = folder;

    if (!fs::exists(folder, ec)) {
        error = terminalText(folderArg) + ": no such folder";
        return false;
    }
    if (!fs::is_directory(folder, ec)) {
        error = terminalText(folderArg) + ": not a folder";
        return false;
    }
    fs::directory_iterator probeRead(folder, ec);
    if (ec) {
        error = terminalText(folderArg) + ": cannot read the folder (" + ec.message() + ")";
        return false;
    }

    RecordingProbe probe;
    if (probe.probe(folder) == 0) {
        error = terminalText(folderArg) +
                ": not a recording (no frame files *.jpg or *.jp2 and no sound file)";
        return false;
    }
    if (!probe.kind().any()) {
        error = terminalText(folderArg) + ": not a recording (a sound file but no frame files)";
        return false;
    }
    report.kind = kindName(probe.kind());
    report.soundPath = probe.soundPath();

    // As the viewer: a recording with sound keeps its pictures in subfolders.
    report.subfoldersOnly = probe.sound() != SoundFormat::None;
    const bool opened = index.open(folder, probe.kind(), report.subfoldersOnly, true);
    for (const UnreadablePart& part : index.unreadable())
        report.unreadable.push_back({part.path, platform::fileErrorText(part.error)});
    if (!opened || index.count() == 0) {
        if (!report.unreadable.empty()) {
            error = terminalText(folderArg) + ": no frames could be read";
            for (const UnreadableEntry& part : report.unreadable)
                error += "; " + textUnreadable(part);
            return false;
        }
        error = terminalText(folderArg) + ": no frames (no " + frameExtensionFor(probe.kind()) +
                " files";
        error += report.subfoldersOnly ? " in subfolders; with a sound file the pictures must be "
                                         "in subfolders such as IMG00001)"
                                       : " found)";
        return false;
    }
    report.infoLoaded = index.info().loaded();
    if (report.infoLoaded) {
        report.channelCount = index.info().channelCount();
        for (const InfoRecord& r : index.info().records())
            ++report.framesPerChannel[r.channel];
    } else {
        report.framesPerChannel[-1] = static_cast<long long>(index.count());
    }
    report.timeTablePresent = index.timeTable().present();
    return true;
}

// Counts each frame as the summary has always counted, and keeps the manifest's verdicts.
class Tally final : public FrameConsumer {
public:
    Tally(VerifyReport& report, ManifestCheck& manifest, VerifyObserver& observer)
        : report_(report), manifest_(manifest), observer_(observer) {}

    void frame(FrameOutcome& o) override {
        const VerifiedFrame& f = o.frame;
        VerifySummary& sum = report_.summary;
        if (f.flags < 0 && o.readError != 0)
            report_.unreadable.push_back({f.path, platform::fileErrorText(o.readError)});
        ++sum.frames;
        if (f.flags < 0) {
            ++sum.notChecked;
        } else {
            if ((f.flags & 3) == 0)
                ++sum.intact;
            if (f.flags & 1)
                ++sum.pictureAltered;
            if (f.flags & 2)
                ++sum.timeAltered;
            if (f.flags & 4)
                ++sum.noTime;
        }
        if (f.placeholder)
            ++sum.placeholder;
        if (manifest_.present())
            manifest_.frameChecked(static_cast<std::size_t>(f.index), o.manifest);
        observer_.frame(o);
    }

private:
    VerifyReport& report_;
    ManifestCheck& manifest_;
    VerifyObserver& observer_;
};

// Joins a thread on every way out.
struct Joiner {
    std::thread thread;
    ~Joiner() {
        if (thread.joinable())
            thread.join();
    }
};

std::string relativeToFolder(const std::string& folder, const std::string& path) {
    const std::string prefix = platform::joinPath(folder, "");
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

}  // namespace

bool runVerification(const std::string& folderArg, const VerifyOptions& options,
                     VerifyObserver& observer, VerifyReport& report, std::string& error,
                     bool* cancelled) {
    if (cancelled)
        *cancelled = false;
    RecordingIndex index;
    if (!openRecording(folderArg, report, index, error))
        return false;

    ManifestCheck manifest;
    if (options.checkManifest) {
        int manifestError = 0;
        if (!manifest.load(report.folder, index, manifestError)) {
            report.unreadable.push_back({platform::joinPath(report.folder, index.manifestName()),
                                         platform::fileErrorText(manifestError)});
        }
    }
    observer.started(report, index.count());

    EngineOptions engine;
    engine.threads = options.threads;
    engine.line = options.line;
    engine.hash = manifest.present();
    engine.expected = manifest.present() ? &manifest.frameDigests() : nullptr;
    engine.thumbnails = options.thumbnails;
    engine.cancel = options.cancel;

    Tally tally(report, manifest, observer);
    bool done = false;
    {
        // The files beside the frames are checked on a thread of their own meanwhile: a long
        // sound file then costs no time of the frame pass.
        Joiner side;
        if (manifest.present())
            side.thread = std::thread(
                [&] { manifest.checkOtherFiles(report.folder, index, options.cancel); });
        done = runFrames(index, engine, tally);
    }
    if (!done) {
        if (cancelled)
            *cancelled = true;
        error = "cancelled";
        return false;
    }
    report.summary.unreadable = static_cast<int>(report.unreadable.size());
    report.manifest = manifest.finish(
        index, report.soundPath.empty() ? std::string()
                                        : relativeToFolder(report.folder, report.soundPath));
    observer.finished(report);
    return true;
}

bool verifyRecording(const std::string& folder, VerifyReport& report, std::string& error) {
    struct Collect final : VerifyObserver {
        std::vector<VerifiedFrame> frames;
        void frame(FrameOutcome& o) override { frames.push_back(std::move(o.frame)); }
    } collect;
    if (!runVerification(folder, VerifyOptions{}, collect, report, error))
        return false;
    report.frames = std::move(collect.frames);
    return true;
}

bool writeManifest(const std::string& folderArg, int threads, std::string& error,
                   std::size_t* files,
                   const std::function<void(std::size_t, std::size_t)>& progress) {
    VerifyReport report;
    RecordingIndex index;
    if (!openRecording(folderArg, report, index, error))
        return false;
    if (!report.unreadable.empty()) {
        error = terminalText(folderArg) + ": parts of the recording cannot be read";
        for (const UnreadableEntry& part : report.unreadable)
            error += "; " + textUnreadable(part);
        return false;
    }
    if (!index.manifestName().empty()) {
        error = terminalText(folderArg) + ": the recording already has a manifest (" +
                terminalText(index.manifestName()) + "); it is checked, never replaced";
        return false;
    }
    const std::string& folder = report.folder;

    // Lines gather in a buffer written out in large pieces.
    struct Lines final : FrameConsumer {
        int fd = -1;
        const RecordingIndex* index = nullptr;
        std::string buffer;
        int error = 0;
        std::string failed;  // the file that could not be read
        std::size_t count = 0, total = 0;
        const std::function<void(std::size_t, std::size_t)>* progress = nullptr;
        void add(const Sha256Digest& digest, const std::string& relative) {
            buffer += manifest::formatLine(digest, relative);
            ++count;
            if (buffer.size() >= (1u << 20))
                flush();
        }
        void flush() {
            if (error == 0 && !buffer.empty())
                error = platform::writeAll(fd, buffer.data(), buffer.size());
            buffer.clear();
        }
        void frame(FrameOutcome& o) override {
            if (o.readError != 0) {
                if (error == 0) {
                    error = o.readError;
                    failed = o.frame.path;
                }
                return;
            }
            add(o.digest, index->relativeOf(static_cast<std::size_t>(o.frame.index)));
            if (progress && *progress)
                (*progress)(static_cast<std::size_t>(o.frame.index) + 1, total);
        }
    } lines;
    lines.index = &index;
    lines.total = index.count();
    lines.progress = &progress;

    EngineOptions engine;
    engine.threads = threads;
    engine.work = EngineOptions::Work::HashOnly;
    engine.hash = true;
    const std::string target = platform::joinPath(folder, manifest::kFileName);
    const int written = platform::writeFileWhole(
        target,
        [&](int fd) {
            lines.fd = fd;
            runFrames(index, engine, lines);
            Sha256 hasher;
            std::vector<std::uint8_t> buffer;
            for (const std::string& other : index.otherFiles()) {
                if (lines.error != 0)
                    break;
                Sha256Digest digest{};
                if (const int e =
                        sha256File(platform::joinPath(folder, other), digest, buffer, hasher)) {
                    lines.error = e;
                    lines.failed = platform::joinPath(folder, other);
                    break;
                }
                lines.add(digest, other);
            }
            lines.flush();
            return lines.error;
        },
        [](int fd) { return ::fdatasync(fd) == 0 ? 0 : errno; });
    if (written != 0) {
        error = lines.failed.empty()
                    ? terminalText(target) + ": cannot be written (" +
                          platform::fileErrorText(written) + ")"
                    : "cannot read " + terminalText(lines.failed) + " (" +
                          platform::fileErrorText(written) + "); no manifest was written";
        return false;
    }
    (void)platform::syncDirectory(folder);
    if (files)
        *files = lines.count;
    return true;
}

}  // namespace korvex::verify
