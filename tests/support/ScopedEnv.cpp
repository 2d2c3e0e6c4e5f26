#include "tests/support/ScopedEnv.h"

#include <cstdlib>
#include <utility>

namespace korvex::test {

namespace {

void put(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

}  // namespace

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str()))
        old_ = old;
    put(name_, value);
}

ScopedEnv::ScopedEnv(std::string name, const char* value)
    : ScopedEnv(std::move(name), value != nullptr ? std::optional<std::string>(value)
                                                  : std::optional<std::string>()) {}

ScopedEnv::~ScopedEnv() {
    put(name_, old_);
}

}  // namespace korvex::test
