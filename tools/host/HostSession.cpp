#include "tools/host/HostSession.h"

#include <filesystem>

namespace picvoxhost {

namespace {

constexpr int kEndPollMs = 100;

bool isCompleteMessage(const std::string& text, const std::string& complete) {
    // A save message may carry the last frame's capture time on a line of its own.
    return text == complete || text.rfind(complete + "\n", 0) == 0;
}

}  // namespace

std::string settingError(ControlHandle::SetResult result, const PropertySetting& setting) {
    switch (result) {
        case ControlHandle::SetResult::Done:
            return {};
        case ControlHandle::SetResult::NotAProperty:
            return "not a property of the control: " + setting.name;
        case ControlHandle::SetResult::NotANumber:
            return "property " + setting.name + " needs a number, not: " + setting.value;
        case ControlHandle::SetResult::Refused:
            break;
    }
    return "the control refused " + setting.name + "=" + setting.value;
}

HostSession::HostSession(ControlHandle& control, HostSite& site, QObject* parent)
    : QObject(parent), control_(control), site_(site) {
    site_.attach(control_.hosted());
    control_.hosted()->SetClientSite(static_cast<picvox::IPicvoxSite*>(&site_));
    endPoll_.setInterval(kEndPollMs);
    connect(&endPoll_, &QTimer::timeout, this, &HostSession::poll);
    runLimit_.setSingleShot(true);
    connect(&runLimit_, &QTimer::timeout, this, &HostSession::finish);
}

HostSession::~HostSession() {
    stop();
    // The control lets go of the page; no timer of the page may fire into it afterwards.
    control_.hosted()->SetClientSite(nullptr);
    site_.attach(nullptr);
}

std::string HostSession::applySettings(const std::vector<PropertySetting>& settings) {
    for (const PropertySetting& s : settings) {
        const std::string error = settingError(control_.setProperty(s.name, s.value), s);
        if (!error.empty())
            return error;
    }
    return {};
}

void HostSession::start(bool watchEnd) {
    // The page's INPUT elements are the ones the control is told to fill.
    site_.setPageElements({control_.textProperty("counter"), control_.textProperty("inputname")});
    saveMode_ = control_.intProperty("hdd_save") != 0;
    destinationAtStart_ = control_.textProperty("destination");
    savedFolder_.clear();
    watchEnd_ = watchEnd;
    started_ = true;
    control_.start();
    if (watchEnd_)
        endPoll_.start();
}

void HostSession::stop() {
    endPoll_.stop();
    if (!started_)
        return;
    site_.setPageBlocked(true);
    control_.stop();
    site_.setPageBlocked(false);
    started_ = false;
    if (saveMode_) {
        const std::string destination = control_.textProperty("destination");
        // A save run leaves its run folder's path in destination; a failed or stopped one may
        // have removed the folder again, and a folder that is not there was not saved.
        std::error_code ec;
        if (destination != destinationAtStart_ && std::filesystem::is_directory(destination, ec))
            savedFolder_ = destination;
    }
}

void HostSession::setRunSeconds(int seconds) {
    if (seconds > 0)
        runLimit_.start(seconds * 1000);
    else
        runLimit_.stop();
}

void HostSession::poll() {
    if (started_ && control_.intProperty("SaveComplete") == 1)
        finish();
}

void HostSession::finish() {
    if (finishing_)
        return;
    finishing_ = true;
    runLimit_.stop();
    emit ending();
    stop();
    emit finished(exitStatus());
}

int HostSession::exitStatus() {
    const std::string complete = control_.textProperty("complete_msg");
    for (const std::string& text : site_.messages()) {
        if (!isCompleteMessage(text, complete))
            return kEndedWithMessage;
    }
    return kEndedClean;
}

}  // namespace picvoxhost
