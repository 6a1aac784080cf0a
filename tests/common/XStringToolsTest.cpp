#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ModuleDir.h"
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

}  // namespace
