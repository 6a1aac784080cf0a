#include <gtest/gtest.h>

#include <string>

#include "platform/IniFile.h"
#include "support/TestSupport.h"

using platform::GetPrivateProfileIntA;
using platform::GetPrivateProfileStringA;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void Write(const std::string& content) { testsupport::WriteTextFile(path, content); }
    std::string Text(const char* section, const char* key, const char* def = "") {
        char buf[256];
        GetPrivateProfileStringA(section, key, def, buf, sizeof buf, path.c_str());
        return buf;
    }
    int Int(const char* section, const char* key, int def = -7) {
        return GetPrivateProfileIntA(section, key, def, path.c_str());
    }

    testsupport::TempDir dir;
    std::string path = dir.file("NetWork.ini");
};

TEST_F(IniFileTest, NamesIgnoreCaseAndBlanksFirstMatchWins) {
    Write("\xEF\xBB\xBF[ TcpClientSession-0 ]\r\n"
          "  IP = 10.0.0.1 \r\n"
          "ip=second\r\n"
          "[tcpclientsession-0]\r\n"
          "port=99\r\n");
    EXPECT_EQ("10.0.0.1", Text("tcpCLIENTsession-0", "Ip"));
    // Only the first section of a name is read.
    EXPECT_EQ(-7, Int("TcpClientSession-0", "port"));
}

TEST_F(IniFileTest, QuotesAreStrippedOnceAndNothingElseIsInterpreted) {
    Write("[s]\nq=\"10.0.0.1 \"\nsingle='x'\nmixed=\"x'\nsemi=a;b ; c\nempty=\nbare=\"\"\n");
    EXPECT_EQ("10.0.0.1 ", Text("s", "q"));
    EXPECT_EQ("x", Text("s", "single"));
    EXPECT_EQ("\"x'", Text("s", "mixed"));
    EXPECT_EQ("a;b ; c", Text("s", "semi"));
    EXPECT_EQ("", Text("s", "empty", "default"));
    EXPECT_EQ("", Text("s", "bare", "default"));
}

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ("dflt", Text("s", "k", "dflt"));
    EXPECT_EQ(42, Int("s", "k", 42));
    Write("[s]\nk=1\n");
    EXPECT_EQ("dflt", Text("other", "k", "dflt"));
    EXPECT_EQ(42, Int("s", "missing", 42));
}

TEST_F(IniFileTest, IntegersReadLikeTheWindowsCall) {
    Write("[n]\nneg=-15\nplus=+8\nlead= 12abc\nword=abc\nempty=\nhex=0x10\n");
    EXPECT_EQ(-15, Int("n", "neg"));
    EXPECT_EQ(8, Int("n", "plus"));
    EXPECT_EQ(12, Int("n", "lead"));
    EXPECT_EQ(0, Int("n", "word"));
    EXPECT_EQ(0, Int("n", "empty"));
    EXPECT_EQ(0, Int("n", "hex"));
}

TEST_F(IniFileTest, TextIsCutToTheBuffer) {
    Write("[s]\nlong=" + std::string(300, 'x') + "\n");
    EXPECT_EQ(std::string(255, 'x'), Text("s", "long"));
    char small[4];
    EXPECT_EQ(3u, GetPrivateProfileStringA("s", "long", "", small, sizeof small, path.c_str()));
    EXPECT_STREQ("xxx", small);
}

TEST_F(IniFileTest, FileIsReadAfreshAtEveryCall) {
    Write("[s]\nk=1\n");
    EXPECT_EQ(1, Int("s", "k"));
    Write("[s]\nk=2\n");
    EXPECT_EQ(2, Int("s", "k"));
}

}  // namespace
