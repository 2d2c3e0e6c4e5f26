#pragma once

// The parts of HTTP authentication that are ours to read: the challenges of a 401 answer
// (WWW-Authenticate) and the auth-param lists of the Authorization header our test recorder
// checks. Everything here comes from the other side of the connection and is bounded.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct HttpChallenge {
    std::string scheme;                         // lower case: "basic", "digest", ...
    std::map<std::string, std::string> params;  // names lower case, values unquoted
    std::string realm() const;
};

// Longest header value read and most challenges or parameters kept; the rest is ignored.
inline constexpr std::size_t kMaxChallengeBytes = 8192;
inline constexpr std::size_t kMaxChallenges = 16;
inline constexpr std::size_t kMaxAuthParams = 32;

// Every challenge of the given WWW-Authenticate values (one header may hold several:
// `Digest realm="a, b", nonce="x", Basic realm="c"`). A malformed value ends the list there.
std::vector<HttpChallenge> parseChallenges(const std::vector<std::string>& values);
// `name=value, name="quoted value"` as one challenge's or credential's parameters.
std::map<std::string, std::string> parseAuthParams(std::string_view text);

// Percent-decodes `text`; a bad escape stays as it is.
std::string percentDecoded(std::string_view text);

// The URL without its "user[:password]@" part (a text that is no URL is left as it is): what
// log lines show of a URL.
std::string withoutUserInfo(std::string_view url);
// The user and password an absolute URL carries before its host, percent-decoded. False when it
// carries none.
bool userInfoOf(std::string_view url, std::string& user, std::string& password);

}  // namespace platform
