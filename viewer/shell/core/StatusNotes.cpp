#include "viewer/shell/core/StatusNotes.h"

namespace korvex {

std::string openOutcomeText(Language language, OpenOutcome outcome, const std::string& folder) {
    int id = 0;
    switch (outcome) {
        case OpenOutcome::Opened:
        case OpenOutcome::Cancelled:
            return {};
        case OpenOutcome::Unreadable:
            id = textid::openUnreadable;
            break;
        case OpenOutcome::NotARecording:
            id = textid::openNotARecording;
            break;
        case OpenOutcome::NoFrames:
            id = textid::openNoFrames;
            break;
        case OpenOutcome::NoFramesInSubfolders:
            id = textid::openNoFramesInSubfolders;
            break;
    }
    return formatText(loadString(language, id), {folder});
}

std::string soundNotHeardText(Language language) {
    return loadString(language, textid::soundNotHeard);
}

std::string savedText(Language language, const std::string& path) {
    return formatText(loadString(language, textid::savedTo), {path});
}

std::string printedText(Language language, const std::string& jobName,
                        const std::string& destination) {
    return formatText(loadString(language, textid::printJobSent), {jobName, destination});
}

}  // namespace korvex
