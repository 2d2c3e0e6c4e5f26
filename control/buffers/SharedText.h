#pragma once

#include <mutex>
#include <string>

namespace picvox {

// A text property that other threads of the control read while the page may replace it (URLs,
// messages, AbsoluteTime written by the download thread). Readers take a copy, so a put never
// frees a text that someone is reading. The lock is a leaf: nothing else is taken while held.
class SharedText {
public:
    SharedText() = default;
    explicit SharedText(std::string initial) : text_(std::move(initial)) {}
    SharedText(const SharedText&) = delete;
    SharedText& operator=(const SharedText&) = delete;

    std::string get() const {
        std::lock_guard<std::mutex> guard(lock_);
        return text_;
    }
    void set(std::string text) {
        std::lock_guard<std::mutex> guard(lock_);
        text_.swap(text);
    }

private:
    mutable std::mutex lock_;
    std::string text_;
};

}  // namespace picvox
