#include <gtest/gtest.h>

#include <string>

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

TEST(XStringToolsTest, TrimRemovesOnlyTheGivenSet) {
    stringx s("  =x=  ");
    StringTrim(s, " ");
    EXPECT_EQ("=x=", s);
    StringTrim(s, "=");
    EXPECT_EQ("x", s);
    stringx only("   ");
    StringTrimLeft(only, " ");
    EXPECT_EQ("", only);
}

TEST(XStringToolsTest, ReplaceAllNeverSearchesInsertedText) {
    stringx crlf("a\r\nb\r\n");
    EXPECT_TRUE(StringReplaceAll(crlf, "\r\n", "\n"));
    EXPECT_EQ("a\nb\n", crlf);
    stringx aa("aa");
    EXPECT_TRUE(StringReplaceAll(aa, "a", "aa"));
    EXPECT_EQ("aaaa", aa);
    EXPECT_FALSE(StringReplaceAll(aa, "b", "c"));
}

TEST(XStringToolsTest, SplitKeepsEmptyElements) {
    auto parts = StringSplit(stringx("a;b"), ";");
    ASSERT_EQ(2u, parts.size());
    EXPECT_EQ("b", parts[1]);
    parts = StringSplit(stringx("a;"), ";");
    ASSERT_EQ(2u, parts.size());
    EXPECT_EQ("", parts[1]);
    EXPECT_EQ(1u, StringSplit(stringx(""), ";").size());
    EXPECT_EQ(1u, StringSplit(stringx("a;b"), "").size());
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
