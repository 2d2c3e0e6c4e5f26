#pragma once

#include <exception>
#include <string>

namespace platform {

// Error numbers of the internet layer, as the control's log prints them (dwError).
enum InternetError : int {
    kInternetErrorTimeout = 12002,
    kInternetErrorInternal = 12004,
    kInternetErrorNameNotResolved = 12007,
    kInternetErrorOperationCancelled = 12017,
    kInternetErrorCannotConnect = 12029,
    kInternetErrorConnectionAborted = 12030,
    // The server's certificate was refused (no authority vouches for it, another host's, out
    // of date) and is not the one the user trusted.
    kInternetErrorInvalidCa = 12045,
    kInternetErrorInvalidServerResponse = 12152,
    // The TLS handshake failed for another reason (no common version or cipher, TLS unavailable).
    kInternetErrorSecureFailure = 12175,
};

// What the session, connection and file classes throw when a transfer fails; the callers catch
// it where it arises and turn it into a failure value.
class InternetException : public std::exception {
public:
    InternetException(int errorCode, int context, std::string message)
        : errorCode_(errorCode), context_(context), message_(std::move(message)) {
        if (message_.size() > 256)
            message_.resize(256);
    }
    int errorCode() const { return errorCode_; }
    int context() const { return context_; }
    // At most 256 characters.
    const std::string& message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int errorCode_;
    int context_;
    std::string message_;
};

}  // namespace platform
