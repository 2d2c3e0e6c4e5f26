#include "platform/TimeZone.h"

#include <cstdlib>
#include <ctime>

namespace platform {

void fixProcessTimeZone() {
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
}

}  // namespace platform
