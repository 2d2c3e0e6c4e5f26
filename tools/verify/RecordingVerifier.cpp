#include "tools/verify/RecordingVerifier.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "platform/FileSystem.h"
#include "platform/TimeZone.h"
#include "recording/AuthenticityCheck.h"
#include "recording/FolderImageSource.h"
#include "recording/RecordingProbe.h"

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

// The capture time as the viewer shows it: the calendar time in the recorders' zone, which the
// caller has fixed for the process.
std::string formatTime(std::int64_t time) {
    const auto t = static_cast<std::time_t>(time);
    std::tm tm{};
    if (!::localtime_r(&t, &tm))
        return {};
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return out;
}

bool checked(std::int32_t flags) {
    return flags >= 0;
}

// What kept the check from running on a frame the source could read. Read again only for such
// frames, which are rare; the bound is the source's own.
std::string refusalOf(const std::string& path, CheckVariant variant) {
    std::vector<unsigned char> bytes;
    if (!platform::readWholeFile(path, bytes, kMaxCheckedFileBytes))
        return {};
    return checkRefusalText(checkRefusal({bytes.data(), bytes.size()}, variant));
}

// Length of the valid UTF-8 sequence at s[i], 0 when the bytes there are not one.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80)
        return 1;
    std::size_t n = 0;
    std::uint32_t cp = 0, min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

