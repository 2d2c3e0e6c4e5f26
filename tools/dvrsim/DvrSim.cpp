#include "tools/dvrsim/DvrSim.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "platform/Hex.h"
#include "platform/net/HttpChallenge.h"

namespace korvex::sim {

namespace {

std::string regexFor(const char* path) {
    std::string out;
    for (const char* p = path; *p; ++p) {
        if (std::strchr(".^$|()[]{}*+?\\", *p))
            out += '\\';
        out += *p;
    }
    return out;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::shared_ptr<const std::string> asBody(const Bytes& bytes) {
    return std::make_shared<const std::string>(bytes.begin(), bytes.end());
}

// A live sound answer carries at most this much sound data (at least one segment).
constexpr std::uint64_t kMaxSoundAnswerBytes = 64ull * 1024 * 1024;

// What a recorder's web server shows in place of the resource: its login form, the short body of
// a redirect, and the page it answers with 200 when something is wrong.
constexpr const char* kLoginPage =
    "<!DOCTYPE html>\n<html><head><title>DVR login</title></head><body>\n"
    "<form method=\"post\" action=\"/login.html\">User <input name=\"user\"> Password "
    "<input name=\"password\" type=\"password\"> <input type=\"submit\" value=\"Log in\">"
    "</form>\n</body></html>\n";
constexpr const char* kMovedPage = "<html><body>Moved.</body></html>\n";
constexpr const char* kNotWavePage =
    "<!DOCTYPE html>\n<html><head><title>DVR</title></head><body>\n"
    "<p>The session has expired. Please log in again.</p>\n</body></html>\n";

// A fault that holds for a count of requests (-1: all): true when it applies to this one, which
// it then uses up.
bool takeOne(int& count) {
    if (count == 0)
        return false;
    if (count > 0)
        --count;
    return true;
}

// A header value never carries a line break.
std::string oneLine(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](char c) { return c == '\r' || c == '\n' || c == '\0'; }),
               text.end());
    return text;
}

// The Digest nonces a client may still answer; older ones are forgotten.
constexpr std::size_t kKeptNonces = 256;

std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1)
        return {};
    return platform::hexOf({digest, length});
}

std::string randomHex(std::size_t bytes) {
    unsigned char buffer[32];
    bytes = std::min(bytes, sizeof buffer);
    if (RAND_bytes(buffer, static_cast<int>(bytes)) != 1)
        return {};
    return platform::hexOf({buffer, bytes});
}

// Base64 to bytes; empty for anything that is not base64.
std::string base64Decoded(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0 || text.size() > 4096)
        return {};
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0)
        return {};
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=')
        ++padding;
    out.resize(static_cast<std::size_t>(n) - padding);
    return out;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return lower(a) == lower(b);
}

}  // namespace

int dlimgNumber(const std::string& target) {
    const std::size_t query = target.find('?');
    if (query == std::string::npos)
        return -1;
    const std::string key = "dlimg=";
    std::size_t at = target.rfind(key);
    if (at == std::string::npos || at < query)
        return -1;
    // The key must start a parameter: after '?' or '&'.
    if (at == 0 || (target[at - 1] != '?' && target[at - 1] != '&'))
        return -1;
    at += key.size();
    long long value = 0;
    std::size_t digits = 0;
    while (at < target.size() && std::isdigit(static_cast<unsigned char>(target[at])) &&
           digits < 9) {
        value = value * 10 + (target[at] - '0');
        ++at;
        ++digits;
    }
    if (digits == 0 || (at < target.size() && target[at] != '&'))
        return -1;
    return static_cast<int>(value);
}

DvrSim::DvrSim(DvrSimOptions options) : options_(std::move(options)) {
    options_.segmentMs = std::clamp(options_.segmentMs, 10, 60000);
    options_.backlogSegments = std::max(options_.backlogSegments, 1);
    options_.soundClockPercent = std::clamp(options_.soundClockPercent, -50.0, 100.0);
    options_.liveSegmentLimit = std::max(options_.liveSegmentLimit, 0);
    options_.prerollMs = std::clamp(options_.prerollMs, 0, 3600000);
    if (options_.formatSwitch &&
        (!options_.formatSwitch->format.valid() || options_.formatSwitch->afterSegments < 0)) {
        options_.formatSwitch.reset();
    }
    setFaults(options_.faults);
}

