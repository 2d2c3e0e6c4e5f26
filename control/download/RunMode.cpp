#include "control/download/RunMode.h"

namespace picvox {

const char* RunKindName(RunKind kind) {
    switch (kind) {
        case RunKind::Live:
            return "live";
        case RunKind::FolderChoice:
            return "folder choice";
        case RunKind::SaveWithSound:
            return "save with sound";
        case RunKind::PictureSave:
            return "picture save";
        case RunKind::Download:
            return "download";
    }
    return "?";
}

}  // namespace picvox
