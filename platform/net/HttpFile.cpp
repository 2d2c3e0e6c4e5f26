#include "platform/net/HttpFile.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/net/InternetException.h"
#include "platform/net/InternetSession.h"

namespace platform {

int tlsChainCheck(X509_STORE_CTX* context, void* self);
int tlsContextSetUp(void* context, void* self);

namespace {

constexpr int kContext = 1;
// Upper bound of one wait on the socket, so the abort check is seen promptly.
constexpr long kPollSliceMs = 50;

int errorFor(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return kInternetErrorTimeout;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kInternetErrorNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kInternetErrorCannotConnect;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            return kInternetErrorConnectionAborted;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kInternetErrorInvalidServerResponse;
        case CURLE_ABORTED_BY_CALLBACK:
            return kInternetErrorOperationCancelled;
        case CURLE_PEER_FAILED_VERIFICATION:
            return kInternetErrorInvalidCa;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_CIPHER:
        case CURLE_USE_SSL_FAILED:
            return kInternetErrorSecureFailure;
        default:
            return kInternetErrorInternal;
    }
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isTokenChar(unsigned char c) {
    return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

std::string headerName(const std::string& line) {
    return lower(line.substr(0, line.find(':')));
}

// Our chain check needs libcurl's TLS to be OpenSSL's: with any other the context handed to the
// set-up callback is not an SSL_CTX, and HTTPS is refused rather than left unchecked.
bool curlSpeaksOpenSsl() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && info->ssl_version && std::strncmp(info->ssl_version, "OpenSSL", 7) == 0;
}

CURLcode onTlsContext(CURL*, void* context, void* self) {
    return tlsContextSetUp(context, self) ? CURLE_OK : CURLE_SSL_CONNECT_ERROR;
}

}  // namespace

int tlsChainCheck(X509_STORE_CTX* context, void* self) {
    return static_cast<HttpFile*>(self)->checkPeerChain(context);
}

int tlsContextSetUp(void* context, void* self) {
    auto* ctx = static_cast<SSL_CTX*>(context);
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1)
        return 0;
    // The whole judgement is ours (chain, host name, pin); a refusal ends the handshake.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(ctx, &tlsChainCheck, self);
    return 1;
}

int HttpFile::checkPeerChain(X509_STORE_CTX* context) {
    PeerCertificate seen;
    const bool accepted = verifyServerChain(context, tlsHost_, pinned_, seen);
    peerChecked_ = true;
    peerRefused_ = !accepted;
    peer_ = std::move(seen);
    return accepted ? 1 : 0;
}

std::vector<std::string> HttpFile::responseHeaders(std::string_view name) const {
    const std::string wanted = lower(name);
    std::vector<std::string> values;
    for (const auto& [n, v] : responseHeaders_) {
        if (n == wanted)
            values.push_back(v);
    }
    return values;
}

void HttpFile::setLogin(HttpLoginScheme scheme, const std::string& user,
                        const std::string& password) {
    auto* easy = static_cast<CURL*>(easy_);
    if (!easy || sent_)
        return;
    if (scheme == HttpLoginScheme::None) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_NONE);
        digestChallengeDue_ = false;
        return;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH,
                     scheme == HttpLoginScheme::Basic ? CURLAUTH_BASIC : CURLAUTH_DIGEST);
    curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
    digestChallengeDue_ = scheme == HttpLoginScheme::Digest;
}

HttpFile::HttpFile(InternetSession& session, std::string url, std::string_view verb,
                   std::uint32_t flags, std::string tlsHost)
    : session_(&session),
      url_(std::move(url)),
      verb_(verb),
      flags_(flags),
      errorBuffer_(CURL_ERROR_SIZE, '\0'),
      tlsHost_(std::move(tlsHost)) {
    initialiseInternet();
    CURL* easy = curl_easy_init();
    CURLM* multi = easy ? curl_multi_init() : nullptr;
    if (!easy || !multi) {
        if (easy)
            curl_easy_cleanup(easy);
        throw InternetException(kInternetErrorInternal, kContext, "out of memory");
    }
    easy_ = easy;
    multi_ = multi;
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // The object path goes out exactly as the page wrote it.
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, tlsHost_.empty() ? "http" : "https");
    if (!tlsHost_.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        // The host name is checked with the chain, in our own check (tlsChainCheck), so that a
        // certificate the user pinned is taken whatever host it names.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        // Every connection shows its certificate to our check: no session is resumed.
        curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        tlsReady_ = curlSpeaksOpenSsl() &&
                    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &onTlsContext) == CURLE_OK &&
                    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this) == CURLE_OK;
    }
    // A recorder answers its resources directly; a redirect is answered as it stands.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // Every request has its own connection, as every fetch has its own session.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpFile::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpFile::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &HttpFile::onConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_.data());
    if (verb_ == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (verb_ == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb_.c_str());
    }
}

