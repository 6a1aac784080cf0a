#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/StringConvert.h"

namespace {

TEST(StringConvertTest, Utf8WithTwoCountedZerosAndCutAtAZeroByte) {
    EXPECT_EQ(std::string("\xC3\xA9\0\0", 4), WideToUtf8(std::wstring(1, wchar_t(0xE9))));
    EXPECT_EQ("", WideToUtf8(std::wstring()));
    EXPECT_EQ("ab", Utf8ToCodePage(std::string("ab\0cd", 5), 65001));
}

TEST(StringConvertTest, Gbk936RoundTrip) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // two Chinese characters
    const std::string gbk = Utf8ToCodePage(utf8, 936);
    EXPECT_EQ(std::string("\xD6\xD0\xCE\xC4"), gbk);
    EXPECT_EQ(utf8 + std::string(2, '\0'), CodePageToUtf8(gbk, 936));
}

TEST(StringConvertTest, InvalidInputAndUnknownCodePage) {
    EXPECT_EQ(std::wstring(L"a\xFFFD" L"b"), Utf8ToWide(std::string("a\xFF" "b")));
    EXPECT_EQ("caf?", Utf8ToCodePage("caf\xC3\xA9", 20127));  // U+00E9 is no ASCII character
    EXPECT_EQ("", Utf8ToCodePage("abc", 12345678));
    std::unique_ptr<wchar_t[]> none(MultiByteToWide(nullptr, 65001));
    EXPECT_EQ(nullptr, none.get());
}

}  // namespace
