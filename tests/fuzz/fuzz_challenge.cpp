// A recorder's answers to a login: the WWW-Authenticate challenges, an Authorization header's
// parameters and URLs with user information, on arbitrary bytes. The first byte picks the parser.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/net/HttpChallenge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
        case 0: {
            // Split at NUL bytes into several header values.
            std::vector<std::string> values(1);
            for (char c : text) {
                if (c == '\0')
                    values.emplace_back();
                else
                    values.back() += c;
            }
            const auto challenges = platform::parseChallenges(values);
            if (challenges.size() > platform::kMaxChallenges * values.size())
                __builtin_trap();
            for (const auto& c : challenges) {
                if (c.scheme.empty() || c.params.size() > platform::kMaxAuthParams)
                    __builtin_trap();
            }
            break;
        }
        case 1:
            if (platform::parseAuthParams(text).size() > platform::kMaxAuthParams)
                __builtin_trap();
            break;
        default: {
            std::string user, password;
            const bool has = platform::userInfoOf(text, user, password);
            const std::string shown = platform::withoutUserInfo(text);
            // User information is found exactly when some is taken away.
            if (has == (shown == text))
                __builtin_trap();
            break;
        }
    }
    return 0;
}
