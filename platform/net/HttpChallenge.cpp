#include "platform/net/HttpChallenge.h"

#include <cctype>

#include "platform/Hex.h"

namespace platform {

namespace {

bool isTokenChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) ||
           (u != 0 && std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A cursor over one header value.
struct Reader {
    std::string_view text;
    std::size_t pos = 0;

    bool atEnd() const { return pos >= text.size(); }
    void skipSpace() {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
    }
    void skipSeparators() {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ','))
            ++pos;
    }
    std::string_view token() {
        const std::size_t start = pos;
        while (pos < text.size() && isTokenChar(text[pos]))
            ++pos;
        return text.substr(start, pos - start);
    }
    // A quoted string at pos (the opening quote included); false when it never closes.
    bool quoted(std::string& out) {
        out.clear();
        ++pos;
        while (pos < text.size()) {
            const char c = text[pos++];
            if (c == '"')
                return true;
            if (c == '\\' && pos < text.size())
                out += text[pos++];
            else
                out += c;
        }
        return false;
    }
};

// One `name=value` at the reader, or false (the reader then stays where it was). A name that is
// not followed by '=' is the next challenge's scheme.
bool readParam(Reader& r, std::string& name, std::string& value) {
    const std::size_t start = r.pos;
    const std::string_view n = r.token();
    r.skipSpace();
    if (n.empty() || r.atEnd() || r.text[r.pos] != '=') {
        r.pos = start;
        return false;
    }
    ++r.pos;
    r.skipSpace();
    if (!r.atEnd() && r.text[r.pos] == '"') {
        if (!r.quoted(value)) {
            r.pos = start;
            return false;
        }
    } else {
        value = std::string(r.token());
    }
    name = lower(n);
    return true;
}

}  // namespace

std::string HttpChallenge::realm() const {
    const auto it = params.find("realm");
    return it == params.end() ? std::string() : it->second;
}

std::map<std::string, std::string> parseAuthParams(std::string_view text) {
    std::map<std::string, std::string> params;
    Reader r{text.substr(0, std::min(text.size(), kMaxChallengeBytes))};
    r.skipSeparators();
    std::string name, value;
    while (!r.atEnd() && params.size() < kMaxAuthParams && readParam(r, name, value)) {
        params.emplace(std::move(name), std::move(value));
        r.skipSeparators();
    }
    return params;
}

std::vector<HttpChallenge> parseChallenges(const std::vector<std::string>& values) {
    std::vector<HttpChallenge> challenges;
    for (const std::string& value : values) {
        Reader r{std::string_view(value).substr(0, std::min(value.size(), kMaxChallengeBytes))};
        r.skipSeparators();
        while (!r.atEnd() && challenges.size() < kMaxChallenges) {
            const std::string_view scheme = r.token();
            if (scheme.empty())
                break;  // not a challenge: the rest of this value is unreadable
            HttpChallenge challenge;
            challenge.scheme = lower(scheme);
            r.skipSpace();
            // token68 (Basic's old form) or parameters.
            std::string name, param;
            while (!r.atEnd() && challenge.params.size() < kMaxAuthParams &&
                   readParam(r, name, param)) {
                challenge.params.emplace(std::move(name), std::move(param));
                r.skipSeparators();
            }
            challenges.push_back(std::move(challenge));
            r.skipSeparators();
            // A parameter that could not be read (an unclosed quote) is no next scheme: the
            // rest of the value is unreadable.
            const std::size_t next = r.pos;
            r.token();
            r.skipSpace();
            if (!r.atEnd() && r.text[r.pos] == '=')
                break;
            r.pos = next;
        }
    }
    return challenges;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexDigitValue(text[i + 1]);
            const int low = hexDigitValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

namespace {

// Where the user information of an absolute URL lies: [start, at) before the '@'.
bool userInfoSpan(std::string_view url, std::size_t& start, std::size_t& at) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos || scheme == 0)
        return false;
    start = scheme + 3;
    const std::size_t authorityEnd = url.find_first_of("/?#", start);
    const std::string_view authority =
        url.substr(start, authorityEnd == std::string_view::npos ? std::string_view::npos
                                                                 : authorityEnd - start);
    const std::size_t found = authority.rfind('@');
    if (found == std::string_view::npos)
        return false;
    at = start + found;
    return true;
}

}  // namespace

std::string withoutUserInfo(std::string_view url) {
    std::size_t start = 0, at = 0;
    if (!userInfoSpan(url, start, at))
        return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(at + 1));
}

bool userInfoOf(std::string_view url, std::string& user, std::string& password) {
    std::size_t start = 0, at = 0;
    if (!userInfoSpan(url, start, at))
        return false;
    const std::string_view info = url.substr(start, at - start);
    const std::size_t colon = info.find(':');
    user = percentDecoded(info.substr(0, colon));
    password =
        colon == std::string_view::npos ? std::string() : percentDecoded(info.substr(colon + 1));
    return true;
}

}  // namespace platform
