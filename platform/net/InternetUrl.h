#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class InternetService { Unknown, Http, Https, Ftp, File, Other };

struct ParsedUrl {
    InternetService service = InternetService::Unknown;
    std::string server;  // host name; IPv6 literals without their brackets
    std::string object;  // path and query as written, "/" when the URL has none
    std::uint16_t port = 0;
};

// Splits an absolute URL "scheme://[user[:password]@]host[:port][/object]". Relative URLs,
// URLs without a host, with a bad port or with control characters give false.
bool parseUrl(std::string_view url, ParsedUrl& out);

}  // namespace platform
