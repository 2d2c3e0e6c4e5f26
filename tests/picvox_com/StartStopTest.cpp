// Start and Stop through the control object: what the page sees of a run in its properties and
// messages. The runs here need no recorder; the engine's own tests drive real ones.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/shell/CPicvoxer.h"
#include "platform/com/Automation.h"
#include "tests/picvox_com/PicvoxTestSupport.h"

namespace picvox {
namespace {

using namespace platform::com;
using namespace std::chrono_literals;

// A page without a window that keeps the message boxes it was asked to show.
class MessageSite final : public test::StackSite {
public:
    HRESULT ShowMessageBox(LPCOLESTR caption, LPCOLESTR text, std::uint32_t style) override {
        std::lock_guard<std::mutex> guard(lock);
        boxes.push_back({caption ? utf16ToUtf8(caption) : "", utf16ToUtf8(text), style});
        return S_OK;
    }

    struct Box {
        std::string caption;
        std::string text;
        std::uint32_t style;
    };
    std::vector<Box> shown() {
        std::lock_guard<std::mutex> guard(lock);
        return boxes;
    }

    std::mutex lock;
    std::vector<Box> boxes;
};

class StartStopTest : public test::IsolatedUserTest {
protected:
    void SetUp() override {
        IsolatedUserTest::SetUp();
        control_ = CPicvoxer::create();
        static_cast<IHostedControl*>(control_)->SetClientSite(&site_);
        // Nothing listens on this port: the run waits for a recorder that never answers.
        putText(&IPicvoxer::put_Location, "http://127.0.0.1:9/page.html");
        putText(&IPicvoxer::put_ImageFileURL, "live.jp2");
        putText(&IPicvoxer::put_WaveFileURL, "live.wav");
        putText(&IPicvoxer::put_InitWaveFileURL, "init.wav");
    }
    void TearDown() override {
        control_->Stop();
        static_cast<IHostedControl*>(control_)->SetClientSite(nullptr);
        control_->Release();
        IsolatedUserTest::TearDown();
    }
    void putText(HRESULT (IPicvoxer::*setter)(BSTR), const std::string& value) {
        BSTR b = bstrFromUtf8(value);
        (static_cast<IPicvoxer*>(control_)->*setter)(b);
        SysFreeString(b);
    }
    std::string getText(HRESULT (IPicvoxer::*getter)(BSTR*)) {
        BSTR b = nullptr;
        (static_cast<IPicvoxer*>(control_)->*getter)(&b);
        std::string out = utf8FromBstr(b);
        SysFreeString(b);
        return out;
    }
    std::int32_t saveComplete() {
        std::int32_t v = 0;
        control_->get_SaveComplete(&v);
        return v;
    }
    bool waitSaveComplete() {
        const auto end = std::chrono::steady_clock::now() + 15s;
        while (saveComplete() != 1) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    MessageSite site_;
    CPicvoxer* control_ = nullptr;
};

TEST_F(StartStopTest, StartTrimsTheDestinationAndStopLeavesTheEndTime) {
    struct Case {
        const char* destination;
        const char* kept;
    };
    const Case cases[] = {
        {"/media/save/", "/media/save"},
        {"/media/save", "/media/save"},
        {"C:\\", "C:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination);
        control_->put_CacheTime(2000);
        putText(&IPicvoxer::put_destination, c.destination);
        ASSERT_EQ(control_->Start(), S_OK);
        EXPECT_EQ(getText(&IPicvoxer::get_destination), c.kept);
        EXPECT_EQ(getText(&IPicvoxer::get_AbsoluteTime), "");
        EXPECT_TRUE(control_->runEngine().running());
        EXPECT_EQ(saveComplete(), 0);
        ASSERT_EQ(control_->Stop(), S_OK);
        EXPECT_FALSE(control_->runEngine().running());
        EXPECT_EQ(getText(&IPicvoxer::get_AbsoluteTime), "00:00:00");
    }
    // A Stop without a run changes nothing the page sees.
    control_->Start();
    control_->Stop();
    putText(&IPicvoxer::put_AbsoluteTime, "ignored");
    EXPECT_EQ(control_->Stop(), S_OK);
    EXPECT_EQ(getText(&IPicvoxer::get_AbsoluteTime), "00:00:00");
    EXPECT_TRUE(site_.shown().empty());
}

TEST_F(StartStopTest, BadParametersShowTheErrorMessageAndSetSaveComplete) {
    putText(&IPicvoxer::put_error_msg, "save failed");
    control_->put_CacheTime(1999);
    ASSERT_EQ(control_->Start(), S_OK);
    ASSERT_TRUE(waitSaveComplete());
    control_->Stop();
    const std::vector<MessageSite::Box> boxes = site_.shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Tessaly");
    // The page's error message, and under it the setting that is out of range.
    EXPECT_EQ(boxes[0].text, "save failed\nCacheTime 1999 is outside 2000..30000");
    EXPECT_EQ(boxes[0].style, kPicvoxMessageWarning);
    // A later Start begins a fresh run.
    control_->put_CacheTime(2000);
    control_->Start();
    EXPECT_EQ(saveComplete(), 0);
}

}  // namespace
}  // namespace picvox
