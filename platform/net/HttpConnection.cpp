#include "platform/net/HttpConnection.h"

#include "platform/net/HttpFile.h"
#include "platform/net/InternetException.h"

namespace platform {

namespace {

// Characters a request line cannot carry are sent percent-encoded; everything else is sent
// exactly as the page wrote it.
std::string escapeObject(std::string_view object) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(object.size());
    for (unsigned char c : object) {
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

HttpConnection::HttpConnection(InternetSession& session, std::string server, std::uint16_t port,
                               bool secure)
    : session_(&session), server_(std::move(server)), port_(port), secure_(secure) {}

HttpConnection::~HttpConnection() = default;

std::unique_ptr<HttpFile> HttpConnection::openRequest(std::string_view verb,
                                                      std::string_view object,
                                                      std::uint32_t flags) {
    if (closed_)
        throw InternetException(kInternetErrorInternal, 1, "connection closed");
    std::string url = secure_ ? "https://" : "http://";
    if (server_.find(':') != std::string::npos) {
        url += "[" + server_ + "]";
    } else {
        url += server_;
    }
    url += ":" + std::to_string(port_);
    std::string path = escapeObject(object);
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    url += path;
    return std::unique_ptr<HttpFile>(
        new HttpFile(*session_, std::move(url), verb, flags, secure_ ? server_ : std::string()));
}

}  // namespace platform
