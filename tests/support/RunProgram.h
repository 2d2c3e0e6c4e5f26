#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvex::test {

struct RunResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` (no shell) and waits for it; its output is captured in files of
// `scratch`. `extraEnv` entries ("K=V") are added to, or replace those of, this process's
// environment; an entry "K" without "=" removes K.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& scratch,
                     const std::vector<std::string>& extraEnv = {});

// A program path the build hands to the test in the environment variable `name` ("" when unset).
std::string programFromEnv(const char* name);

}  // namespace korvex::test
