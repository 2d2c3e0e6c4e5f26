#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "control/shell/CPicvoxer.h"
#include "platform/UserStore.h"
#include "platform/com/Automation.h"
#include "tests/picvox_com/PicvoxTestSupport.h"
#include "tests/picvox_run/DibBuilder.h"

namespace picvox {
namespace {

using namespace platform::com;
using platform::UserStore;

// A page that records what the control asks of it.
class RecordingSite final : public test::StackSite {
public:
    HRESULT GetWindow(std::uint64_t* w) override {
        *w = window;
        return window ? S_OK : S_FALSE;
    }
    HRESULT InvalidateControl() override {
        std::lock_guard<std::mutex> guard(lock);
        ++wholeRepaints;
        return S_OK;
    }
    HRESULT ReplaceElementByInput(LPCOLESTR name, LPCOLESTR html) override {
        elements.emplace_back(utf16ToUtf8(name), utf16ToUtf8(html));
        return S_OK;
    }
    HRESULT SetTimer(std::uint32_t id, std::uint32_t ms) override {
        timers[id] = ms;
        return S_OK;
    }
    HRESULT KillTimer(std::uint32_t id) override { return timers.erase(id) ? S_OK : S_FALSE; }
    HRESULT ChooseFolder(LPCOLESTR start, BSTR* folder) override {
        starts.push_back(start ? utf16ToUtf8(start) : "");
        *folder = answer.empty() ? nullptr : bstrFromUtf8(answer);
        return answer.empty() ? S_FALSE : S_OK;
    }

    std::uint64_t window = 0;
    std::mutex lock;
    int wholeRepaints = 0;
    std::vector<std::pair<std::string, std::string>> elements;
    std::map<std::uint32_t, std::uint32_t> timers;
    std::vector<std::string> starts;
    std::string answer;
};

class PaintAndPageTest : public test::IsolatedUserTest {
protected:
    void SetUp() override {
        IsolatedUserTest::SetUp();
        control_ = CPicvoxer::create();
        hosted_ = control_;
        hosted_->SetClientSite(&site_);
    }
    void TearDown() override {
        if (control_)
            control_->Release();
        EXPECT_EQ(site_.refs, 0u);
        IsolatedUserTest::TearDown();
    }
    HRESULT paint() { return hosted_->Draw(pixels_.data(), kWidth, kHeight, kWidth * 4); }
    std::uint32_t at(int x, int y) const {
        return pixels_[static_cast<std::size_t>(y * kWidth + x)];
    }
    void put(HRESULT (IPicvoxer::*setter)(std::int32_t), std::int32_t v) {
        (static_cast<IPicvoxer*>(control_)->*setter)(v);
    }

    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;
    RecordingSite site_;
    CPicvoxer* control_ = nullptr;
    IHostedControl* hosted_ = nullptr;
    std::vector<std::uint32_t> pixels_ = std::vector<std::uint32_t>(kWidth * kHeight, 0x0BADF00Du);
};

TEST_F(PaintAndPageTest, FirstPaintWithAWindowNamesItAndPaintsBlackWithoutPicture) {
    ASSERT_EQ(paint(), S_OK);
    EXPECT_EQ(at(0, 0), 0xFF000000u);
    EXPECT_EQ(at(kWidth - 1, kHeight - 1), 0xFF000000u);
    EXPECT_EQ(control_->window(), 0u);  // the site had none yet: asked again next time

    site_.window = 0x42;
    paint();
    EXPECT_EQ(control_->window(), 0x42u);
    site_.window = 0x43;  // only the first paint with a window stores it
    paint();
    EXPECT_EQ(control_->window(), 0x42u);
    EXPECT_EQ(control_->clientRect(), (run::Rect{0, 0, kWidth, kHeight}));

    EXPECT_EQ(hosted_->Draw(nullptr, kWidth, kHeight, kWidth * 4), E_POINTER);
    EXPECT_EQ(hosted_->Draw(pixels_.data(), kWidth, kHeight, kWidth * 2), E_INVALIDARG);
    EXPECT_EQ(hosted_->Draw(pixels_.data(), 0, kHeight, kWidth * 4), E_INVALIDARG);
}

TEST_F(PaintAndPageTest, PaintsTheQueuesCurrentPictureOverTheWholeArea) {
    // Left half red, right half blue, bottom row green: 24-bit, stored bottom row first.
    auto image = test::makeDib(8, 4, 24, {}, [](int x, int y) -> std::uint32_t {
        return y == 3 ? 0x00FF00u : x < 4 ? 0xFF0000u : 0x0000FFu;
    });
    auto queue = std::make_shared<FrameQueue>(10, control_, control_->controlLock());
    ASSERT_TRUE(queue->Push(test::blockOf(image), 1, 100));
    control_->setFrameQueue(queue);
    ASSERT_TRUE(queue->ShowAt(0));
    EXPECT_EQ(site_.wholeRepaints, 1);

    ASSERT_EQ(paint(), S_OK);
    EXPECT_EQ(at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(at(kWidth - 1, 0), 0xFF0000FFu);
    EXPECT_EQ(at(kWidth / 2, kHeight - 1), 0xFF00FF00u);

    // The run drops its queue: the control paints black again.
    control_->setFrameQueue(nullptr);
    paint();
    EXPECT_EQ(at(0, 0), 0xFF000000u);
}

TEST_F(PaintAndPageTest, CounterTimersGoThroughTheSiteAndWriteTheCounterElement) {
    site_.window = 1;
    paint();
    put(&IPicvoxer::put_hdd_save, 1);
    put(&IPicvoxer::put_save_time, 90);
    control_->ArmPageCounter();
    EXPECT_EQ(site_.timers.at(101), 100u);
    control_->pageCounter().counterValue = 75;
    ASSERT_EQ(hosted_->OnTimer(101), S_OK);
    ASSERT_EQ(site_.elements.size(), 1u);
    EXPECT_EQ(site_.elements[0].first, "save_timer_counter");
    EXPECT_EQ(site_.elements[0].second,
              "<INPUT TYPE=\"text\" NAME=\"save_timer_counter\" VALUE=\"00:01:15\" SIZE=\"8\" "
              "READONLY>");
    // A control going away leaves no timer behind.
    control_->Release();
    control_ = nullptr;
    EXPECT_TRUE(site_.timers.empty());
}

TEST_F(PaintAndPageTest, FolderChoiceRemembersAndShowsTheFolder) {
    put(&IPicvoxer::put_destinationSW, 1);
    site_.answer = "/home/user/Saves/";
    EXPECT_EQ(control_->ChooseSaveFolder(), "/home/user/Saves");
    ASSERT_EQ(site_.elements.size(), 1u);
    EXPECT_EQ(site_.elements[0].first, "save_folder");
    UserStore store;
    ASSERT_TRUE(store.load(UserStore::defaultPath()));
    EXPECT_EQ(store.value("Software\\Kalmo\\Tessaly", "DestFolder"), "/home/user/Saves/");

    site_.answer.clear();
    EXPECT_FALSE(control_->ChooseSaveFolder());
    EXPECT_EQ(site_.starts.back(), "/home/user/Saves/");
}

}  // namespace
}  // namespace picvox