void appendHexByte(std::string& out, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

// C0 controls, DEL and the C1 controls U+0080..U+009F (0x9B alone is a CSI to many terminals).
bool isControl(std::uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

// The code point of the valid sequence of `len` bytes at s[i].
std::uint32_t codePointAt(std::string_view s, std::size_t i, std::size_t len) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (len == 1)
        return b0;
    std::uint32_t cp = b0 & (0xFF >> (len + 1));
    for (std::size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

}  // namespace

bool verifyRecording(const std::string& folderArg, VerifyReport& report, std::string& error,
                     const std::function<void(int framesDone, int framesTotal)>& progress) {
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
    FolderImageSource source(probe.kind());
    const int opened = source.openFolder(folder, report.subfoldersOnly ? 1 : 0);
    for (const UnreadablePart& part : source.unreadableParts())
        report.unreadable.push_back({part.path, platform::fileErrorText(part.error)});
    if (opened != 1 || source.count() == 0) {
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
    report.infoLoaded = source.infoTable().loaded();
    if (report.infoLoaded) {
        // Every channel, not only the default one the viewer starts with.
        std::array<int, 16> slots;
        slots.fill(-9);
        source.selectChannels(-1, 1, slots.data());
        report.channelCount = source.infoTable().channelCount();
    }
    report.timeTablePresent = source.timeTable().present();
    if (source.count() == 0) {
        error = terminalText(folderArg) + ": no frames";
        return false;
    }

    const CheckVariant variant =
        probe.kind().kindJpeg ? CheckVariant::Jpeg : CheckVariant::Jpeg2000;
    const int n = source.count();
    report.frames.reserve(static_cast<std::size_t>(n));
    VerifySummary& sum = report.summary;
    for (int i = 0; i < n; ++i) {
        source.setCurrent(i);
        std::size_t size = 0;
        VerifiedFrame f;
        f.index = i;
        f.decoded = static_cast<bool>(source.loadCurrent(&size, 0));
        f.path = source.pathAt(i);
        f.channel = source.currentChannel();
        f.flags = source.flagsAt(i);
        f.time = source.timeAt(i);
        f.offsetMs = source.offsetAt(i);
        f.title = source.cameraTitle(i);
        if (!checked(f.flags) && source.lastLoadError() != 0) {
            report.unreadable.push_back({f.path, platform::fileErrorText(source.lastLoadError())});
        } else if (!checked(f.flags)) {
            f.notCheckedReason = refusalOf(f.path, variant);
        }
        const bool noValidTime = checked(f.flags) && (f.flags & 4) != 0;
        if (f.time != 0 && !noValidTime)
            f.timeText = formatTime(f.time);

        ++sum.frames;
        if (!checked(f.flags)) {
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
        report.frames.push_back(std::move(f));
        if (progress)
            progress(i + 1, n);
    }
    sum.unreadable = static_cast<int>(report.unreadable.size());
    return true;
}

int exitStatusOf(const VerifySummary& summary) {
    if (summary.unreadable > 0)
        return 2;
    if (summary.pictureAltered > 0 || summary.timeAltered > 0)
        return 1;
    if (summary.notChecked > 0)
        return 3;
    return 0;
}

std::string terminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8Length(text, i);
        if (len == 0 || isControl(codePointAt(text, i, len))) {
            // Not UTF-8, or a control in any form: each byte of it, escaped.
            const std::size_t n = len == 0 ? 1 : len;
            for (std::size_t k = 0; k < n; ++k)
                appendHexByte(out, static_cast<unsigned char>(text[i + k]));
            i += n;
        } else if (text[i] == '\\') {
            out += "\\\\";
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8Length(text, i);
        if (len == 0) {
            // The value reads \xNN: a byte that is no text, kept apart from every other name.
            out += '\\';
            appendHexByte(out, static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        const std::uint32_t cp = codePointAt(text, i, len);
        if (cp == '"') {
            out += "\\\"";
        } else if (cp == '\\') {
            // Doubled in the value, so that a name holding the text \x9b and one holding the byte
            // 0x9b never read the same.
            out += "\\\\\\\\";
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp == '\b') {
            out += "\\b";
        } else if (cp == '\f') {
            out += "\\f";
        } else if (isControl(cp)) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(cp));
            out += esc;
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    out += '"';
    return out;
}

std::string toJson(const VerifyReport& report) {
    std::string out;
    out.reserve(200 + report.frames.size() * (report.folder.size() + 140));
    out += "{\"folder\": " + jsonString(report.folder) + ", \"kind\": " + jsonString(report.kind) +
           ", \"frames\": [";
    for (std::size_t k = 0; k < report.frames.size(); ++k) {
        const VerifiedFrame& f = report.frames[k];
        out += k == 0 ? "\n" : ",\n";
        out += "  {\"index\": " + std::to_string(f.index) + ", \"path\": " + jsonString(f.path) +
               ", \"channel\": " + std::to_string(f.channel) +
               ", \"flags\": " + std::to_string(f.flags) + ", \"time\": " +
               (f.timeText.empty() ? std::string("null") : jsonString(f.timeText)) +
               ", \"offsetMs\": " + std::to_string(f.offsetMs) + "}";
    }
    out += report.frames.empty() ? "]" : "\n]";
    out += ", \"unreadable\": [";
    for (std::size_t k = 0; k < report.unreadable.size(); ++k) {
        const UnreadableEntry& u = report.unreadable[k];
        out += k == 0 ? "\n" : ",\n";
        out += "  {\"path\": " + jsonString(u.path) + ", \"reason\": " + jsonString(u.reason) + "}";
    }
    out += report.unreadable.empty() ? "]" : "\n]";
    const VerifySummary& s = report.summary;
    out += ", \"summary\": {\"frames\": " + std::to_string(s.frames) +
           ", \"intact\": " + std::to_string(s.intact) +
           ", \"pictureAltered\": " + std::to_string(s.pictureAltered) +
           ", \"timeAltered\": " + std::to_string(s.timeAltered) +
           ", \"noTime\": " + std::to_string(s.noTime) +
           ", \"notChecked\": " + std::to_string(s.notChecked) +
           ", \"unreadable\": " + std::to_string(s.unreadable) + "}}\n";
    return out;
}

std::string textHeader(const VerifyReport& report) {
    std::string out = "Recording " + terminalText(report.folder) + "\n  kind " + report.kind;
    out += report.soundPath.empty() ? ", no sound" : ", sound " + terminalText(report.soundPath);
    out += report.subfoldersOnly ? ", pictures in subfolders" : "";
    out += "\n  index: ";
    out += report.infoLoaded ? "INFO with " + std::to_string(report.channelCount) + " channel" +
                                   (report.channelCount == 1 ? "" : "s")
                             : std::string("no INFO (frame files only)");
    out += report.timeTablePresent ? ", time.txt" : ", no time.txt";
    out += "\n";
    return out;
}

std::string textLine(const VerifiedFrame& f) {
    std::string status;
    if (f.flags < 0) {
        // The check reads the file's bytes whether the picture decodes or not: say what it
        // missed, and the decode apart from it.
        status = "NOT CHECKED";
        if (!f.notCheckedReason.empty())
            status += " (" + f.notCheckedReason + ")";
        if (!f.decoded)
            status += ", picture does not decode";
    } else {
        if (f.flags & 1)
            status += "IMAGE ALTERED";
        if (f.flags & 2)
            status += status.empty() ? "TIME ALTERED" : ", TIME ALTERED";
        if (status.empty())
            status = "ok";
        if (f.flags & 4)
            status += ", no valid time";
        if (f.flags == 7)
            status += " (no complete trailer)";
        if (!f.decoded)
            status += ", picture does not decode";
    }
    char head[96];
    std::snprintf(head, sizeof head, "%7d  ch %2d  %-19s  %9u ms  flags %2d  ", f.index, f.channel,
                  f.timeText.empty() ? "-" : f.timeText.c_str(), f.offsetMs, f.flags);
    std::string out = head;
    out += status;
    out += "  " + terminalText(f.path);
    if (!f.title.empty())
        out += "  [" + terminalText(f.title) + "]";
    out += "\n";
    return out;
}

std::string textSummary(const VerifySummary& s) {
    char out[256];
    std::snprintf(out, sizeof out,
                  "Summary: %d frames: %d intact, %d picture altered, %d time altered, %d without "
                  "valid time, %d not checked\n",
                  s.frames, s.intact, s.pictureAltered, s.timeAltered, s.noTime, s.notChecked);
    std::string text = out;
    // Only when it happened: a reader of a complete report sees the line it always saw.
    if (s.unreadable > 0) {
        text.pop_back();
        text += "; " + std::to_string(s.unreadable) + " part" + (s.unreadable == 1 ? "" : "s") +
                " of the recording unreadable, the report is incomplete\n";
    }
    return text;
}

std::string textUnreadable(const UnreadableEntry& entry) {
    return "cannot read " + terminalText(entry.path) + " (" + terminalText(entry.reason) + ")";
}

}  // namespace korvex::verify
