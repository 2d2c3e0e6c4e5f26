#include "control/buffers/DecodeJ2KFile.h"

#include <new>

#include "recording/ImageDecoder.h"

namespace picvox {

platform::GlobalBlock DecodeJ2KFile(const std::string& path) {
    // The download thread must not die of a memory shortage: it drops the picture instead.
    try {
        return korvex::decodeJ2kFileToBmp(path);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace picvox
