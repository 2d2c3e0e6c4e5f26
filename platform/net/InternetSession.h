#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class HttpConnection;

// Option numbers as the Windows internet layer numbers them; every value is 4 bytes.
enum class InternetOption : std::uint32_t {
    ConnectTimeout = 2,
    ConnectRetries = 3,
    SendTimeout = 5,
    ReceiveTimeout = 6,
    DataSendTimeout = 7,
    DataReceiveTimeout = 8,
    ListenTimeout = 11,
    DisconnectedTimeout = 49,
};

// Request flags and header flags of the same layer.
inline constexpr std::uint32_t kInternetFlagReload = 0x80000000u;
inline constexpr std::uint32_t kInternetFlagDontCache = 0x04000000u;
inline constexpr std::uint32_t kHttpAddReqFlagAddIfNew = 0x10000000u;

// One internet session: the options its requests run with and the abort check that lets a stop
// order end a transfer. Proxies are the preconfigured ones, i.e. libcurl's usual environment
// variables (http_proxy, no_proxy, ...). A session is used by one thread; it must outlive the
// connections and files made from it.
//
// Time-outs are milliseconds. ConnectTimeout limits establishing the connection; ReceiveTimeout
// limits how long a request may go without any byte arriving once connected (the response
// head and every part of the body). A value of 0, or one of 2^31 and above (a negative int
// passed as 4 bytes), sets no limit of ours: libcurl's own connect limit applies and a silent
// server is waited for until the abort check fires. The other options are kept and readable but
// change nothing: libcurl tries every address of a host once and has no listen or
// disconnected state.
//
// The transfer limit is ours (the Windows layer has none): the longest a request may take from
// its sending to the end of its body, however steadily its bytes arrive, so that a server
// sending a byte now and then cannot hold a request for ever. 0 sets none.
class InternetSession {
public:
    InternetSession();
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    bool setOption(InternetOption option, std::uint32_t value);
    std::uint32_t option(InternetOption option) const;

    // Polled while a request waits for the network (at least every 50 ms); true ends the
    // transfer with kInternetErrorOperationCancelled.
    void setAbortCheck(std::function<bool()> check) { abortCheck_ = std::move(check); }
    bool abortRequested() const { return abortCheck_ && abortCheck_(); }

    // Makes no network traffic: the connection is established by the request that is sent
    // through it. With `secure` its requests go over TLS (1.2 at least), the server's
    // certificate verified against the system's authorities and its host name (HttpFile).
    // Throws InternetException for an empty server name or port 0.
    std::unique_ptr<HttpConnection> getHttpConnection(const std::string& server, std::uint16_t port,
                                                      bool secure = false);

    void setTransferLimitMs(long ms) { transferLimitMs_ = ms > 0 ? ms : 0; }

    // Limits in milliseconds as described above; 0 = no limit of ours.
    long connectTimeoutMs() const;
    long receiveTimeoutMs() const;
    long transferLimitMs() const { return transferLimitMs_; }

    void close() { closed_ = true; }
    bool isClosed() const { return closed_; }

private:
    static long asLimitMs(std::uint32_t value);

    std::uint32_t values_[50] = {};
    std::function<bool()> abortCheck_;
    long transferLimitMs_ = 0;
    bool closed_ = false;
};

// Called once per process before the first transfer (the session constructor does it).
void initialiseInternet();

}  // namespace platform
