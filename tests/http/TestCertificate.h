#pragma once

// Certificates made at test time with OpenSSL (no key is ever kept in the repository): a key pair
// and an X.509 certificate, self-made or signed by another of these, written as PEM files for
// the simulated recorder's TLS.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace korvex::test {

class TestCertificate {
public:
    struct Options {
        std::string commonName = "recorder.test";
        std::vector<std::string> subjectAltNames = {"IP:127.0.0.1"};  // "DNS:x", "IP:a.b.c.d"
        long validFromSeconds = -3600;                                // relative to now
        long validForSeconds = 30L * 24 * 3600;
        bool authority = false;  // may sign others
    };

    // Self-made, or signed by `issuer` when given.
    explicit TestCertificate(const Options& options, const TestCertificate* issuer = nullptr)
        : key_(EVP_EC_gen("P-256"), EVP_PKEY_free), cert_(X509_new(), X509_free) {
        X509* c = cert_.get();
        X509_set_version(c, 2);
        static long serial = 1;
        ASN1_INTEGER_set(X509_get_serialNumber(c), serial++);
        X509_gmtime_adj(X509_getm_notBefore(c), options.validFromSeconds);
        X509_gmtime_adj(X509_getm_notAfter(c), options.validFromSeconds + options.validForSeconds);
        X509_set_pubkey(c, key_.get());
        X509_NAME* name = X509_get_subject_name(c);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Korvex tests"), -1, -1,
                                   0);
        X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_ASC,
            reinterpret_cast<const unsigned char*>(options.commonName.c_str()), -1, -1, 0);
        X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer->cert()) : name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, issuer ? issuer->cert() : c, c, nullptr, nullptr, 0);
        addExtension(&ctx, NID_basic_constraints,
                     options.authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
        if (options.authority)
            addExtension(&ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
        std::string alt;
        for (const std::string& entry : options.subjectAltNames)
            alt += (alt.empty() ? "" : ",") + entry;
        if (!alt.empty())
            addExtension(&ctx, NID_subject_alt_name, alt.c_str());
        X509_sign(c, issuer ? issuer->key_.get() : key_.get(), EVP_sha256());
    }

    X509* cert() const { return cert_.get(); }

    // sha256sum-style hex of the DER certificate.
    std::string sha256() const {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        X509_digest(cert_.get(), EVP_sha256(), md, &n);
        static const char hex[] = "0123456789abcdef";
        std::string out;
        for (unsigned int i = 0; i < n; ++i) {
            out += hex[md[i] >> 4];
            out += hex[md[i] & 0x0F];
        }
        return out;
    }

    // Writes "<stem>.crt" and "<stem>.key"; the key file only the owner can read.
    void write(const std::string& stem) const {
        if (FILE* f = std::fopen((stem + ".crt").c_str(), "w")) {
            PEM_write_X509(f, cert_.get());
            std::fclose(f);
        }
        if (FILE* f = std::fopen((stem + ".key").c_str(), "w")) {
            PEM_write_PrivateKey(f, key_.get(), nullptr, nullptr, 0, nullptr, nullptr);
            std::fclose(f);
        }
    }

private:
    void addExtension(X509V3_CTX* ctx, int nid, const char* value) {
        if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value)) {
            X509_add_ext(cert_.get(), ext, -1);
            X509_EXTENSION_free(ext);
        }
    }

    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key_;
    std::unique_ptr<X509, void (*)(X509*)> cert_;
};

}  // namespace korvex::test
