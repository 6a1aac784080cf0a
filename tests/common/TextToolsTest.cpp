#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/ModuleDir.h"
#include "common/StringConvert.h"
#include "common/XStringTools.h"
#include "platform/Paths.h"

namespace {

stringx AppendFormatted(stringx target, int mode, const char* format, ...) {
    va_list args;
    va_start(args, format);
    StringFormatV(target, format, args, mode);
    va_end(args);
    return target;
}

TEST(XStringToolsTest, FormattingNeverCutsAndAppendsOrReplacesByMode) {
    std::string big(5000, 'q');
    stringx s;
    EXPECT_EQ(big, StringFormat(s, "%s", big.c_str()));
    EXPECT_EQ("ab12", AppendFormatted("ab", 0, "%d", 12));
    EXPECT_EQ("12", AppendFormatted("ab", 1, "%d", 12));
}

TEST(XStringToolsTest, TrimReplaceAndSplitEdgeCases) {
    stringx s("  =x=  "), only("   ");
    StringTrim(s, " ");
    EXPECT_EQ("=x=", s);
    StringTrim(s, "=");
    EXPECT_EQ("x", s);
    StringTrimLeft(only, " ");
    EXPECT_EQ("", only);

    stringx crlf("a\r\nb\r\n"), aa("aa");
    EXPECT_TRUE(StringReplaceAll(crlf, "\r\n", "\n"));
    EXPECT_EQ("a\nb\n", crlf);
    EXPECT_TRUE(StringReplaceAll(aa, "a", "aa"));  // inserted text is never searched again
    EXPECT_EQ("aaaa", aa);
    EXPECT_FALSE(StringReplaceAll(aa, "b", "c"));

    using Parts = std::vector<stringx>;
    EXPECT_EQ((Parts{"a", "b"}), StringSplit("a;b", ";"));
    EXPECT_EQ((Parts{"a", ""}), StringSplit("a;", ";"));  // empty elements are kept
    EXPECT_EQ((Parts{""}), StringSplit("", ";"));
    EXPECT_EQ((Parts{"a;b"}), StringSplit("a;b", ""));
}

TEST(ModuleDirTest, CutsBeforeTheLastSeparatorAndToTheBuffer) {
    platform::SetModuleFileNameForTest("C:\\App\\host.exe");
    char buf[16];
    GetModuleDir(sizeof buf, buf);
    EXPECT_STREQ("C:\\App", buf);
    GetModuleDir(4, buf);
    EXPECT_STREQ("C:\\", buf);
    platform::SetModuleFileNameForTest("/opt/term/bin/host");
    EXPECT_EQ("/opt/term/bin", GetModuleDirString(1000));
    platform::SetModuleFileNameForTest("host");
    EXPECT_EQ("host", GetModuleDirString(1000));
    platform::SetModuleFileNameForTest("");
}

// Conversions end at a zero byte and append two counted zeros.
TEST(StringConvertTest, ZerosReplacementsAndUnknownCodePages) {
    EXPECT_EQ(std::string("\xC3\xA9\0\0", 4), WideToUtf8(std::wstring(1, wchar_t(0xE9))));
    EXPECT_EQ("", WideToUtf8(std::wstring()));
    EXPECT_EQ("ab", Utf8ToCodePage(std::string("ab\0cd", 5), 65001));
    EXPECT_EQ(std::string("\xE4\xB8\xAD\0\0", 5), CodePageToUtf8("\xD6\xD0", 936));
    EXPECT_EQ(std::wstring(L"a\xFFFD" L"b"), Utf8ToWide(std::string("a\xFF" "b")));
    EXPECT_EQ("caf?", Utf8ToCodePage("caf\xC3\xA9", 20127));  // U+00E9 is no ASCII character
    EXPECT_EQ("", Utf8ToCodePage("abc", 12345678));
    std::unique_ptr<wchar_t[]> none(MultiByteToWide(nullptr, 65001));
    EXPECT_EQ(nullptr, none.get());
}

}  // namespace
