#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class InternetSession;

// One HTTP request and its response body. Used by one thread; the session it came from must
// outlive it. Transfers are driven from the calling thread through a libcurl multi handle, so a
// read waits on the socket and on nothing else, and gives up on the session's time-out, its
// transfer limit or its abort check. Failures of the transfer throw InternetException.
class HttpFile {
public:
    ~HttpFile();
    HttpFile(const HttpFile&) = delete;
    HttpFile& operator=(const HttpFile&) = delete;

    // Adds "Name: value" lines separated by CR LF. With kHttpAddReqFlagAddIfNew a header
    // already present is an error. False for a malformed line (lastError() says why, as an
    // errno value); nothing of the text is added then.
    bool addRequestHeaders(std::string_view headers, std::uint32_t flags);
    int lastError() const { return lastError_; }

    // Connects, sends the request and waits for the response head. Throws InternetException
    // when the transfer fails; false only when the file is closed or already sent.
    bool sendRequest();

    // The response status; false when no status line has arrived.
    bool queryInfoStatusCode(std::uint32_t& status) const;
    // The announced body length, -1 when the response gave none.
    long long contentLength() const;

    // Copies up to `count` bytes of the body into `buffer`, waiting until `count` bytes are
    // there or the body has ended; fewer than `count` (0 included) means the end was reached.
    // A transfer that fails before its end (time-out, abort, connection lost, body shorter than
    // announced) throws.
    std::size_t read(void* buffer, std::size_t count);

    void close();

private:
    friend class HttpConnection;
    using Clock = std::chrono::steady_clock;

    HttpFile(InternetSession& session, std::string url, std::string_view verb, std::uint32_t flags);

    template <class Ready>
    void pump(Ready ready);
    void finish(int errorCode, std::string message);
    [[noreturn]] void throwFailure() const;
    bool failed() const { return transferDone_ && failureCode_ != 0; }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static int onConnected(void* self, char*, char*, int, int);

    InternetSession* session_;
    std::string url_;
    std::string verb_;
    std::uint32_t flags_;
    std::vector<std::string> headerLines_;
    int lastError_ = 0;

    void* easy_ = nullptr;        // CURL*
    void* multi_ = nullptr;       // CURLM*
    void* headerList_ = nullptr;  // curl_slist*
    bool sent_ = false;
    bool headersDone_ = false;
    bool transferDone_ = false;
    int failureCode_ = 0;
    std::string failureMessage_;
    bool connected_ = false;
    Clock::time_point lastProgress_{};
    Clock::time_point deadline_ = Clock::time_point::max();
    std::string body_;
    std::size_t bodyPos_ = 0;
    std::vector<char> errorBuffer_;
};

}  // namespace platform