DvrSim::~DvrSim() {
    stop();
}

bool DvrSim::start(std::string* error) {
    if (server_) {
        if (error)
            *error = "already started";
        return false;
    }
    if (!content_.open(options_.content, error))
        return false;
    if (options_.tls) {
        auto secure = std::make_unique<httplib::SSLServer>(options_.tls->certificateFile.c_str(),
                                                           options_.tls->keyFile.c_str());
        if (!secure->is_valid()) {
            if (error)
                *error = "cannot use the certificate " + options_.tls->certificateFile +
                         " with the key " + options_.tls->keyFile;
            return false;
        }
        server_ = std::move(secure);
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    installRoutes();
    if (options_.port > 0) {
        if (!server_->bind_to_port(options_.host, options_.port)) {
            if (error)
                *error = "cannot bind " + options_.host + ":" + std::to_string(options_.port);
            server_.reset();
            return false;
        }
        port_ = options_.port;
    } else {
        port_ = server_->bind_to_any_port(options_.host);
        if (port_ <= 0) {
            if (error)
                *error = "cannot bind " + options_.host;
            server_.reset();
            return false;
        }
    }
    startTime_ = std::chrono::steady_clock::now() - std::chrono::milliseconds(options_.prerollMs);
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = false;
        listenerDone_ = false;
        // Started again, it is a recorder started afresh: its sound clock begins anew, and so
        // does what it has answered.
        nextSegment_ = 0;
        servedSegments_ = 0;
    }
    listener_ = std::thread([this] {
        server_->listen_after_bind();
        std::lock_guard<std::mutex> guard(lock_);
        listenerDone_ = true;
        wake_.notify_all();
    });
    return true;
}

void DvrSim::stop() {
    if (!server_)
        return;
    std::unique_lock<std::mutex> guard(lock_);
    stopping_ = true;
    wake_.notify_all();
    // The server ignores a stop that comes before its accept loop runs; repeat until it ends.
    while (!listenerDone_) {
        guard.unlock();
        if (server_->is_running())
            server_->stop();
        guard.lock();
        wake_.wait_for(guard, std::chrono::milliseconds(5), [this] { return listenerDone_; });
    }
    guard.unlock();
    if (listener_.joinable())
        listener_.join();
    server_.reset();
}

std::string DvrSim::baseUrl() const {
    return (options_.tls ? "https://" : "http://") + options_.host + ":" + std::to_string(port_) +
           "/";
}

int DvrSim::refusedLogins() const {
    std::lock_guard<std::mutex> guard(lock_);
    return refusedLogins_;
}

bool DvrSim::loginAccepted(const httplib::Request& req, httplib::Response& res) {
    const SimLogin& login = options_.login;
    if (login.kind == SimLoginKind::None)
        return true;
    const std::string header = req.get_header_value("Authorization");
    const std::size_t space = header.find(' ');
    const std::string scheme = lower(header.substr(0, space));
    const std::string rest = space == std::string::npos ? std::string() : header.substr(space + 1);
    std::lock_guard<std::mutex> guard(lock_);
    bool accepted = false;
    if (login.kind == SimLoginKind::Basic && scheme == "basic") {
        accepted = base64Decoded(rest) == login.user + ":" + login.password;
    } else if (login.kind == SimLoginKind::Digest && scheme == "digest") {
        const auto p = platform::parseAuthParams(rest);
        auto param = [&p](const char* name) {
            const auto it = p.find(name);
            return it == p.end() ? std::string() : it->second;
        };
        const std::string nonce = param("nonce");
        const bool issued =
            !nonce.empty() && std::find(nonces_.begin(), nonces_.end(), nonce) != nonces_.end();
        const std::string uri = param("uri");
        if (issued && param("username") == login.user && param("realm") == login.realm &&
            uri == req.target) {
            const std::string ha1 = md5Hex(login.user + ":" + login.realm + ":" + login.password);
            const std::string ha2 = md5Hex(req.method + ":" + uri);
            const std::string qop = param("qop");
            const std::string expected = qop == "auth"
                                             ? md5Hex(ha1 + ":" + nonce + ":" + param("nc") + ":" +
                                                      param("cnonce") + ":" + qop + ":" + ha2)
                                             : md5Hex(ha1 + ":" + nonce + ":" + ha2);
            accepted = !expected.empty() && equalIgnoringCase(expected, param("response"));
        }
    }
    if (accepted)
        return true;
    ++refusedLogins_;
    res.status = 401;
    if (login.kind == SimLoginKind::Basic) {
        res.set_header("WWW-Authenticate", "Basic realm=\"" + login.realm + "\"");
    } else {
        std::string nonce = randomHex(16);
        nonces_.push_back(nonce);
        if (nonces_.size() > kKeptNonces)
            nonces_.pop_front();
        res.set_header("WWW-Authenticate", "Digest realm=\"" + login.realm +
                                               "\", qop=\"auth\", algorithm=MD5, nonce=\"" + nonce +
                                               "\", opaque=\"" + randomHex(8) + "\"");
    }
    res.set_content("<html><body>Login required.</body></html>\n", "text/html");
    return false;
}

