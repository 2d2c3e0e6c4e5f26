#include "control/download/RecorderAccess.h"

#include <string.h>

#include <cctype>

#include "control/buffers/PicvoxLog.h"
#include "platform/UserStore.h"
#include "platform/net/InternetUrl.h"

namespace picvox {

using platform::HttpLoginScheme;
using platform::UserStore;

// ---- SecretText ----

SecretText::SecretText(SecretText&& other) noexcept : text_(other.text_) {
    other.wipe();
}

SecretText& SecretText::operator=(const SecretText& other) {
    if (this != &other) {
        wipe();
        text_ = other.text_;
    }
    return *this;
}

SecretText& SecretText::operator=(SecretText&& other) noexcept {
    if (this != &other) {
        wipe();
        text_ = other.text_;
        other.wipe();
    }
    return *this;
}

void SecretText::wipe() {
    // The whole buffer: a shorter text may have followed a longer one.
    if (text_.capacity() > 0)
        ::explicit_bzero(text_.data(), text_.capacity());
    text_.clear();
}

// ---- Recorder ----

std::string Recorder::text() const {
    return scheme + "://" + hostPort();
}

std::string Recorder::hostPort() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<Recorder> Recorder::of(const std::string& url) {
    platform::ParsedUrl parsed;
    if (!platform::parseUrl(url, parsed))
        return std::nullopt;
    Recorder r;
    if (parsed.service == platform::InternetService::Http)
        r.scheme = "http";
    else if (parsed.service == platform::InternetService::Https)
        r.scheme = "https";
    else
        return std::nullopt;
    r.host = parsed.server;
    for (char& c : r.host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    r.port = parsed.port;
    return r;
}

// ---- The trust store ----

std::optional<platform::Sha256> TrustedCertificate(const std::string& storePath,
                                                   const std::string& hostPort) {
    if (storePath.empty())
        return std::nullopt;
    UserStore store;
    if (!store.load(storePath))
        return std::nullopt;
    const std::optional<std::string> value = store.value(kTrustedCertificatesKey, hostPort);
    return value ? platform::parseSha256(*value) : std::nullopt;
}

bool KeepTrustedCertificate(const std::string& storePath, const std::string& hostPort,
                            const platform::Sha256& sha256) {
    return !storePath.empty() && UserStore::update(storePath, [&](UserStore& store) {
        return store.setValue(kTrustedCertificatesKey, hostPort, platform::sha256Hex(sha256));
    });
}

bool ForgetTrustedCertificate(const std::string& storePath, const std::string& hostPort) {
    return !storePath.empty() && UserStore::update(storePath, [&](UserStore& store) {
        return store.deleteValue(kTrustedCertificatesKey, hostPort);
    });
}

// ---- RecorderAccess ----

namespace {

// A realm comes from the recorder and is shown to the user: printable, bounded.
std::string shownRealm(std::string realm) {
    if (realm.size() > RecorderAccess::kMaxRealmBytes)
        realm.resize(RecorderAccess::kMaxRealmBytes);
    for (char& c : realm) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return realm;
}

const char* schemeName(HttpLoginScheme scheme) {
    switch (scheme) {
        case HttpLoginScheme::Basic:
            return "Basic";
        case HttpLoginScheme::Digest:
            return "Digest";
        case HttpLoginScheme::None:
            break;
    }
    return "-";
}

// The challenge answered: Digest when offered (it never sends the password itself), else Basic.
const platform::HttpChallenge* chosenChallenge(
    const std::vector<platform::HttpChallenge>& challenges, HttpLoginScheme& scheme) {
    for (const platform::HttpChallenge& c : challenges) {
        if (c.scheme == "digest") {
            scheme = HttpLoginScheme::Digest;
            return &c;
        }
    }
    for (const platform::HttpChallenge& c : challenges) {
        if (c.scheme == "basic") {
            scheme = HttpLoginScheme::Basic;
            return &c;
        }
    }
    scheme = HttpLoginScheme::None;
    return nullptr;
}

}  // namespace

RecorderAccess::RecorderAccess(AccessQuestions* questions, std::string storePath)
    : questions_(questions), storePath_(std::move(storePath)) {}

RecorderAccess::RecorderState& RecorderAccess::stateOf(const Recorder& recorder) {
    RecorderState& state = recorders_[recorder.text()];
    if (!state.storeRead && recorder.scheme == "https") {
        state.storeRead = true;
        state.pinned = TrustedCertificate(storePath_, recorder.hostPort());
    }
    return state;
}

RecorderAccess::Request RecorderAccess::prepare(const Recorder& recorder) {
    RecorderState& state = stateOf(recorder);
    Request request;
    request.pinned = state.pinned;
    const auto login = state.logins.find(state.realm);
    if (login != state.logins.end() && login->second.known) {
        request.scheme = login->second.scheme;
        request.user = login->second.user;
        request.password = login->second.password;
        request.realm = state.realm;
    }
    return request;
}

bool RecorderAccess::certificateRefused(const Recorder& recorder,
                                        const platform::PeerCertificate& seen) {
    RecorderState& state = stateOf(recorder);
    const std::string shown = platform::sha256Hex(seen.sha256);
    WriteLog(LogTag::HttpThread, "証明書検証失敗 %s SHA-256=%s subject=%s 理由=%s",
             recorder.text().c_str(), shown.c_str(), seen.subject.c_str(), seen.problem.c_str());
    if (state.pinned && *state.pinned != seen.sha256) {
        // Never taken silently: the user trusted another certificate for this recorder.
        const std::string trusted = platform::sha256Hex(*state.pinned);
        WriteLog(LogTag::HttpThread, "証明書変更 %s 信頼済み=%s", recorder.text().c_str(),
                 trusted.c_str());
        refuse(AccessRefusal::CertificateChanged, "the recorder's certificate changed (SHA-256 " +
                                                      shown + ", trusted " + trusted + ")");
        return false;
    }
    TrustAnswer answer = TrustAnswer::Refused;
    // Asked once per recorder and run; the pinned certificate itself is never refused for its
    // chain, so a refusal with the pin in place is another failure of the handshake.
    if (!state.trustAsked && !state.pinned && questions_) {
        state.trustAsked = true;
        answer = questions_->trustCertificate(recorder.text(),
                                              CertificateFacts{shown, seen.subject, seen.validity});
    }
    if (answer == TrustAnswer::Refused) {
        refuse(AccessRefusal::CertificateNotTrusted,
               "the recorder's certificate is not trusted (SHA-256 " + shown + ")");
        return false;
    }
    state.pinned = seen.sha256;
    bool kept = false;
    if (answer == TrustAnswer::Always)
        kept = KeepTrustedCertificate(storePath_, recorder.hostPort(), seen.sha256);
    WriteLog(LogTag::HttpThread, "証明書信頼 %s SHA-256=%s %s", recorder.text().c_str(),
             shown.c_str(),
             answer == TrustAnswer::ThisRun ? "今回のみ"
             : kept                         ? "登録"
                                            : "登録失敗");
    return true;
}

bool RecorderAccess::loginAsked(const Recorder& recorder,
                                const std::vector<platform::HttpChallenge>& challenges,
                                const Request& sent, const std::optional<Login>& fromUrl) {
    RecorderState& state = stateOf(recorder);
    HttpLoginScheme scheme = HttpLoginScheme::None;
    const platform::HttpChallenge* challenge = chosenChallenge(challenges, scheme);
    if (!challenge) {
        WriteLog(LogTag::HttpThread, "認証方式未対応 %s", recorder.text().c_str());
        refuse(AccessRefusal::LoginNeeded, "the recorder asks for a login");
        return false;
    }
    const std::string realm = shownRealm(challenge->realm());
    LoginState& login = state.logins[realm];
    const bool sentThisRealm = sent.scheme != HttpLoginScheme::None && sent.realm == realm;
    if (sentThisRealm) {
        WriteLog(LogTag::HttpThread, "認証拒否 %s realm=%s", recorder.text().c_str(),
                 realm.c_str());
        login.known = false;
        login.password.wipe();
        login.refused = true;
    } else if (login.known) {
        // Known for this realm, but not sent (another realm's login went): send it now.
        login.scheme = scheme;
        state.realm = realm;
        return true;
    }
    WriteLog(LogTag::HttpThread, "認証要求 %s realm=%s 方式=%s 試行=%d", recorder.text().c_str(),
             realm.c_str(), schemeName(scheme), login.asked);

    std::optional<Login> given;
    if (fromUrl && !state.urlLoginTried) {
        state.urlLoginTried = true;
        given = fromUrl;
    } else if (login.asked < 2 && questions_) {
        const int attempt = login.asked++;
        given = questions_->credentials(recorder.text(), realm, attempt);
    }
    if (!given) {
        if (login.refused)
            refuse(AccessRefusal::LoginRefused, "the recorder refused the login");
        else
            refuse(AccessRefusal::LoginNeeded, "the recorder asks for a login");
        return false;
    }
    login.known = true;
    login.scheme = scheme;
    login.user = std::move(given->user);
    login.password = std::move(given->password);
    state.realm = realm;
    return true;
}

void RecorderAccess::refuse(AccessRefusal refusal, std::string text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (refusal_)
        return;
    refusal_ = refusal;
    refusalText_ = std::move(text);
}

std::optional<AccessRefusal> RecorderAccess::refusal() const {
    std::lock_guard<std::mutex> guard(lock_);
    return refusal_;
}

std::string RecorderAccess::refusalText() const {
    std::lock_guard<std::mutex> guard(lock_);
    return refusalText_;
}

}  // namespace picvox