HttpFile::~HttpFile() {
    close();
}

void HttpFile::close() {
    auto* easy = static_cast<CURL*>(easy_);
    auto* multi = static_cast<CURLM*>(multi_);
    if (multi && easy && sent_)
        curl_multi_remove_handle(multi, easy);
    if (easy)
        curl_easy_cleanup(easy);
    if (multi)
        curl_multi_cleanup(multi);
    if (headerList_)
        curl_slist_free_all(static_cast<curl_slist*>(headerList_));
    easy_ = nullptr;
    multi_ = nullptr;
    headerList_ = nullptr;
    body_.clear();
    bodyPos_ = 0;
}

bool HttpFile::addRequestHeaders(std::string_view headers, std::uint32_t flags) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find('\n', pos);
        if (end == std::string_view::npos)
            end = headers.size();
        std::string line(headers.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::size_t colon = line.find(':');
        bool valid = colon != std::string::npos && colon > 0;
        for (std::size_t i = 0; valid && i < colon; ++i) {
            valid = isTokenChar(static_cast<unsigned char>(line[i]));
        }
        for (std::size_t i = colon; valid && i < line.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            valid = c >= 0x20 || c == '\t';
        }
        if (!valid) {
            lastError_ = EINVAL;
            return false;
        }
        lines.push_back(std::move(line));
    }
    if (flags & kHttpAddReqFlagAddIfNew) {
        for (const std::string& line : lines) {
            const std::string name = headerName(line);
            for (const std::string& have : headerLines_) {
                if (headerName(have) == name) {
                    lastError_ = EEXIST;
                    return false;
                }
            }
        }
    }
    headerLines_.insert(headerLines_.end(), lines.begin(), lines.end());
    return true;
}

bool HttpFile::sendRequest() {
    auto* easy = static_cast<CURL*>(easy_);
    if (!easy || sent_)
        return false;
    if (!tlsReady_) {
        throw InternetException(kInternetErrorSecureFailure, kContext,
                                "HTTPS needs libcurl built with OpenSSL");
    }
    curl_slist* list = nullptr;
    auto add = [&list](const std::string& line) {
        if (curl_slist* grown = curl_slist_append(list, line.c_str()))
            list = grown;
    };
    for (const std::string& line : headerLines_)
        add(line);
    if (flags_ & (kInternetFlagReload | kInternetFlagDontCache)) {
        // Neither a proxy nor the server may answer from a cache: every poll of the same URL
        // must bring the newest frame or sound segment.
        bool haveCacheControl = false;
        bool havePragma = false;
        for (const std::string& line : headerLines_) {
            haveCacheControl |= headerName(line) == "cache-control";
            havePragma |= headerName(line) == "pragma";
        }
        if (!haveCacheControl)
            add("Cache-Control: no-cache");
        if (!havePragma)
            add("Pragma: no-cache");
    }
    headerList_ = list;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    if (const long connectMs = session_->connectTimeoutMs(); connectMs > 0) {
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    }
    if (curl_multi_add_handle(static_cast<CURLM*>(multi_), easy) != CURLM_OK) {
        throw InternetException(kInternetErrorInternal, kContext, "cannot start the transfer");
    }
    sent_ = true;
    lastProgress_ = Clock::now();
    if (const long limitMs = session_->transferLimitMs(); limitMs > 0)
        deadline_ = lastProgress_ + std::chrono::milliseconds(limitMs);
    pump([this] { return headersDone_; });
    // Once the response head is in, a failure further on belongs to the body and is reported
    // by read(), as a body that breaks off must be.
    if (failed() && !headersDone_)
        throwFailure();
    return true;
}

bool HttpFile::queryInfoStatusCode(std::uint32_t& status) const {
    if (!easy_ || !sent_)
        return false;
    long code = 0;
    if (curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_RESPONSE_CODE, &code) != CURLE_OK ||
        code <= 0) {
        return false;
    }
    status = static_cast<std::uint32_t>(code);
    return true;
}