void DvrSim::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_ = faults;
    faults_.padToBytes = std::min(faults_.padToBytes, Faults::kMaxPadBytes);
    faults_.redirectLocation = oneLine(faults_.redirectLocation);
}

void DvrSim::addResource(const std::string& path, std::string body,
                         const std::string& contentType) {
    std::lock_guard<std::mutex> guard(lock_);
    resources_[path] = {std::move(body), contentType};
}

int DvrSim::requestCount(const std::string& path) const {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = requestCounts_.find(path);
    return it == requestCounts_.end() ? 0 : it->second;
}

bool DvrSim::waitForRequests(const std::string& path, int count, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(lock_);
    return wake_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        const auto it = requestCounts_.find(path);
        return it != requestCounts_.end() && it->second >= count;
    });
}

std::string DvrSim::lastRequestHeader(const std::string& path, const std::string& name) const {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = lastHeaders_.find(path);
    if (it == lastHeaders_.end())
        return {};
    const auto header = it->second.find(lower(name));
    return header == it->second.end() ? std::string() : header->second;
}

std::string DvrSim::describe() const {
    std::string base = baseUrl();
    base.pop_back();  // the paths below begin with "/"
    std::ostringstream out;
    out << "dvrsim: a simulated recorder\n"
        << "newest frame:        " << base << kLiveImagePath << "\n"
        << "next sound segment:  " << base << kLiveSoundPath << "\n"
        << "initial sound:       " << base << kInitSoundPath << "\n"
        << "recorded frame N:    " << base << kRecordImagePath << "?dlimg=N  (1.."
        << content_.recordedFrameCount() << ", 404 after)\n"
        << "recorded sound file: " << base << kRecordSoundPath << "\n"
        << "recorded INF file:   " << base << kRecordInfoPath << "\n"
        << "login page:          " << base << kLoginPath << "  (where redirects point)\n"
        << "page properties: Location=" << base
        << "/index.html ImageFileURL=" << (kLiveImagePath + 1)
        << " WaveFileURL=" << (kLiveSoundPath + 1) << " InitWaveFileURL=" << (kInitSoundPath + 1)
        << "\n"
        << "  (save-only download: ImageFileURL=" << (kRecordImagePath + 1)
        << " WaveFileURL=" << (kRecordSoundPath + 1) << " DL_InfFileURL=" << (kRecordInfoPath + 1)
        << ")\n";
    return out.str();
}

std::int64_t DvrSim::elapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 startTime_)
        .count();
}

std::int64_t DvrSim::wallMsForSound(std::int64_t soundMs) const {
    const double pace = 1.0 + options_.soundClockPercent / 100.0;
    return static_cast<std::int64_t>(static_cast<double>(soundMs) / pace);
}

bool DvrSim::liveEnded() const {
    return options_.liveSegmentLimit > 0 &&
           nextSegment_ >= static_cast<std::uint64_t>(options_.liveSegmentLimit);
}

