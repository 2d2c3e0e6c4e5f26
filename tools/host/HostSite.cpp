#include "tools/host/HostSite.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <string.h>

#include <algorithm>

#include "platform/com/Automation.h"
#include "tools/host/PageText.h"

namespace picvoxhost {

using namespace platform::com;

namespace {

std::string utf8(LPCOLESTR text) {
    return text ? utf16ToUtf8(std::u16string_view(text)) : std::string();
}

// At most `limit` bytes of UTF-8 text, never ending inside a character.
std::string cutUtf8(std::string text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u)
        --end;
    text.resize(end);
    return text;
}

}  // namespace

MessageIcon messageIconOf(std::uint32_t style) {
    switch (style) {
        case picvox::kPicvoxMessageWarning:
            return MessageIcon::Warning;
        case picvox::kPicvoxMessageInformation:
            return MessageIcon::Information;
        default:
            return MessageIcon::None;
    }
}

HostSite* HostSite::create(HostPage& page, std::uint64_t window) {
    return new HostSite(page, window);
}

HostSite::HostSite(HostPage& page, std::uint64_t window)
    : page_(page), window_(window), context_(std::make_unique<QObject>()) {}

HostSite::~HostSite() {
    attach(nullptr);
}

bool HostSite::onGuiThread() const {
    return QThread::currentThread() == context_->thread();
}

template <typename F>
void HostSite::onGui(F call) {
    if (onGuiThread())
        call();
    else
        QMetaObject::invokeMethod(context_.get(), std::move(call), Qt::QueuedConnection);
}

void HostSite::attach(picvox::IHostedControl* control) {
    control_ = control;
    if (!control) {
        for (auto& [id, timer] : timers_)
            delete timer;
        timers_.clear();
        std::lock_guard<std::mutex> guard(lock_);
        activeTimers_.clear();
    }
}

void HostSite::setPageElements(const std::set<std::string>& names) {
    std::lock_guard<std::mutex> guard(lock_);
    elementNames_ = names;
}

void HostSite::setPageBlocked(bool blocked) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        pageBlocked_ = blocked;
    }
    boxClosed_.notify_all();
}

std::vector<std::string> HostSite::messages() const {
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
}

std::vector<std::string> HostSite::statuses() const {
    std::lock_guard<std::mutex> guard(lock_);
    return statuses_;
}

std::map<std::string, std::string> HostSite::elements() const {
    std::lock_guard<std::mutex> guard(lock_);
    return elements_;
}

std::set<std::uint32_t> HostSite::activeTimers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return activeTimers_;
}

HRESULT HostSite::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == picvox::IID_IPicvoxSite) {
        *ppv = static_cast<picvox::IPicvoxSite*>(this);
        AddRef();
        return S_OK;
    }
    if (riid == picvox::IID_IPicvoxStatusSite) {
        *ppv = static_cast<picvox::IPicvoxStatusSite*>(this);
        AddRef();
        return S_OK;
    }
    if (riid == picvox::IID_IPicvoxAccessSite) {
        *ppv = static_cast<picvox::IPicvoxAccessSite*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG HostSite::AddRef() {
    return ++refs_;
}

ULONG HostSite::Release() {
    const ULONG left = --refs_;
    // The host detaches the control and ends its threads before it drops its own reference, so
    // the last one goes on the GUI thread.
    if (left == 0)
        delete this;
    return left;
}

HRESULT HostSite::GetWindow(std::uint64_t* window) {
    if (!window)
        return E_POINTER;
    *window = window_;
    return S_OK;
}

HRESULT HostSite::InvalidateControl() {
    // Coalesced: many requests before the next paint make one repaint.
    if (!repaintPending_.exchange(true)) {
        QMetaObject::invokeMethod(
            context_.get(),
            [this] {
                repaintPending_ = false;
                page_.controlInvalidated();
            },
            Qt::QueuedConnection);
    }
    return S_OK;
}

HRESULT HostSite::InvalidateRect(std::int32_t, std::int32_t, std::int32_t width,
                                 std::int32_t height) {
    if (width <= 0 || height <= 0)
        return S_OK;
    return InvalidateControl();
}

HRESULT HostSite::ReplaceElementByInput(LPCOLESTR name, LPCOLESTR outerHtml) {
    const std::string wanted = utf8(name);
    const auto element = parseInputElement(utf8(outerHtml));
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!elementNames_.count(wanted))
            return S_FALSE;
        if (!element)
            return E_INVALIDARG;
        // The page keeps its element under the name it looked up, whatever the new one says.
        elements_[wanted] = element->value;
    }
    if (page_.answersAtOnce()) {
        page_.showElement(wanted, element->value);
    } else {
        onGui([this, wanted, value = element->value] { page_.showElement(wanted, value); });
    }
    return S_OK;
}

HRESULT HostSite::SetTimer(std::uint32_t id, std::uint32_t periodMs) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        activeTimers_.insert(id);
    }
    onGui([this, id, periodMs] { setTimerOnGui(id, periodMs); });
    return S_OK;
}

