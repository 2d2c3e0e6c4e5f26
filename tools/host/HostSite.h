#pragma once

// The page that hosts the control: the site interface the control calls from any of its threads,
// brought onto the GUI thread (the page thread) where Qt needs it. What the page shows is left
// to a HostPage: a window, or the headless printer.

#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "control/shell/IPicvoxer.h"

class QTimer;

namespace picvoxhost {

// The icon of a message box, from its style.
enum class MessageIcon { None, Warning, Information };
MessageIcon messageIconOf(std::uint32_t style);

// What the user answers when a recorder asks for a login or shows a certificate of its own.
struct HostLogin {
    std::string user;
    std::string password;
};
enum class HostTrust { Refused, ThisRun, Always };
// What the command line answers before anyone is asked: one login (for the first question of
// any realm) and one certificate trusted for the run.
struct HostAnswers {
    std::optional<HostLogin> login;
    std::string trustedSha256;  // 64 lower-case hex digits, or empty
};
struct CertificateQuestion {
    std::string recorder;  // "https://host:port"
    std::string sha256;    // 64 lower-case hex digits
    std::string subject;
    std::string validity;
};

// How the page presents what the control asks for. Called on the GUI thread, except that a page
// which answers at once (headless) gets elements, messages and status on the control's calling
// thread.
class HostPage {
public:
    virtual ~HostPage() = default;
    // The control asked to be repainted.
    virtual void controlInvalidated() = 0;
    virtual void showElement(const std::string& name, const std::string& value) = 0;
    // Returns when the user closed the box.
    virtual void showMessage(const std::string& caption, const std::string& text,
                             MessageIcon icon) = 0;
    // The control's status line; empty clears it. Must not wait for anything.
    virtual void showStatus(const std::string& text) = 0;
    // Nothing when cancelled.
    virtual std::optional<std::string> chooseFolder(const std::string& startFolder) = 0;
    // True: elements and messages need no GUI thread and are answered on the caller's thread.
    virtual bool answersAtOnce() const = 0;
    // A login for `realm` of `recorder` (attempt 0 first, 1 after a refusal); nothing when the
    // user gives none. Returns when answered, like showMessage.
    virtual std::optional<HostLogin> askLogin(const std::string& /*recorder*/,
                                              const std::string& /*realm*/, int /*attempt*/) {
        return std::nullopt;
    }
    virtual HostTrust askTrust(const CertificateQuestion&) { return HostTrust::Refused; }
};

// Answers IPicvoxSite and the optional IPicvoxStatusSite and IPicvoxAccessSite.
class HostSite final : public picvox::IPicvoxSite,
                       public picvox::IPicvoxStatusSite,
                       public picvox::IPicvoxAccessSite {
public:
    // The caption of a box whose caption the control left empty.
    static constexpr const char* kDefaultCaption = "picvox-host";
    // A status text is cut to this many bytes (at a character boundary), and so many of the
    // latest are kept for statuses().
    static constexpr std::size_t kMaxStatusBytes = 1024;
    static constexpr std::size_t kKeptStatuses = 64;

    // A site with one reference (the caller's), made and released on the GUI thread. `window` is
    // the opaque handle the control is given for its window (not 0).
    static HostSite* create(HostPage& page, std::uint64_t window);

    // The control whose OnTimer the timers call; null stops every timer. GUI thread.
    void attach(picvox::IHostedControl* control);
    // The NAMEs of the page's INPUT elements; replacing any other name answers S_FALSE.
    void setPageElements(const std::set<std::string>& names);
    // While the GUI thread is blocked (in Stop), a box asked for by another thread cannot be
    // shown: it is answered at once, so that the thread Stop waits for can end.
    void setPageBlocked(bool blocked);

    // Every box shown so far (texts only), and the latest value of each page element.
    std::vector<std::string> messages() const;
    // The latest status texts, oldest first (empty ones included).
    std::vector<std::string> statuses() const;
    std::map<std::string, std::string> elements() const;
    std::set<std::uint32_t> activeTimers() const;

    // IUnknown
    platform::com::HRESULT QueryInterface(platform::com::REFIID riid, void** ppv) override;
    platform::com::ULONG AddRef() override;
    platform::com::ULONG Release() override;

    // IPicvoxSite
    platform::com::HRESULT GetWindow(std::uint64_t* window) override;
    platform::com::HRESULT InvalidateControl() override;
    platform::com::HRESULT ReplaceElementByInput(platform::com::LPCOLESTR name,
                                                 platform::com::LPCOLESTR outerHtml) override;
    platform::com::HRESULT InvalidateRect(std::int32_t x, std::int32_t y, std::int32_t width,
                                          std::int32_t height) override;
    platform::com::HRESULT SetTimer(std::uint32_t id, std::uint32_t periodMs) override;
    platform::com::HRESULT KillTimer(std::uint32_t id) override;
    platform::com::HRESULT ShowMessageBox(platform::com::LPCOLESTR caption,
                                          platform::com::LPCOLESTR text,
                                          std::uint32_t style) override;
    platform::com::HRESULT ChooseFolder(platform::com::LPCOLESTR startFolder,
                                        platform::com::BSTR* folder) override;

    // IPicvoxStatusSite: from any thread, never waits for the GUI thread.
    platform::com::HRESULT ShowStatus(platform::com::LPCOLESTR text) override;

    // IPicvoxAccessSite: asked on the GUI thread like a message box, and given up (no login,
    // refused) while the GUI thread is blocked in Stop.
    platform::com::HRESULT GetCredentials(platform::com::LPCOLESTR recorder,
                                          platform::com::LPCOLESTR realm, std::uint32_t attempt,
                                          platform::com::BSTR* user,
                                          platform::com::BSTR* password) override;
    platform::com::HRESULT TrustCertificate(platform::com::LPCOLESTR recorder,
                                            platform::com::LPCOLESTR sha256,
                                            platform::com::LPCOLESTR subject,
                                            platform::com::LPCOLESTR validity,
                                            std::uint32_t* answer) override;

private:
    HostSite(HostPage& page, std::uint64_t window);
    ~HostSite();

    bool onGuiThread() const;
    // Runs `call` on the GUI thread: now when already there, else queued.
    template <typename F>
    void onGui(F call);
    // Runs `ask` on the GUI thread while the caller waits, and gives `unanswered` when the GUI
    // thread is (or becomes) blocked in Stop, which may be waiting for the caller.
    template <typename R, typename F>
    R askOnGui(F ask, R unanswered);
    void setTimerOnGui(std::uint32_t id, std::uint32_t periodMs);
    void killTimerOnGui(std::uint32_t id);

    std::atomic<platform::com::ULONG> refs_{1};
    HostPage& page_;
    const std::uint64_t window_;
    // Lives on the GUI thread; queued calls go through it and die with it.
    std::unique_ptr<QObject> context_;
    std::atomic<bool> repaintPending_{false};

    // GUI thread only.
    picvox::IHostedControl* control_ = nullptr;
    std::map<std::uint32_t, QTimer*> timers_;

    mutable std::mutex lock_;  // guards what follows
    std::condition_variable boxClosed_;
    bool pageBlocked_ = false;
    std::set<std::string> elementNames_;
    std::map<std::string, std::string> elements_;
    std::vector<std::string> messages_;
    std::vector<std::string> statuses_;
    std::set<std::uint32_t> activeTimers_;
};

}  // namespace picvoxhost
