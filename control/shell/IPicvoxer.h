#pragma once

// The control's published interface (what its type library "PicvoxLib" 1.0 describes): the class
// id, the dual interface IPicvoxer in its vtable order, its dispatch ids, and the interfaces a
// host uses to site the control. Hosts include this header only.

#include <cstdint>

#include "platform/com/ComBase.h"

namespace picvox {

using platform::com::BSTR;
using platform::com::GUID;
using platform::com::HRESULT;

// {E8EE9E9D-A8BA-4B7E-B860-5C226993E156}
inline constexpr GUID CLSID_Picvoxer{
    0xE8EE9E9D, 0xA8BA, 0x4B7E, {0xB8, 0x60, 0x5C, 0x22, 0x69, 0x93, 0xE1, 0x56}};
// {C267EF43-3513-4304-8D83-F7A9938B8A74}
inline constexpr GUID IID_IPicvoxer{
    0xC267EF43, 0x3513, 0x4304, {0x8D, 0x83, 0xF7, 0xA9, 0x93, 0x8B, 0x8A, 0x74}};
// {72C5841C-8162-4E97-878D-4F1A4C121C04}
inline constexpr GUID LIBID_PicvoxLib{
    0x72C5841C, 0x8162, 0x4E97, {0x87, 0x8D, 0x4F, 0x1A, 0x4C, 0x12, 0x1C, 0x04}};
// {323C7C60-67AD-426F-A1F1-00536A3E345F}
inline constexpr GUID IID_IPicvoxSite{
    0x323C7C60, 0x67AD, 0x426F, {0xA1, 0xF1, 0x00, 0x53, 0x6A, 0x3E, 0x34, 0x5F}};
// {6DF3A2EE-BF49-41B4-92F9-E679EEC9E6A3}
inline constexpr GUID IID_IHostedControl{
    0x6DF3A2EE, 0xBF49, 0x41B4, {0x92, 0xF9, 0xE6, 0x79, 0xEE, 0xC9, 0xE6, 0xA3}};
// {9B1F4C2A-5D3E-4A61-8C7B-2E0F6A9D4B13}
inline constexpr GUID IID_IPicvoxStatusSite{
    0x9B1F4C2A, 0x5D3E, 0x4A61, {0x8C, 0x7B, 0x2E, 0x0F, 0x6A, 0x9D, 0x4B, 0x13}};

// {73ED104C-9F00-47E9-BC09-10053700E5AA}
inline constexpr GUID IID_IPicvoxAccessSite{
    0x73ED104C, 0x9F00, 0x47E9, {0xBC, 0x09, 0x10, 0x05, 0x37, 0x00, 0xE5, 0xAA}};

inline constexpr const char* kPicvoxProgId = "Picvox.Picvoxer.1";
inline constexpr const char* kPicvoxVersionIndependentProgId = "Picvox.Picvoxer";

enum PicvoxDispId : platform::com::DISPID {
    DISPID_WaveFileURL = 1,
    DISPID_ImageFileURL = 2,
    DISPID_CacheTime = 3,
    DISPID_Start = 4,
    DISPID_Stop = 5,
    DISPID_AbsoluteTime = 6,
    DISPID_Location = 7,
    DISPID_mask_height = 8,
    DISPID_mask_color = 9,
    DISPID_wave_request_interval = 10,
    DISPID_InitWaveFileURL = 11,
    DISPID_hdd_save = 12,
    DISPID_jpeg2000_interval = 13,
    DISPID_save_time = 14,
    DISPID_hdd_full_msg = 15,
    DISPID_complete_msg = 16,
    DISPID_error_msg = 17,
    DISPID_SaveComplete = 18,
    DISPID_TimestampOrder = 19,
    DISPID_delimiter = 20,
    DISPID_inputname = 21,
    DISPID_destination = 22,
    DISPID_destinationSW = 23,
    DISPID_model = 24,
    DISPID_counterSW = 25,
    DISPID_counter = 26,
    DISPID_DL_InfFileURL = 27,
};

// Every entry returns S_OK for a valid call; a get hands out a new BSTR that the caller frees,
// a put copies the caller's text. "long" properties are 32-bit.
class IPicvoxer : public platform::com::IDispatch {
public:
    virtual HRESULT get_WaveFileURL(BSTR* pVal) = 0;
    virtual HRESULT put_WaveFileURL(BSTR newVal) = 0;
    virtual HRESULT get_ImageFileURL(BSTR* pVal) = 0;
    virtual HRESULT put_ImageFileURL(BSTR newVal) = 0;
    virtual HRESULT get_CacheTime(std::int32_t* pVal) = 0;
    virtual HRESULT put_CacheTime(std::int32_t newVal) = 0;
    virtual HRESULT Start() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT get_AbsoluteTime(BSTR* pVal) = 0;
    virtual HRESULT put_AbsoluteTime(BSTR newVal) = 0;
    virtual HRESULT get_Location(BSTR* pVal) = 0;
    virtual HRESULT put_Location(BSTR newVal) = 0;
    virtual HRESULT get_mask_height(std::int32_t* pVal) = 0;
    virtual HRESULT put_mask_height(std::int32_t newVal) = 0;
    virtual HRESULT get_mask_color(std::int32_t* pVal) = 0;
    virtual HRESULT put_mask_color(std::int32_t newVal) = 0;
    virtual HRESULT get_wave_request_interval(std::int32_t* pVal) = 0;
    virtual HRESULT put_wave_request_interval(std::int32_t newVal) = 0;
    virtual HRESULT get_InitWaveFileURL(BSTR* pVal) = 0;
    virtual HRESULT put_InitWaveFileURL(BSTR newVal) = 0;
    virtual HRESULT get_hdd_save(std::int32_t* pVal) = 0;
    virtual HRESULT put_hdd_save(std::int32_t newVal) = 0;
    virtual HRESULT get_jpeg2000_interval(std::int32_t* pVal) = 0;
    virtual HRESULT put_jpeg2000_interval(std::int32_t newVal) = 0;
    virtual HRESULT get_save_time(std::int32_t* pVal) = 0;
    virtual HRESULT put_save_time(std::int32_t newVal) = 0;
    virtual HRESULT get_hdd_full_msg(BSTR* pVal) = 0;
    virtual HRESULT put_hdd_full_msg(BSTR newVal) = 0;
    virtual HRESULT get_complete_msg(BSTR* pVal) = 0;
    virtual HRESULT put_complete_msg(BSTR newVal) = 0;
    virtual HRESULT get_error_msg(BSTR* pVal) = 0;
    virtual HRESULT put_error_msg(BSTR newVal) = 0;
    virtual HRESULT get_SaveComplete(std::int32_t* pVal) = 0;
    virtual HRESULT put_SaveComplete(std::int32_t newVal) = 0;
    virtual HRESULT get_TimestampOrder(std::int32_t* pVal) = 0;
    virtual HRESULT put_TimestampOrder(std::int32_t newVal) = 0;
    virtual HRESULT get_delimiter(BSTR* pVal) = 0;
    virtual HRESULT put_delimiter(BSTR newVal) = 0;
    virtual HRESULT get_inputname(BSTR* pVal) = 0;
    virtual HRESULT put_inputname(BSTR newVal) = 0;
    virtual HRESULT get_destination(BSTR* pVal) = 0;
    virtual HRESULT put_destination(BSTR newVal) = 0;
    virtual HRESULT get_destinationSW(std::int32_t* pVal) = 0;
    virtual HRESULT put_destinationSW(std::int32_t newVal) = 0;
    virtual HRESULT get_model(BSTR* pVal) = 0;
    virtual HRESULT put_model(BSTR newVal) = 0;
    virtual HRESULT get_counterSW(std::int32_t* pVal) = 0;
    virtual HRESULT put_counterSW(std::int32_t newVal) = 0;
    virtual HRESULT get_counter(BSTR* pVal) = 0;
    virtual HRESULT put_counter(BSTR newVal) = 0;
    virtual HRESULT get_DL_InfFileURL(BSTR* pVal) = 0;
    virtual HRESULT put_DL_InfFileURL(BSTR newVal) = 0;

protected:
    ~IPicvoxer() = default;
};

// Message box styles for IPicvoxSite::ShowMessageBox (one OK button always).
inline constexpr std::uint32_t kPicvoxMessageNoIcon = 0x00;
inline constexpr std::uint32_t kPicvoxMessageWarning = 0x30;
inline constexpr std::uint32_t kPicvoxMessageInformation = 0x40;

// Implemented by the host that shows the control (the page). The page thread is the host's own
// thread: the one that created the control, calls its methods, properties, Draw and OnTimer.
// Calls on the site may come from any of the control's threads, the page thread included;
// InvalidateControl and InvalidateRect may come with the control lock held and must only
// schedule the repaint, never paint on the calling thread.
class IPicvoxSite : public platform::com::IUnknown {
public:
    // The window the control lives in (an opaque handle of the host's toolkit), 0 when none.
    virtual HRESULT GetWindow(std::uint64_t* window) = 0;
    // Repaint the whole control later, without erasing its background first.
    virtual HRESULT InvalidateControl() = 0;
    // Replaces the page element whose NAME is `name` by `outerHtml` (an INPUT element).
    // S_FALSE when the page has no such element.
    virtual HRESULT ReplaceElementByInput(platform::com::LPCOLESTR name,
                                          platform::com::LPCOLESTR outerHtml) = 0;
    // Repaint this part of the control later (pixels from its top-left corner), without erasing.
    // The host may clip the surface it copies to the screen to this rectangle.
    virtual HRESULT InvalidateRect(std::int32_t x, std::int32_t y, std::int32_t width,
                                   std::int32_t height) = 0;
    // Starts (or restarts with a new period) the periodic timer `id`; from then on the host calls
    // IHostedControl::OnTimer(id) on the page thread every `periodMs` until KillTimer(id).
    // KillTimer of a timer not set is harmless (S_FALSE).
    virtual HRESULT SetTimer(std::uint32_t id, std::uint32_t periodMs) = 0;
    virtual HRESULT KillTimer(std::uint32_t id) = 0;
    // Shows `text` with one OK button and blocks the calling thread until the user closes it.
    // `caption` null or empty: the host's default caption. `style`: kPicvoxMessageNoIcon,
    // kPicvoxMessageWarning or kPicvoxMessageInformation. The control's worker threads call this
    // while the page thread may be blocked in Stop waiting for them; a host that shows the box
    // through its page thread must not need that thread to be free (a headless host prints the text
    // and returns).
    virtual HRESULT ShowMessageBox(platform::com::LPCOLESTR caption, platform::com::LPCOLESTR text,
                                   std::uint32_t style) = 0;
    // Asks the user for a folder (directories only) and blocks until answered. `startFolder`,
    // when not null or empty, is preselected. S_OK with the path in *folder (a new BSTR the
    // control frees); S_FALSE with *folder null when the user cancelled or no chooser exists.
    // Called on the page thread.
    virtual HRESULT ChooseFolder(platform::com::LPCOLESTR startFolder, BSTR* folder) = 0;

protected:
    ~IPicvoxSite() = default;
};

// Optional, found through QueryInterface on the site the control was given: one line of status
// for the user about what the control cannot do right now and why ("the sound is not heard: no
// sound device", "the recorder answers 500: retrying in 8 s"), where a message box would be too
// much (Live mode runs on without one). The control says each state once when it begins and
// clears it (empty text) when it is over. A host without this interface simply shows nothing.
// Called from any of the control's threads; must return at once (never block on the page
// thread, which may be waiting in Stop for the caller).
class IPicvoxStatusSite : public platform::com::IUnknown {
public:
    virtual HRESULT ShowStatus(platform::com::LPCOLESTR text) = 0;

protected:
    ~IPicvoxStatusSite() = default;
};

// Answers of IPicvoxAccessSite::TrustCertificate.
inline constexpr std::uint32_t kPicvoxTrustRefused = 0;
inline constexpr std::uint32_t kPicvoxTrustThisRun = 1;  // for this run only
inline constexpr std::uint32_t kPicvoxTrustAlways = 2;   // kept in the per-user store

// Optional, found through QueryInterface on the site the control was given: the two questions of
// a recorder behind a login or serving HTTPS with a certificate no authority of the system vouches
// for (one it made itself, another host's, out of date). `recorder` names it as
// "scheme://host:port" (IPv6 in brackets; no path, never any user information).
//
// Called from the control's download thread, which waits for the answer. The page thread may be
// blocked in Stop waiting for that very thread: a host that asks the user through its page
// thread must give the question up (answer none, refused) while Stop runs, so that Stop ends
// the run. A host without this interface gets the failures: the run ends with the message "the
// recorder asks for a login" or "the recorder's certificate is not trusted (SHA-256 ...)".
class IPicvoxAccessSite : public platform::com::IUnknown {
public:
    // A user and password for `realm` (the recorder's words, printable, at most 256 bytes).
    // `attempt` is 0 for the first question about this recorder and realm in the run, 1 after
    // the recorder refused what the first answer gave; there is no third. S_OK with *user and
    // *password new BSTRs that the control frees (the password overwritten first); S_FALSE with
    // both null when the user gives none. The control keeps them in memory for the run only and
    // never shows, logs or stores them.
    virtual HRESULT GetCredentials(platform::com::LPCOLESTR recorder,
                                   platform::com::LPCOLESTR realm, std::uint32_t attempt,
                                   BSTR* user, BSTR* password) = 0;
    // Whether to take the certificate the recorder showed although nothing vouches for it:
    // `sha256` is 64 lower-case hex digits of its DER encoding, `subject` its RFC 2253 subject,
    // `validity` "YYYY-MM-DD HH:MM:SS UTC to YYYY-MM-DD HH:MM:SS UTC". Asked at most once per
    // recorder and run. *answer: kPicvoxTrustRefused, kPicvoxTrustThisRun or kPicvoxTrustAlways
    // (the control then keeps the fingerprint for the recorder's host and port in the per-user
    // store and takes exactly that certificate from then on, whatever host it names).
    virtual HRESULT TrustCertificate(platform::com::LPCOLESTR recorder,
                                     platform::com::LPCOLESTR sha256,
                                     platform::com::LPCOLESTR subject,
                                     platform::com::LPCOLESTR validity, std::uint32_t* answer) = 0;

protected:
    ~IPicvoxAccessSite() = default;
};

// What a host needs besides the dispatch interface to embed the control: hand it the site and
// its extent (in 0.01 mm, the persisted "_cx" and "_cy").
class IHostedControl : public platform::com::IUnknown {
public:
    // `site` is queried for IPicvoxSite; null detaches the control from its page.
    virtual HRESULT SetClientSite(platform::com::IUnknown* site) = 0;
    virtual HRESULT GetClientSite(platform::com::IUnknown** site) = 0;
    virtual HRESULT SetExtent(std::uint32_t cx, std::uint32_t cy) = 0;
    virtual HRESULT GetExtent(std::uint32_t* cx, std::uint32_t* cy) = 0;
    // Paints the whole control into the host's surface, on the page thread from the host's
    // paint handler. `pixels` holds `height` rows of `width` 32-bit pixels 0xFFRRGGBB, top row
    // first, rows `strideBytes` apart (at least 4 x width). The surface stays the host's; the
    // control only writes into it during the call. The first paint after the site answers
    // GetWindow with a non-zero handle gives the control its window: a host that paints must
    // name one. E_POINTER / E_INVALIDARG for a null or inconsistent surface.
    virtual HRESULT Draw(std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                         std::int32_t strideBytes) = 0;
    // A timer set through IPicvoxSite::SetTimer has fired; on the page thread.
    virtual HRESULT OnTimer(std::uint32_t id) = 0;

protected:
    ~IHostedControl() = default;
};

}  // namespace picvox
