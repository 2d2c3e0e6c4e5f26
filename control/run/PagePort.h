#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "control/download/RecorderAccess.h"
#include "control/run/Surface.h"

namespace picvox::run {

enum class MessageIcon { None, Warning, Information };

// What the run engine needs of the page that hosts the control: its window, repaints, timers,
// message boxes, the page's INPUT elements and the folder chooser. The control object implements
// it over the host's site; tests use fakes. Every method may be called from any of the control's
// threads and does nothing by default. The two questions of a recorder behind a login or with a
// certificate of its own (AccessQuestions) come from the download thread and may block it until
// the user answers; Stop still ends the run, as the host gives up a question while Stop waits.
class PagePort : public AccessQuestions {
public:
    virtual ~PagePort() = default;

    // The control's window as the host names it; 0 until the first paint stored it.
    virtual std::uint64_t window() const { return 0; }
    // The control's area as of the last paint (0 x 0 before it).
    virtual Rect clientRect() const { return {}; }
    // Schedules a repaint of `rect` without erasing; never paints on the caller's thread.
    virtual void invalidateRect(const Rect&) {}
    // Periodic timers that fire on the page's thread (the page counter's 100, 101, 102).
    virtual void setTimer(std::uint32_t /*id*/, std::uint32_t /*periodMs*/) {}
    virtual void killTimer(std::uint32_t /*id*/) {}
    // Blocks the caller until the user closes the box. An empty caption is the host's default.
    virtual void messageBox(std::string_view /*caption*/, std::string_view /*text*/, MessageIcon) {}
    // Replaces the page element whose NAME is `name` by `outerHtml`; false when there is none.
    virtual bool replaceElementByInput(std::string_view /*name*/, std::string_view /*outerHtml*/) {
        return false;
    }
    // One line of status for the user (empty: none); never blocks. See IPicvoxStatusSite.
    virtual void statusText(std::string_view /*text*/) {}
    // Blocks until the user picks a folder (its path) or cancels (nothing). `startFolder` is
    // preselected when not empty.
    virtual std::optional<std::string> chooseFolder(const std::string& /*startFolder*/) {
        return std::nullopt;
    }
};

}  // namespace picvox::run