HRESULT HostSite::KillTimer(std::uint32_t id) {
    bool wasSet = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        wasSet = activeTimers_.erase(id) > 0;
    }
    onGui([this, id] { killTimerOnGui(id); });
    return wasSet ? S_OK : S_FALSE;
}

void HostSite::setTimerOnGui(std::uint32_t id, std::uint32_t periodMs) {
    if (!control_)
        return;
    QTimer*& timer = timers_[id];
    if (!timer) {
        timer = new QTimer(context_.get());
        QObject::connect(timer, &QTimer::timeout, context_.get(), [this, id] {
            if (control_)
                control_->OnTimer(id);
        });
    }
    timer->start(static_cast<int>(std::min<std::uint32_t>(periodMs, 24u * 3600 * 1000)));
}

void HostSite::killTimerOnGui(std::uint32_t id) {
    const auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    delete it->second;
    timers_.erase(it);
}

HRESULT HostSite::ShowMessageBox(LPCOLESTR caption, LPCOLESTR text, std::uint32_t style) {
    std::string title = utf8(caption);
    if (title.empty())
        title = kDefaultCaption;
    const std::string body = utf8(text);
    const MessageIcon icon = messageIconOf(style);
    {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(body);
    }
    askOnGui(
        [this, title, body, icon] {
            page_.showMessage(title, body, icon);
            return true;
        },
        false);
    return S_OK;
}

template <typename R, typename F>
R HostSite::askOnGui(F ask, R unanswered) {
    if (page_.answersAtOnce() || onGuiThread())
        return ask();
    struct Question {
        bool closed = false;
        std::optional<R> answer;
    };
    auto question = std::make_shared<Question>();
    QMetaObject::invokeMethod(
        context_.get(),
        [this, question, ask] {
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (pageBlocked_ || question->closed)
                    return;
            }
            R answer = ask();
            {
                std::lock_guard<std::mutex> guard(lock_);
                question->answer = std::move(answer);
                question->closed = true;
            }
            boxClosed_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> guard(lock_);
    boxClosed_.wait(guard, [&] { return question->closed || pageBlocked_; });
    // An answer that comes after the caller gave up is dropped with the question.
    question->closed = true;
    if (!question->answer)
        return unanswered;
    return std::move(*question->answer);
}

HRESULT HostSite::GetCredentials(LPCOLESTR recorder, LPCOLESTR realm, std::uint32_t attempt,
                                 BSTR* user, BSTR* password) {
    if (!user || !password)
        return E_POINTER;
    *user = nullptr;
    *password = nullptr;
    const std::string name = utf8(recorder);
    const std::string shownRealm = cutUtf8(utf8(realm), kMaxStatusBytes);
    std::optional<HostLogin> login =
        askOnGui([this, name, shownRealm,
                  attempt] { return page_.askLogin(name, shownRealm, static_cast<int>(attempt)); },
                 std::optional<HostLogin>());
    if (!login)
        return S_FALSE;
    *user = bstrFromUtf8(login->user);
    *password = bstrFromUtf8(login->password);
    ::explicit_bzero(login->password.data(), login->password.capacity());
    if (!*user || !*password) {
        SysFreeString(*user);
        SysFreeString(*password);
        *user = *password = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT HostSite::TrustCertificate(LPCOLESTR recorder, LPCOLESTR sha256, LPCOLESTR subject,
                                   LPCOLESTR validity, std::uint32_t* answer) {
    if (!answer)
        return E_POINTER;
    *answer = picvox::kPicvoxTrustRefused;
    const CertificateQuestion question{utf8(recorder), utf8(sha256), utf8(subject), utf8(validity)};
    const HostTrust trust =
        askOnGui([this, question] { return page_.askTrust(question); }, HostTrust::Refused);
    *answer = trust == HostTrust::Always    ? picvox::kPicvoxTrustAlways
              : trust == HostTrust::ThisRun ? picvox::kPicvoxTrustThisRun
                                            : picvox::kPicvoxTrustRefused;
    return S_OK;
}

HRESULT HostSite::ChooseFolder(LPCOLESTR startFolder, BSTR* folder) {
    if (!folder)
        return E_POINTER;
    *folder = nullptr;
    // The chooser belongs to the page thread; asked from elsewhere it is a cancel.
    if (!page_.answersAtOnce() && !onGuiThread())
        return S_FALSE;
    const auto chosen = page_.chooseFolder(utf8(startFolder));
    if (!chosen)
        return S_FALSE;
    *folder = bstrFromUtf8(*chosen);
    return *folder ? S_OK : E_OUTOFMEMORY;
}

HRESULT HostSite::ShowStatus(LPCOLESTR text) {
    std::string line = cutUtf8(utf8(text), kMaxStatusBytes);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (statuses_.size() >= kKeptStatuses)
            statuses_.erase(statuses_.begin());
        statuses_.push_back(line);
    }
    if (page_.answersAtOnce())
        page_.showStatus(line);
    else
        onGui([this, line = std::move(line)] { page_.showStatus(line); });
    return S_OK;
}

}  // namespace picvoxhost