bool DvrSim::waitOrStop(int ms) {
    std::unique_lock<std::mutex> guard(lock_);
    if (ms < 0) {
        wake_.wait(guard, [this] { return stopping_; });
    } else {
        wake_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return stopping_; });
    }
    return stopping_;
}

void DvrSim::installRoutes() {
    httplib::Server& server = *server_;
    // The control closes every connection after one request; a short keep-alive lets a stop
    // end promptly even for clients that do not.
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(5);
    server.set_write_timeout(5);
    // The login is checked before anything else is answered, faults included.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++requestCounts_[req.path];
            wake_.notify_all();
            auto& headers = lastHeaders_[req.path];
            headers.clear();
            for (const auto& [name, value] : req.headers)
                headers.emplace(lower(name), value);
        }
        return loginAccepted(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                       : httplib::Server::HandlerResponse::Handled;
    });
    server.Get(
        regexFor(kLiveImagePath),
        [this](const httplib::Request& req, httplib::Response& res) { serveLiveImage(req, res); });
    server.Get(regexFor(kLiveSoundPath),
               [this](const httplib::Request& req, httplib::Response& res) {
                   serveSound(req, res, false);
               });
    server.Get(regexFor(kInitSoundPath),
               [this](const httplib::Request& req, httplib::Response& res) {
                   serveSound(req, res, true);
               });
    server.Get(regexFor(kRecordImagePath),
               [this](const httplib::Request& req, httplib::Response& res) {
                   serveRecordImage(req, res);
               });
    server.Get(regexFor(kRecordSoundPath),
               [this](const httplib::Request& req, httplib::Response& res) {
                   Shape shape;
                   if (answerFaults(req, res, shape, Route::RecordedSound))
                       return;
                   if (auto sound = content_.recordedSound()) {
                       sendBody(res, asBody(*sound), "audio/wav", shape);
                   } else {
                       res.status = 404;
                   }
               });
    server.Get(regexFor(kRecordInfoPath),
               [this](const httplib::Request& req, httplib::Response& res) {
                   Shape shape;
                   if (answerFaults(req, res, shape))
                       return;
                   if (auto info = content_.recordedInfo()) {
                       sendBody(res, asBody(*info), "application/octet-stream", shape);
                   } else {
                       res.status = 404;
                   }
               });
    server.Get("/|/index\\.html", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(describe(), "text/plain");
    });
    // Where redirects lead: never faulted, so that a client that follows one cannot loop.
    server.Get(regexFor(kLoginPath), [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kLoginPage, "text/html");
    });
    server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        Shape shape;
        if (answerFaults(req, res, shape))
            return;
        std::shared_ptr<const std::string> body;
        std::string type;
        {
            std::lock_guard<std::mutex> guard(lock_);
            const auto it = resources_.find(req.path);
            if (it != resources_.end()) {
                body = std::make_shared<const std::string>(it->second.first);
                type = it->second.second;
            }
        }
        if (!body) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        sendBody(res, std::move(body), type, shape);
    });
}

bool DvrSim::answerFaults(const httplib::Request& req, httplib::Response& res, Shape& shape,
                          Route route) {
    int latencyMs = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!faults_.path.empty() && faults_.path != req.path)
            return false;
        latencyMs = faults_.latencyMs;
    }
    if (latencyMs > 0 && waitOrStop(latencyMs)) {
        res.status = 503;
        return true;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (faults_.notFoundStorm > 0) {
        --faults_.notFoundStorm;
        res.status = 404;
        res.set_content("not found", "text/plain");
        return true;
    }
    if (faults_.emptyAnswers > 0) {
        --faults_.emptyAnswers;
        res.status = 200;
        res.set_content("", "application/octet-stream");
        return true;
    }
    if (faults_.errorStatus > 0 && faults_.errorCount != 0) {
        if (faults_.errorCount > 0)
            --faults_.errorCount;
        res.status = faults_.errorStatus;
        res.set_content("simulated error", "text/plain");
        return true;
    }
    if (faults_.redirectStatus > 0 && takeOne(faults_.redirectCount)) {
        res.status = faults_.redirectStatus;
        res.set_header("Location",
                       faults_.redirectLocation.empty()
                           ? "http://" + options_.host + ":" + std::to_string(port_) + kLoginPath
                           : faults_.redirectLocation);
        res.set_content(kMovedPage, "text/html");
        return true;
    }
    if (route != Route::Other && takeOne(faults_.notWaveAnswers)) {
        res.status = 200;
        res.set_content(kNotWavePage, "text/html");
        return true;
    }
    if (route == Route::Sound)
        shape.partialBlock = takeOne(faults_.partialBlockAnswers);
    if (faults_.padToBytes >= 0 && takeOne(faults_.padCount))
        shape.padToBytes = faults_.padToBytes;
    if (faults_.shapeCount != 0 &&
        (faults_.cutAfterBytes >= 0 || faults_.stallAfterBytes >= 0 || faults_.dripMs > 0)) {
        if (faults_.shapeCount > 0)
            --faults_.shapeCount;
        shape.cutAfterBytes = faults_.cutAfterBytes;
        shape.stallAfterBytes = faults_.stallAfterBytes;
        shape.stallMs = faults_.stallMs;
        shape.dripMs = faults_.dripMs;
    }
    return false;
}

