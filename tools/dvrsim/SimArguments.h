#pragma once

// The command line of dvrsim, parsed into the simulator's options without starting anything.

#include <string>
#include <vector>

#include "tools/dvrsim/DvrSim.h"

namespace korvex::sim {

struct SimArguments {
    DvrSimOptions options;
    bool help = false;
    std::string error;  // not empty: a usage error, naming what is wrong
};

// `args` without the program's name. Options apply in the order given: a later one overrides
// what an earlier one set.
SimArguments parseSimArguments(const std::vector<std::string>& args);

// The --help text.
const char* simUsage();

}  // namespace korvex::sim
