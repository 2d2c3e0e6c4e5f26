// dvrsim: a simulated recorder's web server on loopback, for demos and tests of the control.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/dvrsim/DvrSim.h"
#include "tools/dvrsim/SimArguments.h"

int main(int argc, char** argv) {
    const korvex::sim::SimArguments parsed = korvex::sim::parseSimArguments(
        std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (parsed.help) {
        std::fputs(korvex::sim::simUsage(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "dvrsim: %s\n(see dvrsim --help)\n", parsed.error.c_str());
        return 2;
    }

    // The signals are taken by this thread alone (sigwait below); every server thread inherits
    // the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    korvex::sim::DvrSim sim(parsed.options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "dvrsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("dvrsim listening on %s\n%s", sim.baseUrl().c_str(), sim.describe().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    std::printf("dvrsim: stopping (signal %d)\n", received);
    sim.stop();
    return 0;
}
