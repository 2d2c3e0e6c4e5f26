#include "platform/com/Automation.h"

#include <gtest/gtest.h>

#include <string>

namespace platform::com {
namespace {

TEST(AutomationTest, TextsConvertBetweenUtf8AndUtf16) {
    const std::string samples[] = {"", "Picvox 1.0 ﾀｲﾌﾟ ﾗｲﾌﾞﾗﾘ", "Startメソッド開始", "😀 x"};
    for (const auto& s : samples) {
        BStr b = BStr::fromUtf8(s);
        ASSERT_NE(b.get(), nullptr);
        EXPECT_EQ(b.utf8(), s);
    }
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a"),
              "\xEF\xBF\xBD"
              "a");
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
    EXPECT_EQ(utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");    // overlong
    EXPECT_EQ(utf8ToUtf16("\xE3\x81"), u"\uFFFD");          // cut short
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80z"), u"\uFFFDz");    // encoded surrogate
    EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD");  // beyond U+10FFFF

    BSTR withNul = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(withNul), 3u);
    EXPECT_EQ(withNul[3], u'\0');
    SysFreeString(withNul);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(utf8FromBstr(nullptr), "");
    EXPECT_EQ(SysAllocStringLen(nullptr, kMaxBstrChars + 1), nullptr);
}

TEST(AutomationTest, GuidTextRoundTrip) {
    GUID g;
    ASSERT_TRUE(guidFromString("{e8ee9e9d-a8ba-4b7e-b860-5c226993e156}", g));
    EXPECT_EQ(guidToString(g), "{E8EE9E9D-A8BA-4B7E-B860-5C226993E156}");
    for (const char* bad :
         {"", "{}", "E8EE9E9D-A8BA-4B7E-B860-5C226993E156",
          "{E8EE9E9D-A8BA-4B7E-B860-5C226993E15G}", "{E8EE9E9DA-8BA-4B7E-B860-5C226993E156}"}) {
        EXPECT_FALSE(guidFromString(bad, g)) << bad;
    }
}

}  // namespace
}  // namespace platform::com
