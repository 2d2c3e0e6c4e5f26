#pragma once

#include <string>

namespace platform {

// ALSA reports every failed look-up and open on stderr, many lines for one failure: on a machine
// without a sound card a single device probe prints a screenful. Once routed here, the messages
// are kept instead (the last one of each thread) so that a failure can still say why.
//
// ALSA's handler is process-wide; this is its one owner. Safe to call from any thread, any
// number of times; the first call installs the handler.
void routeAlsaMessages();
// The calling thread's last ALSA message since clearAlsaMessage(), empty when none.
std::string lastAlsaMessage();
void clearAlsaMessage();

}  // namespace platform
