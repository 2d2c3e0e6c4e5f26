#include "platform/net/TlsTrust.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/Hex.h"

namespace platform {

namespace {

bool isIpLiteral(const std::string& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// Certificate texts come from the server: shown as they are, but never with control characters
// and never longer than the bound.
std::string printable(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    if (text.size() > PeerCertificate::kMaxTextBytes)
        text.resize(PeerCertificate::kMaxTextBytes);
    return text;
}

std::string subjectText(X509* certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    std::string text;
    if (X509_NAME_print_ex(bio, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253) >= 0) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        if (data && size > 0)
            text.assign(data, static_cast<std::size_t>(
                                  std::min<long>(size, PeerCertificate::kMaxTextBytes)));
    }
    BIO_free(bio);
    return printable(std::move(text));
}

std::string timeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return "?";
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buffer;
}

}  // namespace

std::string sha256Hex(const Sha256& digest) {
    return hexOf(digest);
}

std::optional<Sha256> parseSha256(std::string_view text) {
    Sha256 digest{};
    if (!parseHexBytes(text, digest, true))
        return std::nullopt;
    return digest;
}

PeerCertificate describeCertificate(X509* certificate) {
    PeerCertificate seen;
    if (!certificate)
        return seen;
    unsigned int length = 0;
    unsigned char digest[EVP_MAX_MD_SIZE];
    if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1 && length == 32)
        std::memcpy(seen.sha256.data(), digest, 32);
    seen.subject = subjectText(certificate);
    seen.validity = timeText(X509_get0_notBefore(certificate)) + " to " +
                    timeText(X509_get0_notAfter(certificate));
    return seen;
}

bool verifyServerChain(X509_STORE_CTX* context, const std::string& host,
                       const std::optional<Sha256>& pinned, PeerCertificate& seen) {
    X509* leaf = context ? X509_STORE_CTX_get0_cert(context) : nullptr;
    if (!leaf) {
        seen.problem = "no certificate";
        return false;
    }
    seen = describeCertificate(leaf);
    // The host name is part of the chain's check, so that one verdict covers both.
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
    bool named = false;
    if (param && !host.empty()) {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        named = isIpLiteral(host)
                    ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                    : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
    }
    if (named && X509_verify_cert(context) == 1)
        return true;
    seen.problem = named ? X509_verify_cert_error_string(X509_STORE_CTX_get_error(context))
                         : "the host name cannot be checked";
    if (pinned && *pinned == seen.sha256) {
        X509_STORE_CTX_set_error(context, X509_V_OK);
        return true;
    }
    if (X509_STORE_CTX_get_error(context) == X509_V_OK)
        X509_STORE_CTX_set_error(context, X509_V_ERR_APPLICATION_VERIFICATION);
    return false;
}

}  // namespace platform
