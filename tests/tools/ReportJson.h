#pragma once

// The verifier's JSON report read back with a strict parser: anything that is not valid JSON
// (raw controls, bytes outside UTF-8, a cut document) throws, and object keys keep the order the
// report wrote them in, which is part of its contract.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace toolstest {

using Json = nlohmann::ordered_json;

inline std::vector<std::string> keysOf(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    return keys;
}

}  // namespace toolstest
