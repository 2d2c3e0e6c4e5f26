#include "tools/host/HeadlessPage.h"

#include <cstdio>

#include "tools/host/PageText.h"

namespace picvoxhost {

HeadlessPage::HeadlessPage(int width, int height, std::optional<std::string> chosenFolder,
                           HostAnswers answers)
    : area_(width, height, QImage::Format_RGB32),
      chosenFolder_(std::move(chosenFolder)),
      answers_(std::move(answers)) {
    area_.fill(Qt::black);
}

void HeadlessPage::paint() {
    if (!control_)
        return;
    // Format_RGB32 is 0xFFRRGGBB per pixel, the control's own surface format.
    control_->Draw(reinterpret_cast<std::uint32_t*>(area_.bits()), area_.width(), area_.height(),
                   static_cast<std::int32_t>(area_.bytesPerLine()));
    for (int y = 0; y < area_.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(area_.constScanLine(y));
        for (int x = 0; x < area_.width(); ++x) {
            if ((row[x] & 0x00FFFFFFu) != 0) {
                lastShown_ = area_.copy();
                return;
            }
        }
    }
}

void HeadlessPage::printLine(const std::string& line) {
    std::lock_guard<std::mutex> guard(printLock_);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void HeadlessPage::showElement(const std::string& name, const std::string& value) {
    printLine(elementLine({name, value}));
}

// Printed alike whatever the icon.
void HeadlessPage::showMessage(const std::string& caption, const std::string& text, MessageIcon) {
    printLine(messageLine(caption, text));
}

void HeadlessPage::showStatus(const std::string& text) {
    printLine(statusLine(text));
}

std::optional<std::string> HeadlessPage::chooseFolder(const std::string&) {
    return chosenFolder_;
}

std::optional<HostLogin> HeadlessPage::askLogin(const std::string&, const std::string&,
                                                int attempt) {
    if (attempt != 0)
        return std::nullopt;
    return answers_.login;
}

HostTrust HeadlessPage::askTrust(const CertificateQuestion& question) {
    return !answers_.trustedSha256.empty() && question.sha256 == answers_.trustedSha256
               ? HostTrust::ThisRun
               : HostTrust::Refused;
}

}  // namespace picvoxhost
