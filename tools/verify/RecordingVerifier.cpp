#include "tools/verify/RecordingVerifier.h"

#include <cstdio>

namespace korvex::verify {

namespace {

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

int exitStatusOf(const VerifySummary& summary) {
    if (summary.unreadable > 0)
        return 2;
    if (summary.pictureAltered > 0 || summary.timeAltered > 0)
        return 1;
    if (summary.notChecked > 0)
        return 3;
    return 0;
}

int exitStatusOf(const VerifyReport& report) {
    const int status = exitStatusOf(report.summary);
    return status == 0 && report.manifest.mismatch() ? 4 : status;
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

std::string jsonHead(const VerifyReport& report) {
    return "{\"folder\": " + jsonString(report.folder) + ", \"kind\": " + jsonString(report.kind) +
           ", \"frames\": [";
}

std::string jsonFrame(const VerifiedFrame& f) {
    std::string out =
        "  {\"index\": " + std::to_string(f.index) + ", \"path\": " + jsonString(f.path) +
        ", \"channel\": " + std::to_string(f.channel) + ", \"flags\": " + std::to_string(f.flags) +
        ", \"time\": " + (f.timeText.empty() ? std::string("null") : jsonString(f.timeText)) +
        ", \"offsetMs\": " + std::to_string(f.offsetMs);
    // Only where it holds: every other frame reads as it always did.
    if (f.placeholder)
        out += ", \"placeholder\": true";
    out += "}";
    return out;
}

namespace {

void appendList(std::string& out, const char* key, const std::vector<std::string>& paths,
                JsonQuote quote) {
    out += ", \"";
    out += key;
    out += "\": [";
    for (std::size_t k = 0; k < paths.size(); ++k) {
        out += k == 0 ? "" : ", ";
        out += quote(paths[k]);
    }
    out += "]";
}

}  // namespace

std::string jsonManifest(const ManifestSummary& m, JsonQuote quote) {
    std::string out = "{\"present\": ";
    out += m.present ? "true" : "false";
    out += ", \"file\": " + (m.present ? quote(m.file) : std::string("null"));
    out += ", \"matched\": " + std::to_string(m.matched) +
           ", \"changed\": " + std::to_string(m.changed) +
           ", \"missing\": " + std::to_string(m.missing) +
           ", \"added\": " + std::to_string(m.added) +
           ", \"unreadable\": " + std::to_string(m.unreadable) +
           ", \"unparsed\": " + std::to_string(m.unparsed) +
           ", \"incomplete\": " + (m.incomplete ? "true" : "false");
    appendList(out, "changedFiles", m.changedFiles, quote);
    appendList(out, "missingFiles", m.missingFiles, quote);
    appendList(out, "addedFiles", m.addedFiles, quote);
    appendList(out, "unreadableFiles", m.unreadableFiles, quote);
    out += "}";
    return out;
}

std::string jsonSummaryMembers(const VerifySummary& s) {
    return "\"frames\": " + std::to_string(s.frames) + ", \"intact\": " + std::to_string(s.intact) +
           ", \"pictureAltered\": " + std::to_string(s.pictureAltered) +
           ", \"timeAltered\": " + std::to_string(s.timeAltered) +
           ", \"noTime\": " + std::to_string(s.noTime) +
           ", \"notChecked\": " + std::to_string(s.notChecked) +
           ", \"unreadable\": " + std::to_string(s.unreadable) +
           ", \"placeholder\": " + std::to_string(s.placeholder);
}

std::string jsonTail(const VerifyReport& report, bool anyFrame) {
    std::string out = anyFrame ? "\n]" : "]";
    out += ", \"unreadable\": [";
    for (std::size_t k = 0; k < report.unreadable.size(); ++k) {
        const UnreadableEntry& u = report.unreadable[k];
        out += k == 0 ? "\n" : ",\n";
        out += "  {\"path\": " + jsonString(u.path) + ", \"reason\": " + jsonString(u.reason) + "}";
    }
    out += report.unreadable.empty() ? "]" : "\n]";
    out += ", \"summary\": {" + jsonSummaryMembers(report.summary) + "}";
    out += ", \"manifest\": " + jsonManifest(report.manifest) + "}\n";
    return out;
}

std::string toJson(const VerifyReport& report) {
    std::string out = jsonHead(report);
    for (std::size_t k = 0; k < report.frames.size(); ++k) {
        out += k == 0 ? "\n" : ",\n";
        out += jsonFrame(report.frames[k]);
    }
    out += jsonTail(report, !report.frames.empty());
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
        if (f.placeholder)
            status += ", placeholder written by the client";
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

std::string textManifest(const ManifestSummary& m) {
    if (!m.present)
        return {};
    std::string out = "Manifest " + terminalText(m.file) + ": " + std::to_string(m.matched) +
                      " files match, " + std::to_string(m.changed) + " changed, " +
                      std::to_string(m.missing) + " missing, " + std::to_string(m.added) + " added";
    if (m.unreadable > 0)
        out += ", " + std::to_string(m.unreadable) + " unreadable";
    if (m.unparsed > 0)
        out += ", " + std::to_string(m.unparsed) + " lines not understood";
    if (m.incomplete)
        out += "; the saving run did not complete";
    out += "\n";
    const auto list = [&](const char* what, const std::vector<std::string>& paths) {
        for (const std::string& p : paths)
            out += std::string("  ") + what + " " + terminalText(p) + "\n";
    };
    list("changed", m.changedFiles);
    list("missing", m.missingFiles);
    list("added", m.addedFiles);
    list("unreadable", m.unreadableFiles);
    return out;
}

std::string textUnreadable(const UnreadableEntry& entry) {
    return "cannot read " + terminalText(entry.path) + " (" + terminalText(entry.reason) + ")";
}

}  // namespace korvex::verify
