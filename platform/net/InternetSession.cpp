#include "platform/net/InternetSession.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/net/HttpConnection.h"
#include "platform/net/InternetException.h"

namespace platform {

void initialiseInternet() {
    // curl_global_init must run before any other thread uses libcurl; never undone, as the
    // process may still have transfers running on other threads while it ends.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

InternetSession::InternetSession() {
    initialiseInternet();
}

InternetSession::~InternetSession() = default;

bool InternetSession::setOption(InternetOption option, std::uint32_t value) {
    const auto index = static_cast<std::uint32_t>(option);
    if (index >= sizeof values_ / sizeof values_[0])
        return false;
    values_[index] = value;
    return true;
}

std::uint32_t InternetSession::option(InternetOption option) const {
    const auto index = static_cast<std::uint32_t>(option);
    return index < sizeof values_ / sizeof values_[0] ? values_[index] : 0;
}

long InternetSession::asLimitMs(std::uint32_t value) {
    return value >= 0x80000000u ? 0 : static_cast<long>(value);
}

long InternetSession::connectTimeoutMs() const {
    return asLimitMs(option(InternetOption::ConnectTimeout));
}

long InternetSession::receiveTimeoutMs() const {
    return asLimitMs(option(InternetOption::ReceiveTimeout));
}

std::unique_ptr<HttpConnection> InternetSession::getHttpConnection(const std::string& server,
                                                                   std::uint16_t port,
                                                                   bool secure) {
    if (server.empty() || port == 0) {
        throw InternetException(kInternetErrorNameNotResolved, 1, "no server or no port");
    }
    return std::unique_ptr<HttpConnection>(new HttpConnection(*this, server, port, secure));
}

}  // namespace platform
