#include "platform/net/InternetUrl.h"

#include <cctype>

namespace platform {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool parsePort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool parseUrl(std::string_view url, ParsedUrl& out) {
    out = ParsedUrl{};
    for (unsigned char c : url) {
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0)
        return false;
    const std::string scheme = lower(url.substr(0, schemeEnd));
    for (char c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    std::uint16_t defaultPort = 0;
    if (scheme == "http") {
        out.service = InternetService::Http;
        defaultPort = 80;
    } else if (scheme == "https") {
        out.service = InternetService::Https;
        defaultPort = 443;
    } else if (scheme == "ftp") {
        out.service = InternetService::Ftp;
        defaultPort = 21;
    } else if (scheme == "file") {
        out.service = InternetService::File;
    } else {
        out.service = InternetService::Other;
    }

    std::string_view rest = url.substr(schemeEnd + 3);
    const auto objectStart = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, objectStart);
    std::string_view object =
        objectStart == std::string_view::npos ? std::string_view() : rest.substr(objectStart);
    if (out.service == InternetService::File) {
        // "file:///folder/name": no host, the object is the path.
        out.object = object.empty() ? "/" : std::string(object);
        out.server = std::string(authority);
        return true;
    }

    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority = authority.substr(at + 1);
    }
    std::string_view host;
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        host = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return false;
            portText = after.substr(1);
        }
    } else {
        const auto colon = authority.rfind(':');
        host = authority.substr(0, colon);
        if (colon != std::string_view::npos)
            portText = authority.substr(colon + 1);
    }
    if (host.empty())
        return false;
    for (char c : host) {
        if (c == ' ' || c == '/' || c == '\\')
            return false;
    }
    out.port = defaultPort;
    if (!portText.empty() && !parsePort(portText, out.port))
        return false;
    out.server = std::string(host);
    if (object.empty()) {
        out.object = "/";
    } else if (object.front() != '/') {
        out.object = "/" + std::string(object);
    } else {
        out.object = std::string(object);
    }
    return true;
}

}  // namespace platform
