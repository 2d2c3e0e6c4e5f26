#include "platform/audio/AlsaMessages.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

// Long enough for any line ALSA writes; a longer one is cut, never overrun.
constexpr std::size_t kMessageBytes = 256;

// Per thread: the reason belongs to the open that failed on this thread, not to whatever a
// hot-plug thread of the sound library probed meanwhile.
thread_local char lastMessage[kMessageBytes] = {};

void keepAlsaMessage(const char* file, int line, const char* function, int err, const char* fmt,
                     ...) {
    (void)file;
    (void)line;
    (void)function;
    if (fmt == nullptr)
        return;
    char text[kMessageBytes];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    if (n < 0)
        return;
    if (err != 0) {
        const std::size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, ": %s", snd_strerror(err));
    }
    std::memcpy(lastMessage, text, sizeof text);
}

}  // namespace

void routeAlsaMessages() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&keepAlsaMessage); });
}

std::string lastAlsaMessage() {
    return std::string(lastMessage, strnlen(lastMessage, sizeof lastMessage));
}

void clearAlsaMessage() {
    lastMessage[0] = '\0';
}

}  // namespace platform
