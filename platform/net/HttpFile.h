#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/net/TlsTrust.h"

namespace platform {

class InternetSession;

// How a request proves who the user is.
enum class HttpLoginScheme { None, Basic, Digest };

// One HTTP request and its response body. Used by one thread; the session it came from must
// outlive it. Transfers are driven from the calling thread through a libcurl multi handle, so a
// read waits on the socket and on nothing else, and gives up on the session's time-out, its
// transfer limit or its abort check. Failures of the transfer throw InternetException.
//
// Over TLS the server's chain is judged inside the handshake (verifyServerChain): it must verify
// against the system's authorities and name the host, unless it is exactly the pinned
// certificate. There is no way to switch the check off. A refused certificate fails the send
// with kInternetErrorInvalidCa; peerCertificate() then says what the server showed.
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

    // The certificate (by its SHA-256) taken over TLS even when nothing vouches for it. Before
    // sendRequest.
    void setPinnedCertificate(const std::optional<Sha256>& pinned) { pinned_ = pinned; }
    // The login the request carries: Basic is sent with the request, Digest answers the
    // server's challenge in a second request of the same transfer. libcurl keeps its own copy
    // of the texts until the file is closed. Before sendRequest.
    void setLogin(HttpLoginScheme scheme, const std::string& user, const std::string& password);

    // Connects, sends the request and waits for the response head. Throws InternetException
    // when the transfer fails; false only when the file is closed or already sent.
    bool sendRequest();

    // Over TLS, once the server sent its certificate: what it showed, and whether it was refused.
    const std::optional<PeerCertificate>& peerCertificate() const { return peer_; }
    bool certificateRefused() const { return peerRefused_; }
    // The values of a header of the final response head (name in any case), in order. At most
    // kMaxResponseHeaders lines of kMaxResponseHeaderBytes in all are kept.
    std::vector<std::string> responseHeaders(std::string_view name) const;
    static constexpr std::size_t kMaxResponseHeaders = 100;
    static constexpr std::size_t kMaxResponseHeaderBytes = 64 * 1024;

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

    // `tlsHost` is the host name the certificate must name; empty for plain HTTP.
    HttpFile(InternetSession& session, std::string url, std::string_view verb, std::uint32_t flags,
             std::string tlsHost);
    friend int tlsChainCheck(x509_store_ctx_st* context, void* self);
    friend int tlsContextSetUp(void* context, void* self);
    int checkPeerChain(x509_store_ctx_st* context);

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

    // TLS
    std::string tlsHost_;
    bool tlsReady_ = true;  // false: this libcurl cannot run our check, and nothing is sent
    std::optional<Sha256> pinned_;
    std::optional<PeerCertificate> peer_;
    bool peerChecked_ = false;
    bool peerRefused_ = false;
    // Digest: the first 401 is the challenge libcurl answers itself in the same transfer.
    bool digestChallengeDue_ = false;
    std::vector<std::pair<std::string, std::string>> responseHeaders_;  // lower-case names
    std::size_t responseHeaderBytes_ = 0;
};

}  // namespace platform