long long HttpFile::contentLength() const {
    if (!easy_ || !sent_)
        return -1;
    curl_off_t length = -1;
    if (curl_easy_getinfo(static_cast<CURL*>(easy_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) !=
        CURLE_OK) {
        return -1;
    }
    return length < 0 ? -1 : static_cast<long long>(length);
}

std::size_t HttpFile::read(void* buffer, std::size_t count) {
    if (!easy_ || !sent_) {
        throw InternetException(kInternetErrorInternal, kContext, "request not sent");
    }
    pump([this, count] { return body_.size() - bodyPos_ >= count; });
    if (failed())
        throwFailure();
    const std::size_t n = std::min(count, body_.size() - bodyPos_);
    if (n > 0)
        std::memcpy(buffer, body_.data() + bodyPos_, n);
    bodyPos_ += n;
    if (bodyPos_ == body_.size()) {
        body_.clear();
        bodyPos_ = 0;
    } else if (bodyPos_ >= 64 * 1024) {
        body_.erase(0, bodyPos_);
        bodyPos_ = 0;
    }
    return n;
}

template <class Ready>
void HttpFile::pump(Ready ready) {
    auto* multi = static_cast<CURLM*>(multi_);
    while (!transferDone_ && !ready()) {
        if (session_->abortRequested()) {
            finish(kInternetErrorOperationCancelled, "the transfer was stopped");
            return;
        }
        int running = 0;
        const CURLMcode performed = curl_multi_perform(multi, &running);
        if (performed != CURLM_OK) {
            finish(kInternetErrorInternal, curl_multi_strerror(performed));
            return;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            transferDone_ = true;
            const CURLcode result = message->data.result;
            if (result != CURLE_OK) {
                failureCode_ = errorFor(result);
                failureMessage_ =
                    errorBuffer_[0] ? errorBuffer_.data() : curl_easy_strerror(result);
                if (peerRefused_) {
                    // However libcurl words the failed handshake, the cause is our refusal.
                    failureCode_ = kInternetErrorInvalidCa;
                    failureMessage_ = "the server's certificate is not trusted: " +
                                      (peer_ ? peer_->problem : std::string());
                }
            }
        }
        if (transferDone_ || ready())
            return;
        long sliceMs = kPollSliceMs;
        if (deadline_ != Clock::time_point::max()) {
            const auto leftMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now())
                    .count();
            if (leftMs <= 0) {
                finish(kInternetErrorTimeout,
                       "not done within " + std::to_string(session_->transferLimitMs()) + " ms");
                return;
            }
            sliceMs = std::min<long>(sliceMs, static_cast<long>(leftMs));
        }
        if (const long limitMs = session_->receiveTimeoutMs(); limitMs > 0 && connected_) {
            const auto idleMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress_)
                    .count();
            if (idleMs >= limitMs) {
                finish(kInternetErrorTimeout, "no data for " + std::to_string(limitMs) + " ms");
                return;
            }
            sliceMs = std::min<long>(sliceMs, limitMs - static_cast<long>(idleMs));
        }
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<long>(sliceMs, 1)), nullptr);
    }
}

void HttpFile::finish(int errorCode, std::string message) {
    transferDone_ = true;
    failureCode_ = errorCode;
    failureMessage_ = std::move(message);
    // Taking the handle out ends the transfer and closes its connection; the handle keeps what
    // it learnt (the status) for later queries.
    if (multi_ && easy_ && sent_) {
        curl_multi_remove_handle(static_cast<CURLM*>(multi_), static_cast<CURL*>(easy_));
    }
}

void HttpFile::throwFailure() const {
    throw InternetException(failureCode_, kContext, failureMessage_);
}

std::size_t HttpFile::onBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* file = static_cast<HttpFile*>(self);
    const std::size_t n = size * count;
    file->body_.append(data, n);
    file->headersDone_ = true;
    file->lastProgress_ = Clock::now();
    return n;
}

std::size_t HttpFile::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* file = static_cast<HttpFile*>(self);
    const std::size_t n = size * count;
    file->lastProgress_ = Clock::now();
    std::string_view line(data, n);
    if (line == "\r\n" || line == "\n") {
        // The end of a response head; an interim 1xx head is followed by the real one, and so
        // is the challenge of a Digest login, which libcurl answers with a second request.
        long code = 0;
        curl_easy_getinfo(static_cast<CURL*>(file->easy_), CURLINFO_RESPONSE_CODE, &code);
        if (code == 401 && file->digestChallengeDue_)
            file->digestChallengeDue_ = false;
        else if (code >= 200)
            file->headersDone_ = true;
        return n;
    }
    if (line.rfind("HTTP/", 0) == 0) {
        // A new head: only the last one's headers count.
        file->responseHeaders_.clear();
        file->responseHeaderBytes_ = 0;
        return n;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        file->responseHeaders_.size() >= kMaxResponseHeaders ||
        file->responseHeaderBytes_ + line.size() > kMaxResponseHeaderBytes) {
        return n;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    file->responseHeaderBytes_ += line.size();
    file->responseHeaders_.emplace_back(lower(line.substr(0, colon)), std::string(value));
    return n;
}

int HttpFile::onConnected(void* self, char*, char*, int, int) {
    auto* file = static_cast<HttpFile*>(self);
    // A TLS connection whose chain our check never saw (a resumed session, a libcurl that
    // skipped the callback) sends nothing.
    if (!file->tlsHost_.empty() && !file->peerChecked_)
        return CURL_PREREQFUNC_ABORT;
    file->connected_ = true;
    file->lastProgress_ = Clock::now();
    return CURL_PREREQFUNC_OK;
}

}  // namespace platform
