#pragma once

#include <functional>
#include <string>

namespace korvex::test {

// The scratch home of this test run (HOME and XDG_CONFIG_HOME point into it).
const std::string& scratchHome();

// A fresh folder under the scratch home for one test.
std::string freshFolder(const std::string& name);

// Objects a test program needs beside the QApplication: `up` runs once the application exists,
// `down` before it goes. Call during static initialisation (before the tests run).
bool atQtStart(std::function<void()> up, std::function<void()> down);

}  // namespace korvex::test
