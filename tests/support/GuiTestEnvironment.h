#pragma once

#include <string>

namespace korvex::test {

// The scratch home of this test run (HOME and XDG_CONFIG_HOME point into it).
const std::string& scratchHome();

// A fresh folder under the scratch home for one test.
std::string freshFolder(const std::string& name);

}  // namespace korvex::test
