#pragma once

// The host's tests still take these names from here; the helpers themselves live in
// tests/support (korvex::testsupport).

#include <filesystem>

#include "tests/support/Files.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace toolstest {

namespace fs = std::filesystem;
using korvex::test::programFromEnv;
using korvex::test::readText;
using korvex::test::runProgram;
using korvex::test::RunResult;
using korvex::test::TempDir;

}  // namespace toolstest