void DvrSim::sendBody(httplib::Response& res, std::shared_ptr<const std::string> body,
                      const std::string& contentType, const Shape& shape) {
    const std::size_t size =
        std::max(body->size(), static_cast<std::size_t>(std::max(shape.padToBytes, 0ll)));
    if (shape.cutAfterBytes < 0 && shape.stallAfterBytes < 0 && shape.dripMs <= 0 &&
        size == body->size()) {
        res.set_content(*body, contentType);
        return;
    }
    auto stalled = std::make_shared<bool>(false);
    // Padding is made as it is sent: a body of gigabytes costs no memory.
    res.set_content_provider(
        size, contentType,
        [this, body, size, shape, stalled](std::size_t offset, std::size_t length,
                                           httplib::DataSink& sink) {
            static const char kZeros[16384] = {};
            std::size_t limit = size;
            if (shape.cutAfterBytes >= 0) {
                limit = std::min(limit, static_cast<std::size_t>(shape.cutAfterBytes));
            }
            if (shape.stallAfterBytes >= 0 && !*stalled &&
                offset >= static_cast<std::size_t>(shape.stallAfterBytes)) {
                *stalled = true;
                if (waitOrStop(shape.stallMs > 0 ? shape.stallMs : -1))
                    return false;
            }
            // Hanging up short of the announced length is what "cut short" means.
            if (offset >= limit)
                return false;
            std::size_t chunk = std::min({length, limit - offset, sizeof kZeros});
            if (shape.stallAfterBytes >= 0 && !*stalled) {
                chunk = std::min(chunk, static_cast<std::size_t>(shape.stallAfterBytes) - offset);
            }
            if (shape.dripMs > 0) {
                // Every byte comes in time to keep an idle limit from firing.
                if (offset > 0 && waitOrStop(shape.dripMs))
                    return false;
                chunk = 1;
            }
            if (offset >= body->size())
                return sink.write(kZeros, chunk);
            return sink.write(body->data() + offset, std::min(chunk, body->size() - offset));
        });
}

void DvrSim::serveLiveImage(const httplib::Request& req, httplib::Response& res) {
    Shape shape;
    if (answerFaults(req, res, shape))
        return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (liveEnded()) {
            res.status = 404;
            res.set_content("stream ended", "text/plain");
            return;
        }
    }
    const std::int64_t nowMs = elapsedMs();
    const std::uint32_t seconds = dvrSecondsNow();
    const Bytes picture = content_.livePicture(static_cast<std::uint64_t>(nowMs / 1000), seconds);
    if (picture.empty()) {
        res.status = 500;
        return;
    }
    const Bytes frame = restampFrame(picture, seconds, static_cast<std::uint32_t>(nowMs));
    sendBody(res, asBody(frame), "image/jp2", shape);
}

