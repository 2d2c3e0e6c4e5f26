#include "tools/verify/ReportModel.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>

#include "recording/AuthenticityCheck.h"
#include "recording/manifest/Sha256.h"

namespace korvex::verify {

namespace {

constexpr std::array<const char*, kFrameClasses> kClassKeys = {
    "pictureAltered", "timeAltered", "unchecked", "noTime", "placeholder", "intact"};
constexpr std::array<const char*, kFrameClasses> kClassColours = {"#d62728", "#ff9f1c", "#7b4fa8",
                                                                  "#9e9e9e", "#1f5fa8", "#43a047"};
constexpr std::array<const char*, kFrameClasses> kClassNames = {"picture altered",
                                                                "time altered",
                                                                "not checked",
                                                                "no valid time",
                                                                "placeholder written by the client",
                                                                "intact"};

std::string plural(long long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A JSON string that can stand inside an HTML script element unchanged.
std::string dataString(std::string_view text) {
    const std::string json = jsonString(text);
    std::string out;
    out.reserve(json.size());
    for (const char c : json) {
        if (c == '<')
            out += "\\u003c";
        else if (c == '>')
            out += "\\u003e";
        else if (c == '&')
            out += "\\u0026";
        else
            out += c;
    }
    return out;
}

// Text from the medium for a page: controls and bytes that are no UTF-8 shown as \xNN (as on a
// terminal), then the HTML specials escaped.
std::string html(std::string_view text) {
    const std::string shown = terminalText(text);
    std::string out;
    out.reserve(shown.size());
    for (const char c : shown) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string flagsText(std::int32_t flags, bool placeholder, bool decoded) {
    std::string s;
    if (flags < 0) {
        s = "not checked";
    } else {
        if (flags & kPictureAltered)
            s += "IMAGE ALTERED";
        if (flags & kTimeAltered)
            s += s.empty() ? "TIME ALTERED" : ", TIME ALTERED";
        if (s.empty())
            s = "intact";
        if (flags & kNoValidTime)
            s += flags == kNoTrailer ? ", no trailer" : ", no valid time";
    }
    if (placeholder)
        s += ", placeholder written by the client";
    if (!decoded)
        s += ", picture does not decode";
    return s;
}

void appendFrameJson(std::string& out, const ReportFrame& f) {
    out += "{\"index\": " + std::to_string(f.index) + ", \"file\": " + dataString(f.file) +
           ", \"channel\": " + std::to_string(f.channel) +
           ", \"time\": " + (f.time.empty() ? std::string("null") : dataString(f.time)) +
           ", \"flags\": " + std::to_string(f.flags) +
           ", \"offsetMs\": " + std::to_string(f.offsetMs) +
           ", \"placeholder\": " + (f.placeholder ? "true" : "false") +
           ", \"decoded\": " + (f.decoded ? "true" : "false") + ", \"thumbnail\": ";
    out += f.thumbnail.empty() ? std::string("null") : "\"" + base64(f.thumbnail) + "\"";
    out += "}";
}

template <class T, class Fn>
void appendCapped(std::string& out, const char* key, const Capped<T>& list, Fn each) {
    out += ", \"";
    out += key;
    out += "\": {\"total\": " + std::to_string(list.total) + ", \"listed\": [";
    for (std::size_t k = 0; k < list.listed.size(); ++k) {
        out += k == 0 ? "\n  " : ",\n  ";
        each(list.listed[k]);
    }
    out += "]}";
}

void appendStrings(std::string& out, const char* key, const std::vector<std::string>& list) {
    out += ", \"";
    out += key;
    out += "\": [";
    for (std::size_t k = 0; k < list.size(); ++k)
        out += (k == 0 ? "" : ", ") + dataString(list[k]);
    out += "]";
}

void cap(std::vector<std::string>& list) {
    if (list.size() > ReportModel::kMaxListed)
        list.resize(ReportModel::kMaxListed);
}

}  // namespace

FrameClass classOf(const VerifiedFrame& f) {
    if (f.flags < 0)
        return FrameClass::Unchecked;
    if (f.flags & kPictureAltered)
        return FrameClass::PictureAltered;
    if (f.flags & kTimeAltered)
        return FrameClass::TimeAltered;
    if (f.flags & kNoValidTime)
        return FrameClass::NoTime;
    if (f.placeholder)
        return FrameClass::Placeholder;
    return FrameClass::Intact;
}

const char* frameClassKey(FrameClass c) {
    return kClassKeys[static_cast<std::size_t>(c)];
}

double soundLengthSeconds(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr)
        return -1;
    sf_close(f);
    return info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : -1;
}

std::string base64(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::uint32_t b0 = bytes[i];
        const std::uint32_t b1 = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < bytes.size() ? bytes[i + 2] : 0;
        const std::uint32_t v = (b0 << 16) | (b1 << 8) | b2;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
    }
    return out;
}

// ---- building ----

ChannelReport& ReportBuilder::channel(int number) {
    const auto it = channelAt_.find(number);
    if (it != channelAt_.end())
        return model_.channels[it->second];
    channelAt_.emplace(number, model_.channels.size());
    ChannelReport& c = model_.channels.emplace_back();
    c.channel = number;
    const auto expected = expected_.find(number);
    c.expected = expected == expected_.end() ? 0 : expected->second;
    // A channel of few frames gets a stretch per frame, so that its bar has no gaps.
    c.bins.assign(static_cast<std::size_t>(std::clamp<long long>(
                      c.expected, 1, static_cast<long long>(ReportModel::kTimelineBins))),
                  {});
    return c;
}

void ReportBuilder::started(const VerifyReport& report, std::size_t frames) {
    model_.folder = report.folder;
    model_.kind = report.kind;
    prefix_ = report.folder + "/";
    if (!report.soundPath.empty()) {
        model_.soundFile = report.soundPath.compare(0, prefix_.size(), prefix_) == 0
                               ? report.soundPath.substr(prefix_.size())
                               : report.soundPath;
        model_.soundSeconds = soundLengthSeconds(report.soundPath);
    }
    model_.infoLoaded = report.infoLoaded;
    model_.timeTable = report.timeTablePresent;
    model_.frameCount = static_cast<long long>(frames);
    expected_ = report.framesPerChannel;
}

void ReportBuilder::frame(FrameOutcome& o) {
    const VerifiedFrame& f = o.frame;
    ChannelReport& c = channel(f.channel);
    if (c.title.empty())
        c.title = f.title;
    ++c.frames;
    const FrameClass k = classOf(f);
    ++c.counts[static_cast<std::size_t>(k)];
    const long long span = std::max(c.expected, c.frames);
    const auto bins = static_cast<long long>(c.bins.size());
    const auto bin = static_cast<std::size_t>(std::min((c.frames - 1) * bins / span, bins - 1));
    ++c.bins[bin][static_cast<std::size_t>(k)];
    if (!f.timeText.empty()) {
        // The text sorts as the time does.
        if (c.first.empty() || f.timeText < c.first)
            c.first = f.timeText;
        if (c.last.empty() || f.timeText > c.last)
            c.last = f.timeText;
        if (model_.firstTime.empty() || f.timeText < model_.firstTime)
            model_.firstTime = f.timeText;
        if (model_.lastTime.empty() || f.timeText > model_.lastTime)
            model_.lastTime = f.timeText;
    }

    const bool altered = k == FrameClass::PictureAltered || k == FrameClass::TimeAltered;
    const bool noted = !altered && (k != FrameClass::Intact || (!f.decoded && o.readError == 0));
    Capped<ReportFrame>* list = altered ? &model_.altered : noted ? &model_.findings : nullptr;
    if (altered)
        ++model_.alteredFrames;
    if (list == nullptr)
        return;
    ++list->total;
    if (list->listed.size() >= ReportModel::kMaxListed)
        return;
    ReportFrame r;
    r.index = f.index;
    r.file =
        f.path.compare(0, prefix_.size(), prefix_) == 0 ? f.path.substr(prefix_.size()) : f.path;
    r.channel = f.channel;
    r.time = f.timeText;
    r.flags = f.flags;
    r.offsetMs = f.offsetMs;
    r.placeholder = f.placeholder;
    r.decoded = f.decoded;
    if (altered)
        r.thumbnail = std::move(o.thumbnail);
    list->listed.push_back(std::move(r));
}

void ReportBuilder::finished(const VerifyReport& report) {
    model_.summary = report.summary;
    model_.unreadable.total = static_cast<long long>(report.unreadable.size());
    for (std::size_t i = 0; i < report.unreadable.size() && i < ReportModel::kMaxListed; ++i)
        model_.unreadable.listed.push_back(report.unreadable[i]);
    model_.manifest = report.manifest;
    cap(model_.manifest.changedFiles);
    cap(model_.manifest.missingFiles);
    cap(model_.manifest.addedFiles);
    cap(model_.manifest.unreadableFiles);
    model_.status = exitStatusOf(report);
    std::sort(model_.channels.begin(), model_.channels.end(),
              [](const ChannelReport& a, const ChannelReport& b) { return a.channel < b.channel; });
    writeVerdict(model_);
}

void writeVerdict(ReportModel& m) {
    const VerifySummary& s = m.summary;
    const ManifestSummary& mf = m.manifest;
    const std::string frames = plural(s.frames, "frame", "frames");
    std::string altered = plural(m.alteredFrames, "frame", "frames") + " altered (the picture in " +
                          std::to_string(s.pictureAltered) + ", the time in " +
                          std::to_string(s.timeAltered) + ")";
    std::string unchecked = plural(s.notChecked, "frame", "frames") + " could not be checked";
    std::string unreadable = plural(s.unreadable, "part", "parts") +
                             " of the recording could not be read: this report is incomplete";
    std::string mismatch = "The folder does not match its manifest (" + mf.file +
                           "): " + std::to_string(mf.changed) + " changed, " +
                           std::to_string(mf.missing) + " missing, " + std::to_string(mf.added) +
                           " added";
    if (mf.unreadable)
        mismatch += ", " + std::to_string(mf.unreadable) + " unreadable";
    if (mf.unparsed)
        mismatch += ", " + plural(mf.unparsed, "line", "lines") + " not understood";
    if (mf.incomplete)
        mismatch += "; the saving run did not complete";

    m.details.clear();
    switch (m.status) {
        case 0:
            m.headline = "Intact: all " + frames + " were checked and none is altered";
            break;
        case 1:
            m.headline = "Altered: " + altered + " of " + frames;
            break;
        case 2:
            m.headline = "Parts unreadable: " + unreadable;
            break;
        case 3:
            m.headline = "Not fully checked: " + unchecked + " (" + frames + " in all)";
            break;
        default:
            m.headline = "Manifest mismatches: " + std::to_string(mf.changed) + " changed, " +
                         std::to_string(mf.missing) + " missing, " + std::to_string(mf.added) +
                         " added; the frames themselves are intact";
            break;
    }
    if (m.status != 1 && m.alteredFrames > 0)
        m.details.push_back(altered + ".");
    if (m.status != 3 && s.notChecked > 0)
        m.details.push_back(unchecked + ".");
    if (m.status != 2 && s.unreadable > 0)
        m.details.push_back(unreadable + ".");
    if (s.noTime > 0)
        m.details.push_back(plural(s.noTime, "frame has", "frames have") +
                            " no valid capture time.");
    if (s.placeholder > 0)
        m.details.push_back(plural(s.placeholder, "frame is", "frames are") +
                            " the black placeholder picture written by the client at the start "
                            "of a save, not a recorded picture.");
    if (!mf.present) {
        m.details.push_back(
            "The folder has no manifest (SHA256SUMS): files changed beside the frames' "
            "trailers, added or removed since the recording cannot be told.");
    } else if (mf.mismatch()) {
        m.details.push_back(mismatch + ".");
    } else {
        m.details.push_back("Every file matches the folder's manifest (" + mf.file +
                            "): " + plural(mf.matched, "file", "files") + ".");
    }
}

// ---- the data ----

std::string reportDataJson(const ReportModel& m) {
    std::string out = "{\"format\": \"korvex-verification-report\", \"formatVersion\": 1";
    out += ", \"program\": " + dataString(m.program) + ", \"version\": " + dataString(m.version);
    appendStrings(out, "commandLine", m.commandLine);
    out += ", \"madeAt\": " + dataString(m.madeAt) + ", \"timeZone\": " + dataString(m.timeZone);
    out += ",\n\"verdict\": {\"status\": " + std::to_string(m.status) +
           ", \"headline\": " + dataString(m.headline);
    appendStrings(out, "details", m.details);
    out += "}";
    out += ",\n\"recording\": {\"folder\": " + dataString(m.folder) +
           ", \"kind\": " + dataString(m.kind) +
           ", \"sound\": " + (m.soundFile.empty() ? std::string("null") : dataString(m.soundFile));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", m.soundSeconds);
    out += ", \"soundSeconds\": " + (m.soundSeconds < 0 ? std::string("null") : seconds);
    out += std::string(", \"info\": ") + (m.infoLoaded ? "true" : "false") +
           ", \"timeTable\": " + (m.timeTable ? "true" : "false") +
           ", \"frames\": " + std::to_string(m.frameCount) +
           ", \"first\": " + (m.firstTime.empty() ? std::string("null") : dataString(m.firstTime)) +
           ", \"last\": " + (m.lastTime.empty() ? std::string("null") : dataString(m.lastTime)) +
           "}";
    out += ",\n\"timelineClasses\": [";
    for (std::size_t k = 0; k < kFrameClasses; ++k)
        out += std::string(k == 0 ? "" : ", ") + "\"" + kClassKeys[k] + "\"";
    out += "], \"channels\": [";
    for (std::size_t i = 0; i < m.channels.size(); ++i) {
        const ChannelReport& c = m.channels[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"channel\": " + std::to_string(c.channel) +
               ", \"title\": " + dataString(c.title) + ", \"frames\": " + std::to_string(c.frames) +
               ", \"first\": " + (c.first.empty() ? std::string("null") : dataString(c.first)) +
               ", \"last\": " + (c.last.empty() ? std::string("null") : dataString(c.last)) +
               ", \"counts\": {";
        for (std::size_t k = 0; k < kFrameClasses; ++k)
            out += std::string(k == 0 ? "" : ", ") + "\"" + kClassKeys[k] +
                   "\": " + std::to_string(c.counts[k]);
        out += "}, \"timeline\": [";
        for (std::size_t b = 0; b < c.bins.size(); ++b) {
            out += b == 0 ? "[" : ", [";
            for (std::size_t k = 0; k < kFrameClasses; ++k)
                out += (k == 0 ? "" : ",") + std::to_string(c.bins[b][k]);
            out += "]";
        }
        out += "]}";
    }
    out += "]";
    out += ",\n\"summary\": {" + jsonSummaryMembers(m.summary) +
           ", \"alteredFrames\": " + std::to_string(m.alteredFrames) + "}";
    out += "\n";
    appendCapped(out, "altered", m.altered, [&](const ReportFrame& f) { appendFrameJson(out, f); });
    out += "\n";
    appendCapped(out, "findings", m.findings,
                 [&](const ReportFrame& f) { appendFrameJson(out, f); });
    out += "\n";
    appendCapped(out, "unreadable", m.unreadable, [&](const UnreadableEntry& u) {
        out += "{\"path\": " + dataString(u.path) + ", \"reason\": " + dataString(u.reason) + "}";
    });
    out += ",\n\"manifest\": " + jsonManifest(m.manifest, dataString);
    out += "}\n";
    return out;
}

// ---- the page ----

namespace {

const char* const kStyle = R"(
body { font-family: "Liberation Sans", Arial, sans-serif; margin: 2em auto; max-width: 62em;
       color: #222; line-height: 1.35; }
h1 { font-size: 1.6em; margin: 0 0 .3em 0; }
h2 { font-size: 1.2em; border-bottom: 1px solid #bbb; padding-bottom: .2em; margin-top: 1.6em; }
.verdict { padding: 1em 1.2em; border-radius: 6px; color: #fff; }
.verdict ul { margin: .3em 0 0 1.2em; padding: 0; }
.s0 { background: #2e7d32; } .s1 { background: #c62828; } .s2 { background: #6d4c41; }
.s3 { background: #6a4fa0; } .s4 { background: #b26a00; }
table { border-collapse: collapse; margin: .5em 0; }
td, th { border: 1px solid #ccc; padding: .2em .5em; text-align: left; vertical-align: top; }
th { background: #f2f2f2; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
.mono { font-family: "Liberation Mono", monospace; font-size: .9em; word-break: break-all; }
.legend span { display: inline-block; margin-right: 1.2em; }
.legend i { display: inline-block; width: .9em; height: .9em; margin-right: .3em;
            vertical-align: middle; }
.timeline { margin: .3em 0 .8em 0; }
.thumbs { display: flex; flex-wrap: wrap; gap: .8em; }
figure { margin: 0; width: 180px; font-size: .8em; }
.pic { position: relative; width: 176px; min-height: 40px; background: #000; }
.pic img { display: block; max-width: 176px; }
.pic .nopic { color: #ccc; padding: 1em .5em; display: block; }
.banner { position: absolute; left: 0; right: 0; top: 0; background: rgba(200,0,0,.85);
          color: #fff; font-weight: bold; text-align: center; font-size: .85em; }
footer { margin-top: 2em; font-size: .9em; }
)";

std::string number(long long n) {
    return "<td class=\"n\">" + std::to_string(n) + "</td>";
}

std::string cell(const std::string& text, bool mono = false) {
    return std::string(mono ? "<td class=\"mono\">" : "<td>") + html(text) + "</td>";
}

std::string channelName(int channel) {
    return channel < 0 ? std::string("(one channel, no INFO)") : std::to_string(channel);
}

std::string timelineSvg(const ChannelReport& c) {
    constexpr int kWidth = 800, kHeight = 18;
    const double binWidth = c.bins.empty() ? 0 : static_cast<double>(kWidth) / c.bins.size();
    char number[32];
    std::string svg = "<svg class=\"timeline\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
                      std::to_string(kHeight) + "\" role=\"img\"><rect width=\"" +
                      std::to_string(kWidth) + "\" height=\"" + std::to_string(kHeight) +
                      "\" fill=\"#eeeeee\"/>";
    for (std::size_t b = 0; b < c.bins.size(); ++b) {
        // The worst class present colours the stretch.
        for (std::size_t k = 0; k < kFrameClasses; ++k) {
            if (c.bins[b][k] == 0)
                continue;
            std::snprintf(number, sizeof number, "%.2f", b * binWidth);
            svg += std::string("<rect x=\"") + number;
            std::snprintf(number, sizeof number, "%.2f", binWidth + 0.05);
            svg += std::string("\" width=\"") + number + "\" height=\"" + std::to_string(kHeight) +
                   "\" fill=\"" + kClassColours[k] + "\"/>";
            break;
        }
    }
    svg += "</svg>";
    return svg;
}

void frameTable(std::string& out, const Capped<ReportFrame>& list, const char* noun) {
    out +=
        "<table><tr><th>Frame</th><th>File</th><th>Channel</th><th>Time</th><th>Offset "
        "(ms)</th><th>Flags</th><th>Finding</th></tr>";
    for (const ReportFrame& f : list.listed) {
        out += "<tr>" + number(f.index) + cell(f.file, true) + cell(channelName(f.channel)) +
               cell(f.time.empty() ? "-" : f.time) + number(f.offsetMs) + number(f.flags) +
               cell(flagsText(f.flags, f.placeholder, f.decoded)) + "</tr>";
    }
    out += "</table>";
    if (list.total > static_cast<long long>(list.listed.size())) {
        out += "<p>… and " +
               std::to_string(list.total - static_cast<long long>(list.listed.size())) + " more " +
               noun + " not listed.</p>";
    }
}

void fileList(std::string& out, const char* what, long long total,
              const std::vector<std::string>& files) {
    if (total == 0)
        return;
    out += "<p>" + std::string(what) + " (" + std::to_string(total) + "):</p><ul class=\"mono\">";
    for (const std::string& f : files)
        out += "<li>" + html(f) + "</li>";
    out += "</ul>";
    if (total > static_cast<long long>(files.size()))
        out += "<p>… and " + std::to_string(total - static_cast<long long>(files.size())) +
               " more.</p>";
}

}  // namespace

std::string reportHtml(const ReportModel& m, const std::string& data) {
    const std::string digest =
        toHex(Sha256::of({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()}));
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    out += "<title>Verification report: " + html(m.folder) + "</title>\n<style>" + kStyle +
           "</style>\n</head>\n<body>\n";

    out += "<header class=\"verdict s" + std::to_string(m.status) + "\"><h1>" + html(m.headline) +
           "</h1><ul>";
    for (const std::string& d : m.details)
        out += "<li>" + html(d) + "</li>";
    out += "</ul></header>\n";

    out += "<h2>Recording</h2><table>";
    out += "<tr><th>Folder</th>" + cell(m.folder, true) + "</tr>";
    out += "<tr><th>Kind</th>" + cell(m.kind) + "</tr>";
    std::string sound = "none";
    if (!m.soundFile.empty()) {
        char length[64] = "length unknown";
        if (m.soundSeconds >= 0)
            std::snprintf(length, sizeof length, "%.1f s", m.soundSeconds);
        sound = m.soundFile + " (" + length + ")";
    }
    out += "<tr><th>Sound</th>" + cell(sound) + "</tr>";
    out += "<tr><th>Frames</th>" + number(m.frameCount) + "</tr>";
    out += "<tr><th>Index</th>" +
           cell(std::string(m.infoLoaded ? "INFO file" : "no INFO (frame files only)") +
                (m.timeTable ? ", time.txt" : "")) +
           "</tr>";
    out += "<tr><th>Recorded</th>" +
           cell(m.firstTime.empty() ? std::string("no valid capture time")
                                    : m.firstTime + " to " + m.lastTime + " (" + m.timeZone + ")") +
           "</tr></table>\n";

    out += "<table><tr><th>Channel</th><th>Camera</th><th>Frames</th><th>First</th><th>Last</th>";
    for (std::size_t k = 0; k < kFrameClasses; ++k)
        out += "<th>" + html(kClassNames[k]) + "</th>";
    out += "</tr>";
    for (const ChannelReport& c : m.channels) {
        out += "<tr>" + cell(channelName(c.channel)) + cell(c.title) + number(c.frames) +
               cell(c.first.empty() ? "-" : c.first) + cell(c.last.empty() ? "-" : c.last);
        for (std::size_t k = 0; k < kFrameClasses; ++k)
            out += number(c.counts[k]);
        out += "</tr>";
    }
    out += "</table>\n";

    out += "<h2>Timeline</h2><p class=\"legend\">";
    for (std::size_t k = 0; k < kFrameClasses; ++k)
        out += std::string("<span><i style=\"background:") + kClassColours[k] + "\"></i>" +
               html(kClassNames[k]) + "</span>";
    out += "</p><p>Each channel's bar holds its frames in their order, " +
           std::string(m.firstTime.empty() ? ""
                                           : html(m.firstTime) + " at the left to " +
                                                 html(m.lastTime) + " at the right, ") +
           "each stretch coloured by the worst frame in it.</p>";
    for (const ChannelReport& c : m.channels) {
        out += "<div>Channel " + html(channelName(c.channel)) +
               (c.title.empty() ? std::string() : " — " + html(c.title)) + "</div>" +
               timelineSvg(c) + "\n";
    }

    out += "<h2>Altered frames</h2>";
    if (m.altered.total == 0) {
        out += "<p>None.</p>";
    } else {
        out += "<div class=\"thumbs\">";
        for (const ReportFrame& f : m.altered.listed) {
            const char* banner = (f.flags & kPictureAltered) ? "IMAGE ALTERED" : "TIME ALTERED";
            out += "<figure><div class=\"pic\">";
            if (!f.thumbnail.empty())
                out += "<img alt=\"frame " + std::to_string(f.index) +
                       "\" src=\"data:image/jpeg;base64," + base64(f.thumbnail) + "\">";
            else
                out += "<span class=\"nopic\">no picture</span>";
            out += std::string("<span class=\"banner\">") + banner + "</span></div><figcaption>";
            out += "<span class=\"mono\">" + html(f.file) + "</span><br>frame " +
                   std::to_string(f.index) + ", channel " + html(channelName(f.channel)) + "<br>" +
                   html(f.time.empty() ? std::string("no valid time") : f.time) + "<br>flags " +
                   std::to_string(f.flags) + ": " +
                   html(flagsText(f.flags, f.placeholder, f.decoded)) + "</figcaption></figure>";
        }
        out += "</div>";
        frameTable(out, m.altered, "altered frames");
    }

    out += "<h2>Other findings</h2>";
    if (m.findings.total == 0)
        out += "<p>None.</p>";
    else
        frameTable(out, m.findings, "frames");

    if (m.unreadable.total > 0) {
        out += "<h2>Unreadable parts</h2><table><tr><th>Path</th><th>Reason</th></tr>";
        for (const UnreadableEntry& u : m.unreadable.listed)
            out += "<tr>" + cell(u.path, true) + cell(u.reason) + "</tr>";
        out += "</table>";
    }

    out += "<h2>Manifest</h2>";
    const ManifestSummary& mf = m.manifest;
    if (!mf.present) {
        out += "<p>The folder has no manifest (SHA256SUMS).</p>";
    } else {
        out += "<table><tr><th>File</th>" + cell(mf.file, true) + "</tr><tr><th>Matched</th>" +
               number(mf.matched) + "</tr><tr><th>Changed</th>" + number(mf.changed) +
               "</tr><tr><th>Missing</th>" + number(mf.missing) + "</tr><tr><th>Added</th>" +
               number(mf.added) + "</tr><tr><th>Unreadable</th>" + number(mf.unreadable) +
               "</tr><tr><th>Lines not understood</th>" + number(mf.unparsed) +
               "</tr><tr><th>Saving run complete</th>" + cell(mf.incomplete ? "no" : "yes") +
               "</tr></table>";
        fileList(out, "Changed", mf.changed, mf.changedFiles);
        fileList(out, "Missing", mf.missing, mf.missingFiles);
        fileList(out, "Added", mf.added, mf.addedFiles);
        fileList(out, "Unreadable", mf.unreadable, mf.unreadableFiles);
    }

    std::string command;
    for (const std::string& a : m.commandLine)
        command += (command.empty() ? "" : " ") + a;
    out += "<footer><h2>About this report</h2><table>";
    out += "<tr><th>Command</th>" + cell(command, true) + "</tr>";
    out += "<tr><th>Program</th>" + cell(m.program + " " + m.version) + "</tr>";
    out += "<tr><th>Made</th>" + cell(m.madeAt) + "</tr>";
    out += "<tr><th>Times read in</th>" + cell(m.timeZone + ", the recorders' clock") + "</tr>";
    out += "<tr><th>Data SHA-256</th>" + cell(digest, true) + "</tr></table>";
    out +=
        "<p>The report's data is embedded in this file as JSON (the script element "
        "\"report-data\"); the SHA-256 above is that of its bytes.</p></footer>\n";
    out += "<script type=\"application/json\" id=\"report-data\">" + data + "</script>\n";
    out += "</body>\n</html>\n";
    return out;
}

}  // namespace korvex::verify
