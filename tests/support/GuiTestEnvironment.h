#pragma once

#include <functional>
#include <string>

namespace korvex::test {

// The scratch home of this test run (HOME, XDG_CONFIG_HOME, XDG_DATA_HOME = <home>/data and
// XDG_DATA_DIRS = <home>/system-data point into it).
const std::string& scratchHome();

// A fresh folder under the scratch home for one test.
std::string freshFolder(const std::string& name);

// Objects a test program needs beside the QApplication: `up` runs once the application exists,
// `down` before it goes. Call during static initialisation (before the tests run).
bool atQtStart(std::function<void()> up, std::function<void()> down);

}  // namespace korvex::test
