#include "viewer/export/SideCar.h"

#include "tools/verify/RecordingVerifier.h"

namespace korvex {

namespace {

using verify::jsonString;

std::string orNull(const std::string& text) {
    return text.empty() ? std::string("null") : jsonString(text);
}

std::string frameJson(const SideCarFrame& f) {
    return "{\"number\": " + std::to_string(f.number) + ", \"file\": " + jsonString(f.path) +
           ", \"time\": " + orNull(f.timeText) + ", \"channel\": " + std::to_string(f.channel) +
           ", \"flags\": " + std::to_string(f.flags) + "}";
}

const char* boolText(bool b) {
    return b ? "true" : "false";
}

}  // namespace

std::string sideCarJson(const SideCar& s) {
    std::string j = "{\n";
    j += "  \"program\": \"korvex-export\",\n";
    j += "  \"version\": " + jsonString(s.version) + ",\n";
    j += "  \"created\": " + jsonString(s.created) + ",\n";
    j += "  \"source\": {\"folder\": " + jsonString(s.sourceFolder) +
         ", \"kind\": " + jsonString(s.kind) + ", \"sound\": " + orNull(s.soundFile) +
         ", \"manifest\": ";
    if (s.manifestPath.empty()) {
        j += "null},\n";
    } else {
        j += "{\"file\": " + jsonString(s.manifestPath) +
             ", \"sha256\": " + jsonString(s.manifestSha256) + "}},\n";
    }
    j += "  \"first\": " + frameJson(s.first) + ",\n";
    j += "  \"last\": " + frameJson(s.last) + ",\n";
    j += "  \"options\": {\"from\": " + orNull(s.from) + ", \"to\": " + orNull(s.to) +
         ", \"channel\": " + jsonString(s.channel) + ", \"panes\": " + std::to_string(s.panes) +
         ", \"overlay\": " + boolText(s.overlay) + ", \"marks\": " + boolText(s.marks) +
         ", \"size\": " + jsonString(std::to_string(s.width) + "x" + std::to_string(s.height)) +
         "},\n";
    j += "  \"video\": {\"file\": " + jsonString(s.output) +
         ", \"sha256\": " + jsonString(s.outputSha256) +
         ", \"bytes\": " + std::to_string(s.outputBytes) +
         ", \"pictures\": " + std::to_string(s.pictures) +
         ", \"durationMs\": " + std::to_string(s.durationMs) +
         ", \"timing\": " + jsonString(s.timing) + ", \"coder\": " + jsonString(s.video) +
         ", \"sound\": " + orNull(s.audio) + "},\n";
    // Frames of the stretch left out because their time ran backwards, and frames shown as the
    // viewer's "invalid image" face because their picture does not decode.
    j += "  \"frames\": {\"stretch\": " + std::to_string(s.stretchFrames) +
         ", \"timeRanBackwards\": " + std::to_string(s.skipped) +
         ", \"undecodable\": " + std::to_string(s.undecodable) + "}\n";
    j += "}\n";
    return j;
}

std::string sha256SumLine(const std::string& hex, const std::string& name) {
    std::string escaped;
    bool needsEscape = false;
    for (char c : name) {
        if (c == '\\') {
            escaped += "\\\\";
            needsEscape = true;
        } else if (c == '\n') {
            escaped += "\\n";
            needsEscape = true;
        } else {
            escaped += c;
        }
    }
    return (needsEscape ? "\\" : "") + hex + "  " + escaped + "\n";
}

}  // namespace korvex
