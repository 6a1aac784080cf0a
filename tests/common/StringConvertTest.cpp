#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/StringConvert.h"

namespace {

TEST(StringConvertTest, WideToUtf8AppendsTwoCountedZeros) {
    std::string utf8 = WideToUtf8(std::wstring(1, wchar_t(0xE9)));
    ASSERT_EQ(4u, utf8.size());
    EXPECT_EQ('\xC3', utf8[0]);
    EXPECT_EQ('\xA9', utf8[1]);
    EXPECT_EQ('\0', utf8[2]);
    EXPECT_EQ('\0', utf8[3]);
    EXPECT_TRUE(WideToUtf8(std::wstring()).empty());
}

TEST(StringConvertTest, Utf8ToCodePageStopsAtAZeroByte) {
    std::string text("ab\0cd", 5);
    EXPECT_EQ("ab", Utf8ToCodePage(text, 65001));
}

TEST(StringConvertTest, Gbk936RoundTrip) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // two Chinese characters
    std::string gbk = Utf8ToCodePage(utf8, 936);
    EXPECT_EQ(std::string("\xD6\xD0\xCE\xC4"), gbk);
    std::string back = CodePageToUtf8(gbk, 936);
    EXPECT_EQ(utf8, back.substr(0, back.size() - 2));
}

TEST(StringConvertTest, InvalidInputAndUnknownCodePage) {
    std::wstring wide = Utf8ToWide(std::string("a\xFF" "b"));
    EXPECT_EQ(std::wstring(L"a\xFFFD" L"b"), wide);
    // U+00E9 does not exist in ASCII: replaced by '?'.
    EXPECT_EQ("caf?", Utf8ToCodePage("caf\xC3\xA9", 20127));
    EXPECT_EQ("", Utf8ToCodePage("abc", 12345678));
    std::unique_ptr<wchar_t[]> none(MultiByteToWide(nullptr, 65001));
    EXPECT_EQ(nullptr, none.get());
}

}  // namespace
