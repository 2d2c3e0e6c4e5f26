#pragma once

// The per-user store moved to platform/UserStore.h: it is no COM service, and the viewer reads it
// without linking the COM layer. This name stays until the control and the host include the new
// header.
#include "platform/UserStore.h"

namespace platform::com {
using UserStore = platform::UserStore;
}  // namespace platform::com
