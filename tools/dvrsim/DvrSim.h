#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tools/dvrsim/SimContent.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace korvex::sim {

// Faults the simulator puts into its answers, for the requests whose path equals `path` (every
// request when it is empty). Applied in this order: latency, a 404 storm, empty answers, an error
// status, a redirect, a sound answer that is not WAV, then the body: a partial sample block,
// padding and its shape. Counts of "N or all" faults: 0 none, N the next N requests the fault
// applies to, -1 every one.
struct Faults {
    int latencyMs = 0;      // wait before answering
    int notFoundStorm = 0;  // the next N requests answer 404
    int emptyAnswers = 0;   // the next N requests answer 200 with an empty body
    int errorStatus = 0;    // answer with this status instead (0: none) ...
    int errorCount = -1;    // ... for this many requests (-1: all of them)
    // Answer this 3xx status with a Location header and a short HTML body instead (0: none) ...
    int redirectStatus = 0;
    int redirectCount = -1;  // ... for this many requests (-1: all of them) ...
    // ... sending the client here (empty: the simulator's login page, kLoginPath, which answers
    // without faults).
    std::string redirectLocation;
    // Sound answers (live, initial and recorded sound): 200 with a text/html page, as a recorder
    // whose web server shows an error or login page in place of the sound. N or all.
    int notWaveAnswers = 0;
    // Live and initial sound answers whose data chunk ends with half a sample block more than
    // its whole blocks (a 16-bit stereo clip of 4n + 2 bytes); the next answer still begins on
    // the next whole block. Has no effect on 8-bit mono, whose blocks are single bytes. N or all.
    int partialBlockAnswers = 0;
    // Bodies followed by zero bytes up to this size (a WAV's chunk sizes and a frame's trailer
    // stay as they are), to test a client's body limits (-1: none). At most kMaxPadBytes.
    long long padToBytes = -1;
    int padCount = -1;               // ... the next N bodies (-1: all)
    long long cutAfterBytes = -1;    // announce the whole body, send this many bytes, hang up
    long long stallAfterBytes = -1;  // send this many bytes, then fall silent ...
    int stallMs = 0;                 // ... for this long (0: until the simulator stops)
    int dripMs = 0;                  // send the body one byte at a time, this far apart
    int shapeCount = -1;             // bodies cut, stalled or dripped: the next N (-1: all)
    std::string path;

    static constexpr long long kMaxPadBytes = 4ll * 1024 * 1024 * 1024;
};

// The live sound changes its format once, as a recorder's does when its audio settings change.
struct FormatSwitch {
    // The first `afterSegments` live sound segments the simulator answers (initial and live
    // together) come in the content's format, every later one in `format`; an answer never
    // holds both, it ends at the switch.
    int afterSegments = 0;
    SoundFormat format;
};

// HTTPS instead of HTTP: the server's certificate and private key, PEM files.
struct SimTls {
    std::string certificateFile;
    std::string keyFile;
};

// A recorder behind a login: every request must carry it, or is answered 401 with the
// challenge of `kind`.
enum class SimLoginKind { None, Basic, Digest };
struct SimLogin {
    SimLoginKind kind = SimLoginKind::None;
    std::string user;
    std::string password;
    std::string realm = "dvrsim";
};

struct DvrSimOptions {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::optional<SimTls> tls;
    SimLogin login;
    ContentOptions content;
    int segmentMs = 1000;      // length of one live sound segment
    int backlogSegments = 30;  // how far back the recorder keeps its live sound
    // How far the recorder's sound clock runs ahead of the wall clock, in per cent (negative:
    // behind): a segment of segmentMs is recorded every segmentMs * 100 / (100 + percent) ms.
    double soundClockPercent = 0.0;
    // The live stream ends after this many sound segments (0: never): later live sound and
    // pictures answer 404, as a recorder that stopped streaming.
    int liveSegmentLimit = 0;
    // A live sound answer carries every segment recorded since the previous answer (at most
    // `backlogSegments`), not only the next one: a client polling every two seconds gets two
    // seconds of sound each time.
    bool soundSinceLastRequest = true;
    // The recorder has been recording this long when the simulator starts, so its first sound
    // segments are there at once.
    int prerollMs = 0;
    std::optional<FormatSwitch> formatSwitch;
    Faults faults;
};

