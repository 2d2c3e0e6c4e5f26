#pragma once

// A recorder behind a login or serving HTTPS with a certificate nothing vouches for: what the
// run asks the page, what it keeps for the run, and the refusal that ends it.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/HttpChallenge.h"
#include "platform/net/HttpFile.h"
#include "platform/net/TlsTrust.h"

namespace picvox {

// A password held in memory only; its bytes are overwritten when it goes.
class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string text) : text_(std::move(text)) {}
    SecretText(const SecretText& other) : text_(other.text_) {}
    SecretText(SecretText&& other) noexcept;
    SecretText& operator=(const SecretText& other);
    SecretText& operator=(SecretText&& other) noexcept;
    ~SecretText() { wipe(); }

    const std::string& reveal() const { return text_; }
    bool empty() const { return text_.empty(); }
    void wipe();

private:
    std::string text_;
};

struct Login {
    std::string user;
    SecretText password;
};

enum class TrustAnswer { Refused, ThisRun, Always };

// A certificate as the user is shown it.
struct CertificateFacts {
    std::string sha256;  // 64 lower-case hex digits
    std::string subject;
    std::string validity;
};

// The page's two answers. `recorder` is "scheme://host:port". Asked on the download thread, which
// waits for the answer; the defaults answer nothing.
class AccessQuestions {
public:
    virtual ~AccessQuestions() = default;
    // A user and password for `realm`; `attempt` 0 first, 1 after the recorder refused the first.
    virtual std::optional<Login> credentials(const std::string& /*recorder*/,
                                             const std::string& /*realm*/, int /*attempt*/) {
        return std::nullopt;
    }
    virtual TrustAnswer trustCertificate(const std::string& /*recorder*/, const CertificateFacts&) {
        return TrustAnswer::Refused;
    }
};

// A recorder as the questions and the trust store name it.
struct Recorder {
    std::string scheme;  // "http" or "https"
    std::string host;    // lower case, IPv6 without brackets
    int port = 0;
    // "https://host:port" (IPv6 in brackets)
    std::string text() const;
    // "host:port": the name of its entry in the trust store
    std::string hostPort() const;
    static std::optional<Recorder> of(const std::string& url);
};

// What ends a run that cannot reach its recorder; every one needs the user.
enum class AccessRefusal { CertificateNotTrusted, CertificateChanged, LoginNeeded, LoginRefused };

// Where trusted certificates are kept: one value per recorder ("host:port" = SHA-256 hex) under
// this key of the per-user store.
inline constexpr const char* kTrustedCertificatesKey =
    "Software\\Kalmo\\Tessaly\\TrustedCertificates";
std::optional<platform::Sha256> TrustedCertificate(const std::string& storePath,
                                                   const std::string& hostPort);
bool KeepTrustedCertificate(const std::string& storePath, const std::string& hostPort,
                            const platform::Sha256& sha256);
// False when there was none.
bool ForgetTrustedCertificate(const std::string& storePath, const std::string& hostPort);

// The run's access to its recorder: the certificates trusted and the logins given, kept in memory
// for the run only, and the refusal once the run can no longer reach the recorder. Only the
// download thread asks (passes one after the other); the main process thread reads the refusal
// between passes.
class RecorderAccess {
public:
    // Longest realm kept and shown; a longer one is cut.
    static constexpr std::size_t kMaxRealmBytes = 256;

    // `questions` may be null (nobody to ask). `storePath`: the per-user store of trusted
    // certificates; empty: none.
    RecorderAccess(AccessQuestions* questions, std::string storePath);

    // What the next request to `recorder` carries.
    struct Request {
        std::optional<platform::Sha256> pinned;
        platform::HttpLoginScheme scheme = platform::HttpLoginScheme::None;
        std::string user;
        SecretText password;
        std::string realm;
    };
    Request prepare(const Recorder& recorder);
    // The recorder's certificate was refused. True when the user trusts it now, so that the
    // request may be made again; false sets the refusal.
    bool certificateRefused(const Recorder& recorder, const platform::PeerCertificate& seen);
    // The recorder answered 401 to `sent`. True when there is a login to try; false sets the
    // refusal. `fromUrl`: the login the URL itself carries, tried once before any question.
    bool loginAsked(const Recorder& recorder,
                    const std::vector<platform::HttpChallenge>& challenges, const Request& sent,
                    const std::optional<Login>& fromUrl);

    // The first refusal of the run and its words for the user; empty while there is none.
    std::optional<AccessRefusal> refusal() const;
    std::string refusalText() const;

private:
    struct LoginState {
        bool known = false;
        platform::HttpLoginScheme scheme = platform::HttpLoginScheme::None;
        std::string user;
        SecretText password;
        int asked = 0;         // questions asked for this realm
        bool refused = false;  // a login of this realm has been refused
    };
    struct RecorderState {
        bool storeRead = false;
        std::optional<platform::Sha256> pinned;
        bool trustAsked = false;
        bool urlLoginTried = false;
        std::string realm;  // the realm of the last login given: sent with the next request
        std::map<std::string, LoginState> logins;  // by realm
    };
    RecorderState& stateOf(const Recorder& recorder);
    void refuse(AccessRefusal refusal, std::string text);

    AccessQuestions* questions_;
    const std::string storePath_;
    std::map<std::string, RecorderState> recorders_;  // by Recorder::text(); download thread
    mutable std::mutex lock_;                         // guards the refusal
    std::optional<AccessRefusal> refusal_;
    std::string refusalText_;
};

}  // namespace picvox
