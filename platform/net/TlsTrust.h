#pragma once

// How a recorder's TLS certificate is judged: against the system's authorities with its host
// name, or as exactly the certificate the user chose to trust.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct x509_st;
struct x509_store_ctx_st;

namespace platform {

using Sha256 = std::array<std::uint8_t, 32>;

// 64 lower-case hex digits, as sha256sum prints them.
std::string sha256Hex(const Sha256& digest);
// 64 hex digits in either case, with or without ':' between the bytes; nothing else.
std::optional<Sha256> parseSha256(std::string_view text);

// What a server showed of itself, for the user's decision and the log.
struct PeerCertificate {
    static constexpr std::size_t kMaxTextBytes = 512;

    Sha256 sha256{};       // of the DER encoding of the server's own certificate
    std::string subject;   // RFC 2253 text, printable, at most kMaxTextBytes
    std::string validity;  // "2024-01-01 00:00:00 UTC to 2025-01-01 00:00:00 UTC"
    std::string problem;   // why it did not verify; empty when it did
};

PeerCertificate describeCertificate(x509_st* certificate);

// The decision on the chain a server sent, made inside the handshake. Accepted when the chain
// verifies against the context's store and the server's certificate names `host` (a DNS name or
// an IP literal), or when the server's own certificate is exactly `pinned`: a certificate the
// user chose to trust is taken whatever its issuer, host name or dates. `seen` describes the
// server's certificate either way.
bool verifyServerChain(x509_store_ctx_st* context, const std::string& host,
                       const std::optional<Sha256>& pinned, PeerCertificate& seen);

}  // namespace platform
