#pragma once

#include <atomic>
#include <memory>

#include "control/buffers/StopOrder.h"
#include "control/download/CacheStore.h"
#include "control/download/HttpThreadParams.h"
#include "control/run/MainProcess.h"
#include "platform/Event.h"
#include "platform/Worker.h"

namespace picvox {

// The download thread of one pass and what it owns. The main process thread reads `params`
// (result, detailText) only after the thread has ended. The worker is the last member, so it is
// stopped and joined before anything it uses goes away.
struct HttpThreadContext {
    HttpThreadParams params;
    StopOrder stopOrder;  // the thread's own stop order; every wait and fetch of it ends on it
    // Ends the thread after its pass under way (the saved sound is complete: that pass's picture
    // still belongs to the recording); it never cuts a fetch.
    std::atomic<bool> finishOrder{false};
    platform::Event playerReady{platform::Event::Reset::Auto};
    platform::Event soundQueued{platform::Event::Reset::Auto};
    platform::Event receiving{platform::Event::Reset::Auto};
    // The sound loop's verdict on the pass (a download failure when the ring ran dry in a save
    // run), kept apart from `params.progress.result`, which only the download thread writes while
    // it runs.
    std::atomic<SaveResult> soundLoopResult{SaveResult::None};
    // Where the URLs are read before each fetch; null: the ones in `params` stay.
    RunControl* control = nullptr;
    bool firstWaveIsInit = true;
    std::unique_ptr<CacheStore> store;
    platform::Worker worker;

    // The run's result once the thread has ended.
    SaveResult resultCode() const;
};

// Reads the URLs and the base location from the control into the record.
void RefreshUrls(HttpThreadContext& context);

// The thread entry: the play loop, or the save-only loop for picture-only saving and the
// recorded-stretch download. Returns 0.
int HttpThreadProc(HttpThreadContext& context);

// What the main process thread hands the download thread of a pass.
struct HttpThreadInput {
    RunShared shared;  // the pass's buffers and the run's flags; the events are the context's
    SaveTarget save;   // the run folder and how frames are saved
    RecorderAccess* access = nullptr;  // the run's logins and trusted certificates
};

// The fetch settings of a run, as Start copied them.
FetchSettings FetchSettingsOf(const MainThreadParams& params);

// Starts the download thread; in a save with sound, waits until the player exists (or the end
// is ordered, or 2 x CacheTime passes while no sound is coming in). Null on failure.
std::unique_ptr<HttpThreadContext> StartHttpThread(const HttpThreadInput& input,
                                                   MainThreadParams& params);
// Orders the download thread to end and waits for it.
void StopHttpThread(HttpThreadContext& context);

}  // namespace picvox
