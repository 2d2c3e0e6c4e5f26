#pragma once

// One hosted control and its runs: the properties set before Start, Start and Stop on the page
// thread, and the rules by which a run started from the command line ends.

#include <QObject>
#include <QTimer>

#include <string>
#include <vector>

#include "tools/host/ControlHandle.h"
#include "tools/host/HostOptions.h"
#include "tools/host/HostSite.h"

namespace picvoxhost {

class HostSession : public QObject {
    Q_OBJECT
public:
    // Exit statuses.
    static constexpr int kEndedClean = 0;
    static constexpr int kEndedWithMessage = 1;
    static constexpr int kUsageError = 2;

    // `control` and `site` outlive the session; the site is attached to the control here.
    HostSession(ControlHandle& control, HostSite& site, QObject* parent = nullptr);
    ~HostSession() override;

    // Sets each property in order. Empty when all were set, else the usage error naming the
    // property or value.
    std::string applySettings(const std::vector<PropertySetting>& settings);
    // Start. With `watchEnd` the session ends itself (finished()) when the control reports the
    // end of the run (SaveComplete 1).
    void start(bool watchEnd);
    // Stop, with the page marked blocked meanwhile.
    void stop();
    // Ends the run after `seconds` (0: never).
    void setRunSeconds(int seconds);
    // Stop, then finished(exitStatus()). Safe to call more than once; only the first counts.
    void finish();

    bool running() const { return started_; }
    // 0 when every box shown was complete_msg (or none was shown), 1 otherwise.
    int exitStatus();
    // The run folder of a save run that has ended (destination after the run) when that folder
    // is on disk, else empty.
    const std::string& savedFolder() const { return savedFolder_; }

signals:
    void finished(int status);
    // Emitted before Stop when the run ends, while the control's area still shows it.
    void ending();

private:
    void poll();

    ControlHandle& control_;
    HostSite& site_;
    QTimer endPoll_;
    QTimer runLimit_;
    bool started_ = false;
    bool watchEnd_ = false;
    bool finishing_ = false;
    bool saveMode_ = false;
    std::string destinationAtStart_;
    std::string savedFolder_;
};

// The usage error for a --set that the control refused, or empty.
std::string settingError(ControlHandle::SetResult result, const PropertySetting& setting);

}  // namespace picvoxhost
