#pragma once

#include <sys/types.h>

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

// Starts `program` as runProgram does, without waiting: its standard output goes to `outPath`,
// its standard error to `errPath` (the same file when they are equal). The child's pid, or -1.
pid_t startProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv, const std::string& outPath,
                   const std::string& errPath);

// A program path the build hands to the test in the environment variable `name` ("" when unset).
std::string programFromEnv(const char* name);

}  // namespace korvex::test