// A recorder's web server as the control sees it, on loopback:
//   kLiveImagePath       the newest JPEG 2000 frame, with a fresh trailer (capture time now,
//                        offset on the live sound clock)
//   kLiveSoundPath       the live sound since the previous request (WAV, whole segments of
//                        `segmentMs` of PCM, at least one), continuing where the previous
//                        answer ended and following the wall clock: a segment is answered
//                        once it has been "recorded"
//   kInitSoundPath       the newest complete segment; the live sound continues after it
//   kRecordImagePath?dlimg=N   frame N of a recorded stretch (404 after the last)
//   kRecordSoundPath     the whole sound file of that stretch
//   kRecordInfoPath      its INF file
//   kLoginPath           an HTML login page, where redirects point by default
//   "/"                  a text page listing these
// Tests start it on port 0, read port(), and stop it; the destructor stops it too.
class DvrSim {
public:
    static constexpr const char* kLiveImagePath = "/dvr/live.jp2";
    static constexpr const char* kLiveSoundPath = "/dvr/live.wav";
    static constexpr const char* kInitSoundPath = "/dvr/live_init.wav";
    static constexpr const char* kRecordImagePath = "/dvr/record.jp2";
    static constexpr const char* kRecordSoundPath = "/dvr/record.wav";
    static constexpr const char* kRecordInfoPath = "/dvr/record.inf";
    static constexpr const char* kLoginPath = "/login.html";

    explicit DvrSim(DvrSimOptions options = {});
    ~DvrSim();
    DvrSim(const DvrSim&) = delete;
    DvrSim& operator=(const DvrSim&) = delete;

    // Loads the content, binds and starts serving. False, with a reason, when it cannot.
    bool start(std::string* error = nullptr);
    // Ends every wait of the handlers, stops the server and joins its threads.
    void stop();

    int port() const { return port_; }
    // "http://127.0.0.1:<port>/" ("https://" with TLS)
    std::string baseUrl() const;
    // Requests answered 401 because they carried no login or a wrong one.
    int refusedLogins() const;

    void setFaults(const Faults& faults);
    // A fixed resource (tests): `path` answers `body` with `contentType`.
    void addResource(const std::string& path, std::string body,
                     const std::string& contentType = "application/octet-stream");
    // Requests seen for `path` (faulted ones included).
    int requestCount(const std::string& path) const;
    // Waits until `path` has seen at least `count` requests; false after `timeoutMs`.
    bool waitForRequests(const std::string& path, int count, int timeoutMs) const;
    // A header of the latest request for `path`; empty when absent.
    std::string lastRequestHeader(const std::string& path, const std::string& name) const;
    // The text of the index page.
    std::string describe() const;

private:
    // What the faults make of one answer's body.
    struct Shape {
        long long cutAfterBytes = -1;
        long long stallAfterBytes = -1;
        int stallMs = 0;
        int dripMs = 0;
        long long padToBytes = -1;
        bool partialBlock = false;  // sound only
    };
    enum class Route { Other, Sound, RecordedSound };

    void installRoutes();
    // Whether the request carries the login; otherwise `res` is the 401 with a challenge.
    bool loginAccepted(const httplib::Request& req, httplib::Response& res);
    // Applies the faults that answer in place of the resource (latency, storm, empty, error,
    // redirect, not WAV on sound routes); true when the request has been answered. Otherwise
    // `shape` says what to do to the body.
    bool answerFaults(const httplib::Request& req, httplib::Response& res, Shape& shape,
                      Route route = Route::Other);
    void sendBody(httplib::Response& res, std::shared_ptr<const std::string> body,
                  const std::string& contentType, const Shape& shape);
    // Waits up to `ms` (or until stop); true when stopping.
    bool waitOrStop(int ms);
    void serveLiveImage(const httplib::Request& req, httplib::Response& res);
    void serveSound(const httplib::Request& req, httplib::Response& res, bool initial);
    void serveRecordImage(const httplib::Request& req, httplib::Response& res);
    std::int64_t elapsedMs() const;
    // Wall-clock milliseconds after the start at which `soundMs` of sound has been recorded.
    std::int64_t wallMsForSound(std::int64_t soundMs) const;
    bool liveEnded() const;  // with lock_ held

    DvrSimOptions options_;
    SimContent content_;
    std::unique_ptr<httplib::Server> server_;
    std::thread listener_;
    int port_ = 0;
    std::chrono::steady_clock::time_point startTime_{};

    mutable std::mutex lock_;  // guards everything below
    mutable std::condition_variable wake_;
    bool stopping_ = false;
    bool listenerDone_ = true;
    Faults faults_;
    std::uint64_t nextSegment_ = 0;
    std::uint64_t servedSegments_ = 0;  // live sound segments answered, for the format switch
    std::map<std::string, std::pair<std::string, std::string>> resources_;
    std::map<std::string, int> requestCounts_;
    std::deque<std::string> nonces_;  // the Digest nonces handed out, newest last
    int refusedLogins_ = 0;
    std::map<std::string, std::multimap<std::string, std::string>> lastHeaders_;
};

// The frame number of a "dlimg=N" query anywhere after the first '?' of a request target (the
// control appends it even to a URL that has a query already); -1 when there is none.
int dlimgNumber(const std::string& target);

}  // namespace korvex::sim
