#pragma once

#include <string>

namespace korvex::test {

// The scratch home of this test run (HOME and XDG_CONFIG_HOME point into it).
const std::string& scratchHome();

}  // namespace korvex::test