void DvrSim::serveSound(const httplib::Request& req, httplib::Response& res, bool initial) {
    Shape shape;
    if (answerFaults(req, res, shape, Route::Sound))
        return;
    const int segmentMs = options_.segmentMs;
    SoundFormat format = content_.soundFormat();
    std::uint64_t segment = 0;
    std::uint64_t count = 1;  // segments in this answer
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (liveEnded()) {
            res.status = 404;
            res.set_content("stream ended", "text/plain");
            return;
        }
        // Segments are recorded on the recorder's sound clock, which may run fast or slow.
        const auto completed = [this, segmentMs] {
            const double pace = 1.0 + options_.soundClockPercent / 100.0;
            return static_cast<std::uint64_t>(static_cast<double>(elapsedMs()) * pace / segmentMs);
        };
        if (initial) {
            // The newest complete segment; the very first one is waited for.
            if (completed() == 0) {
                wake_.wait_until(guard,
                                 startTime_ + std::chrono::milliseconds(wallMsForSound(segmentMs)),
                                 [this] { return stopping_; });
            }
            segment = completed() > 0 ? completed() - 1 : 0;
        } else {
            segment = nextSegment_;
            const std::uint64_t done = completed();
            const auto backlog = static_cast<std::uint64_t>(options_.backlogSegments);
            if (done > backlog && segment < done - backlog)
                segment = done - backlog;
            // A segment exists once the recorder has recorded it.
            wake_.wait_until(guard,
                             startTime_ + std::chrono::milliseconds(wallMsForSound(
                                              static_cast<std::int64_t>(segment + 1) * segmentMs)),
                             [this] { return stopping_; });
            // Everything recorded since the last answer goes out, so that a client asking less
            // often than once a segment still gets the sound of its whole period, as from a
            // recorder that keeps its sound since the last request.
            if (options_.soundSinceLastRequest) {
                const std::uint64_t recorded = completed();
                if (recorded > segment + 1)
                    count = std::min(recorded - segment, backlog);
            }
            if (options_.liveSegmentLimit > 0) {
                const auto limit = static_cast<std::uint64_t>(options_.liveSegmentLimit);
                count =
                    std::max<std::uint64_t>(1, std::min(count, limit - std::min(limit, segment)));
            }
        }
        if (stopping_) {
            res.status = 503;
            return;
        }
        if (options_.formatSwitch) {
            const auto after = static_cast<std::uint64_t>(options_.formatSwitch->afterSegments);
            if (servedSegments_ >= after)
                format = options_.formatSwitch->format;
            else
                count = std::min(count, after - servedSegments_);
        }
        const std::uint64_t segmentBytes =
            std::max<std::uint64_t>(1, static_cast<std::uint64_t>(format.sampleRate) *
                                           static_cast<std::uint64_t>(segmentMs) / 1000 *
                                           static_cast<std::uint64_t>(format.blockAlign()));
        count = std::max<std::uint64_t>(1, std::min(count, kMaxSoundAnswerBytes / segmentBytes));
        servedSegments_ += count;
        nextSegment_ = segment + count;
    }
    // Frame boundaries from the sound clock, so that rates that do not divide a segment evenly
    // (11025 Hz in 10 ms) do not drift.
    const auto rate = static_cast<std::uint64_t>(format.sampleRate);
    const auto ms = static_cast<std::uint64_t>(segmentMs);
    const std::uint64_t first = segment * ms * rate / 1000;
    const std::uint64_t end = (segment + count) * ms * rate / 1000;
    Bytes pcm = content_.liveSound(first, static_cast<std::size_t>(end - first), format);
    if (shape.partialBlock) {
        // The first half of the next block.
        const Bytes next = content_.liveSound(end, 1, format);
        pcm.insert(pcm.end(), next.begin(), next.begin() + format.blockAlign() / 2);
    }
    sendBody(res, asBody(makeWav(pcm, format)), "audio/wav", shape);
}

void DvrSim::serveRecordImage(const httplib::Request& req, httplib::Response& res) {
    Shape shape;
    if (answerFaults(req, res, shape))
        return;
    const int n = dlimgNumber(req.target);
    std::optional<Bytes> frame = content_.recordedFrame(n);
    if (!frame) {
        res.status = 404;
        res.set_content("no such frame", "text/plain");
        return;
    }
    sendBody(res, asBody(*frame), "image/jp2", shape);
}

}  // namespace korvex::sim
