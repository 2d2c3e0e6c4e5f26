#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "control/buffers/FrameQueue.h"
#include "control/buffers/SharedText.h"
#include "control/run/MainProcess.h"
#include "control/run/PageCounter.h"
#include "control/run/PageInput.h"
#include "control/run/PagePort.h"
#include "control/run/RunEngine.h"
#include "control/run/Surface.h"
#include "control/shell/IPicvoxer.h"
#include "platform/Worker.h"
#include "platform/com/ComBase.h"

namespace picvox {

// Location cut after its last separator ("\" for a local-file URL, "/" otherwise; the separator
// stays). A text without that separator stays whole.
std::string deriveLocationBase(std::string_view location);

// The browser control: the properties a recorder's page sets from script, Start and Stop, and
// the interfaces a host needs to embed it. Texts are kept in UTF-8.
class CPicvoxer final : public IPicvoxer,
                        public IHostedControl,
                        public platform::com::IPersistPropertyBag,
                        public platform::com::IObjectSafety,
                        public RepaintTarget,
                        public run::PagePort,
                        public RunControl {
public:
    // A new control with one reference, or null when memory runs out.
    static CPicvoxer* create();

    // Extent of a new control: 2 x 2 inches in 0.01 mm.
    static constexpr std::uint32_t kDefaultExtent = 5080;

    // IUnknown
    HRESULT QueryInterface(platform::com::REFIID riid, void** ppv) override;
    platform::com::ULONG AddRef() override;
    platform::com::ULONG Release() override;

    // IDispatch
    HRESULT GetTypeInfoCount(platform::com::UINT* pctinfo) override;
    HRESULT GetTypeInfo(platform::com::UINT iTInfo, platform::com::LCID lcid,
                        platform::com::ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(platform::com::REFIID riid, platform::com::LPOLESTR* rgszNames,
                          platform::com::UINT cNames, platform::com::LCID lcid,
                          platform::com::DISPID* rgDispId) override;
    HRESULT Invoke(platform::com::DISPID dispIdMember, platform::com::REFIID riid,
                   platform::com::LCID lcid, platform::com::WORD wFlags,
                   platform::com::DISPPARAMS* pDispParams, platform::com::VARIANT* pVarResult,
                   platform::com::EXCEPINFO* pExcepInfo, platform::com::UINT* puArgErr) override;

    // IPicvoxer
    HRESULT get_WaveFileURL(BSTR* pVal) override;
    HRESULT put_WaveFileURL(BSTR newVal) override;
    HRESULT get_ImageFileURL(BSTR* pVal) override;
    HRESULT put_ImageFileURL(BSTR newVal) override;
    HRESULT get_CacheTime(std::int32_t* pVal) override;
    HRESULT put_CacheTime(std::int32_t newVal) override;
    HRESULT Start() override;
    HRESULT Stop() override;
    HRESULT get_AbsoluteTime(BSTR* pVal) override;
    HRESULT put_AbsoluteTime(BSTR newVal) override;
    HRESULT get_Location(BSTR* pVal) override;
    HRESULT put_Location(BSTR newVal) override;
    HRESULT get_mask_height(std::int32_t* pVal) override;
    HRESULT put_mask_height(std::int32_t newVal) override;
    HRESULT get_mask_color(std::int32_t* pVal) override;
    HRESULT put_mask_color(std::int32_t newVal) override;
    HRESULT get_wave_request_interval(std::int32_t* pVal) override;
    HRESULT put_wave_request_interval(std::int32_t newVal) override;
    HRESULT get_InitWaveFileURL(BSTR* pVal) override;
    HRESULT put_InitWaveFileURL(BSTR newVal) override;
    HRESULT get_hdd_save(std::int32_t* pVal) override;
    HRESULT put_hdd_save(std::int32_t newVal) override;
    HRESULT get_jpeg2000_interval(std::int32_t* pVal) override;
    HRESULT put_jpeg2000_interval(std::int32_t newVal) override;
    HRESULT get_save_time(std::int32_t* pVal) override;
    HRESULT put_save_time(std::int32_t newVal) override;
    HRESULT get_hdd_full_msg(BSTR* pVal) override;
    HRESULT put_hdd_full_msg(BSTR newVal) override;
    HRESULT get_complete_msg(BSTR* pVal) override;
    HRESULT put_complete_msg(BSTR newVal) override;
    HRESULT get_error_msg(BSTR* pVal) override;
    HRESULT put_error_msg(BSTR newVal) override;
    HRESULT get_SaveComplete(std::int32_t* pVal) override;
    HRESULT put_SaveComplete(std::int32_t newVal) override;
    HRESULT get_TimestampOrder(std::int32_t* pVal) override;
    HRESULT put_TimestampOrder(std::int32_t newVal) override;
    HRESULT get_delimiter(BSTR* pVal) override;
    HRESULT put_delimiter(BSTR newVal) override;
    HRESULT get_inputname(BSTR* pVal) override;
    HRESULT put_inputname(BSTR newVal) override;
    HRESULT get_destination(BSTR* pVal) override;
    HRESULT put_destination(BSTR newVal) override;
    HRESULT get_destinationSW(std::int32_t* pVal) override;
    HRESULT put_destinationSW(std::int32_t newVal) override;
    HRESULT get_model(BSTR* pVal) override;
    HRESULT put_model(BSTR newVal) override;
    HRESULT get_counterSW(std::int32_t* pVal) override;
    HRESULT put_counterSW(std::int32_t newVal) override;
    HRESULT get_counter(BSTR* pVal) override;
    HRESULT put_counter(BSTR newVal) override;
    HRESULT get_DL_InfFileURL(BSTR* pVal) override;
    HRESULT put_DL_InfFileURL(BSTR newVal) override;

    // IHostedControl
    HRESULT SetClientSite(platform::com::IUnknown* site) override;
    HRESULT GetClientSite(platform::com::IUnknown** site) override;
    HRESULT SetExtent(std::uint32_t cx, std::uint32_t cy) override;
    HRESULT GetExtent(std::uint32_t* cx, std::uint32_t* cy) override;
    HRESULT Draw(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                 std::int32_t strideBytes) override;
    HRESULT OnTimer(std::uint32_t id) override;

    // IPersistPropertyBag: the extent only, as "_cx" and "_cy".
    HRESULT GetClassID(platform::com::CLSID* pClassID) override;
    HRESULT InitNew() override;
    HRESULT Load(platform::com::IPropertyBag* pPropBag,
                 platform::com::IErrorLog* pErrorLog) override;
    HRESULT Save(platform::com::IPropertyBag* pPropBag, platform::com::BOOL fClearDirty,
                 platform::com::BOOL fSaveAllProperties) override;

    // IObjectSafety
    HRESULT GetInterfaceSafetyOptions(platform::com::REFIID riid,
                                      platform::com::DWORD* pdwSupportedOptions,
                                      platform::com::DWORD* pdwEnabledOptions) override;
    HRESULT SetInterfaceSafetyOptions(platform::com::REFIID riid,
                                      platform::com::DWORD dwOptionSetMask,
                                      platform::com::DWORD dwEnabledOptions) override;

    // RepaintTarget: the FrameQueue's repaint request goes to the page's site.
    void invalidateWindow() override;

    // run::PagePort over the page's site; any thread.
    std::uint64_t window() const override { return window_.load(); }
    run::Rect clientRect() const override;
    void invalidateRect(const run::Rect& rect) override;
    void setTimer(std::uint32_t id, std::uint32_t periodMs) override;
    void killTimer(std::uint32_t id) override;
    void messageBox(std::string_view caption, std::string_view text,
                    run::MessageIcon icon) override;
    bool replaceElementByInput(std::string_view name, std::string_view outerHtml) override;
    void statusText(std::string_view text) override;
    std::optional<std::string> chooseFolder(const std::string& startFolder) override;
    // AccessQuestions over the site's optional IPicvoxAccessSite (download thread).
    std::optional<Login> credentials(const std::string& recorder, const std::string& realm,
                                     int attempt) override;
    TrustAnswer trustCertificate(const std::string& recorder,
                                 const CertificateFacts& facts) override;

    // Paints the current picture, else the waiting animation, else black (page thread).
    void OnDraw(const run::Surface& surface);

    // ---- What the main process thread and its workers call ----
    // Starts the waiting animation on `worker` (its owner stops it).
    bool StartAnimationThread(platform::Worker& worker, int maskHeight);
    // Sets the page counter's timer for the save mode of the current properties.
    void ArmPageCounter();
    // The folder choice: the shown folder, or nothing when the user cancelled.
    std::optional<std::string> ChooseSaveFolder();
    // Replaces the page element `name` by an INPUT element showing `value`.
    bool SetPageInput(std::string_view name, std::string_view value, run::InputTemplate kind);
    // counterValue, timerId and countDone for the WAV writer and the end-of-run report.
    run::PageCounter& pageCounter() override { return pageCounter_; }
    // The run's picture queue; painting reads it. Set by the main process thread, null when
    // none. The queue must be built with this control's lock.
    void setFrameQueue(std::shared_ptr<FrameQueue> queue) override;
    std::shared_ptr<FrameQueue> frameQueue() const;

    // RunControl: what the run's threads read and write of the control.
    std::string text(RunText which) const override;
    void setText(RunText which, const std::string& value) override;
    void setSaveComplete(std::int32_t value) override { saveComplete_ = value; }
    run::PagePort& page() override { return *this; }
    RepaintTarget* repaintTarget() override { return this; }
    bool startAnimation(platform::Worker& worker, int maskHeight) override {
        return StartAnimationThread(worker, maskHeight);
    }

    // For the threads and for tests: the derived base URL, the control lock and the run.
    std::string locationBase() const { return locationBase_.get(); }
    std::mutex& controlLock() override { return controlLock_; }
    RunEngine& runEngine() { return run_; }

private:
    CPicvoxer();
    ~CPicvoxer() override;

    std::atomic<platform::com::ULONG> refs_{1};

    SharedText waveFileUrl_;
    SharedText initWaveFileUrl_;
    SharedText imageFileUrl_;
    SharedText absoluteTime_;
    SharedText location_;
    SharedText locationBase_;
    // CacheTime has no defined value before the page sets it; 0 fails Live mode's range check
    // until then.
    std::int32_t cacheTimeMs_ = 0;
    std::int32_t waveRequestIntervalMs_ = 2000;
    std::int32_t maskHeight_ = 0;
    std::int32_t maskColor_ = 0;
    std::int32_t saveTime_ = 30;
    std::int32_t pictureInterval_ = 0;
    std::atomic<std::int32_t> saveComplete_{0};
    std::int32_t timestampOrder_ = 0;
    SharedText delimiter_{"-"};
    SharedText inputName_{"save_folder"};
    SharedText destination_{"C:\\"};
    std::int32_t destinationSW_ = 0;
    SharedText model_{"TRM"};
    std::int32_t counterSW_ = 0;
    SharedText counter_{"save_timer_counter"};
    std::int32_t hddSave_ = 0;
    SharedText diskFullMsg_{"The disk is full."};
    SharedText completeMsg_{"Preservation of a sound and images was completed."};
    SharedText errorMsg_{"The error occurred during preservation. "};
    SharedText infFileUrl_;

    std::mutex controlLock_;

    // Painting and the page counter.
    run::PageCounter pageCounter_;
    bool firstPaint_ = true;  // page thread only
    std::atomic<std::uint64_t> window_{0};
    std::atomic<std::int32_t> paintedWidth_{0};
    std::atomic<std::int32_t> paintedHeight_{0};
    // A leaf lock for the pointer alone: painting takes its own reference, so the main process
    // thread may drop the queue while a paint still draws its picture.
    mutable std::mutex frameQueueLock_;
    std::shared_ptr<FrameQueue> frameQueue_;

    std::uint32_t extentCx_ = kDefaultExtent;
    std::uint32_t extentCy_ = kDefaultExtent;
    std::atomic<platform::com::DWORD> safetyEnabled_{0};

    // The page's site. A leaf lock: taken alone or inside the control lock, never around
    // anything else.
    mutable std::mutex siteLock_;
    platform::com::IUnknown* clientSite_ = nullptr;
    IPicvoxSite* site_ = nullptr;
    // The site with a reference of the caller's, or null; calls on it run outside siteLock_, so
    // a blocking box or chooser never holds up the other threads' repaints.
    IPicvoxSite* acquireSite() const;

    // The run: declared last, so it is gone (its threads ended) before anything it uses.
    RunEngine run_{*this};
};

}  // namespace picvox
