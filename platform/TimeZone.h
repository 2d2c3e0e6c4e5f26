#pragma once

namespace platform {

// The recorders keep Japanese wall-clock time. Every program of the system fixes its process time
// zone to UTC+9 before it converts a capture time, so results never depend on the machine's zone.
void fixProcessTimeZone();

}  // namespace platform
