#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control/download/HttpThreadParams.h"
#include "control/download/OutputFile.h"
#include "control/download/RecorderAccess.h"
#include "platform/net/HttpConnection.h"
#include "platform/net/HttpFile.h"
#include "platform/net/InternetSession.h"

namespace picvox {

// Largest frame and sound segment accepted, far above what a recorder sends (a 720 x 248 frame is
// some 30 KB, a segment a few seconds of PCM: 48 kHz stereo 16-bit is 192 KB a second). A larger
// body is a failed fetch; with 99 slots of each, the cache stays bounded.
inline constexpr long long kMaxPictureBytes = 4ll * 1024 * 1024;
inline constexpr long long kMaxSegmentBytes = 8ll * 1024 * 1024;
// Largest whole file (sound file or INF file of a recorded stretch) that DownloadFile accepts.
inline constexpr long long kMaxDownloadBytes = 2ll * 1024 * 1024 * 1024;
// Shortest time one attempt of a retry loop takes: an instant refusal is retried after this
// pause (which the stop order ends at once), not in a tight loop against the recorder.
inline constexpr int kMinAttemptMs = 100;

// Joins a base and a relative URL; a slash on both sides is kept once. Nothing else changes.
std::string ComposeUrl(const std::string& base, const std::string& relative);
// The file name of a URL: the text after the last '/' of its object path (of the whole string
// when it is not an absolute URL). No value when it cannot be made.
std::optional<std::string> MakeLocalName(const std::string& url);
// "<cache folder>/<name without extension><n><.extension>"; empty when no cache folder can be
// chosen.
std::string MakeTempName(const std::string& url, int n);
// The same with `tag` after the number ("<folder>/live12-p4242r3.wav"): the temporary files of a
// download thread whose tag no other thread has, in this process or another (NewTempTag), so
// that two controls streaming at once (two pages, two hosts) never write into each other's.
std::string MakeTempName(const std::string& url, int n, const std::string& tag);
std::string NewTempTag();

void SetSessionTimeouts(platform::InternetSession& session, int timeMs);
// A connection for an http or https URL (none for any other scheme or a URL that does not
// parse); `objectOut` receives the object path.
std::unique_ptr<platform::HttpConnection> ConnectForUrl(platform::InternetSession& session,
                                                        const std::string& url,
                                                        std::string& objectOut);
// What one OpenHttpFile came to besides its file.
struct RequestReport {
    int status = 0;             // every status the recorder answered with; 0 when none came
    bool accessDenied = false;  // the run's access to the recorder is refused (see `access`)
};
// Sends a GET for `url` that bypasses every cache, with "Accept: */*" and "User-Agent: Picvox".
// Returns the file when the status is a success (2xx); otherwise none, the connection closed and
// `connectionOut` cleared, and with `statusOut` the status is stored there. Redirects are not
// followed: a 3xx answer is a failure like a 500.
// With `access`, a certificate nothing vouches for and a 401 are answered as the run's access
// says (asking the page when it must) and the request made again; once the access is refused
// no request is sent at all. Without it they fail like any other answer. Log lines show the URL
// without its user information; the login that information holds is used on a 401.
std::unique_ptr<platform::HttpFile> OpenHttpFile(
    const std::string& url, std::unique_ptr<platform::HttpConnection>& connectionOut,
    int* statusOut, platform::InternetSession& session, RequestReport* report = nullptr,
    RecorderAccess* access = nullptr);
std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path);

// What one fetch of a picture came to.
enum class ImageFetch {
    Failed = 0,    // nothing usable arrived; the temporary file is gone
    Whole = 1,     // the picture is in the temporary file
    Stopped = -1,  // the stop order ended the fetch
    GivenUp = 2,   // abandoned so that the sound keeps flowing; a picture less, not a failure
};

// The whole files of a recorded stretch.
enum class DownloadKind { Sound = 0, Index = 1 };

// One frame of ImageFileURL into `tempName`: Whole only for a JPEG 2000 frame (an answer that is
// none is a failed attempt; the file is then deleted). The run's result is left to the caller,
// which may try again. `timeOut` receives the calendar time the answer arrived.
ImageFetch GetImgFile(const std::string& tempName, HttpThreadParams& params, bool firstImage,
                      std::int64_t* timeOut, int* statusOut, int shortfallMs);
// One sound segment into `tempName`, retried until data arrives or the stop order is seen, then
// handed to the sound cache. 1 received and cached, 0 failed or stopping.
int GetWaveFile(const std::string& tempName, int soundSlot, int* playSlot, int pictureSlot,
                HttpThreadParams& params, bool* firstFlag, int shortfallMs);
// A whole file of the recorded stretch into `localPath`: 1 success, 0 failure.
int DownloadFile(DownloadKind kind, const std::string& localPath, HttpThreadParams& params);

}  // namespace picvox
