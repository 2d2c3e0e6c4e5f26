#pragma once

#include <optional>
#include <string>

namespace korvex::test {

// Sets an environment variable, or unsets it (nullptr, std::nullopt), for the life of the object
// and then puts back what was there before.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ScopedEnv(std::string name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace korvex::test
