#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class HttpFile;
class InternetSession;

// A server and port of one session. Requests opened through it each make their own TCP
// connection, closed when the request's file is closed: every fetch of the control starts
// afresh, as its session does.
class HttpConnection {
public:
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Prepares a request; nothing is sent until HttpFile::sendRequest. `object` is the path and
    // query as the URL wrote them. `flags` are kInternetFlag... values.
    std::unique_ptr<HttpFile> openRequest(std::string_view verb, std::string_view object,
                                          std::uint32_t flags);

    const std::string& server() const { return server_; }
    std::uint16_t port() const { return port_; }
    bool secure() const { return secure_; }
    void close() { closed_ = true; }

private:
    friend class InternetSession;
    HttpConnection(InternetSession& session, std::string server, std::uint16_t port, bool secure);

    InternetSession* session_;
    std::string server_;
    std::uint16_t port_;
    bool secure_;
    bool closed_ = false;
};

}  // namespace platform
