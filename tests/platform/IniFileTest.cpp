// The INI reader with the Windows results; on Windows it is the system's
// own, so the same cases hold the two readers to one set of rules.
#include <gtest/gtest.h>

#include "platform/IniFile.h"
#include "support/TestSupport.h"

using platform::GetPrivateProfileIntA;
using platform::GetPrivateProfileStringA;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void Write(const std::string& content) { testsupport::WriteTextFile(path, content); }
    std::string Text(const char* section, const char* key, const char* def = "dflt") {
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

TEST_F(IniFileTest, ValuesReadLikeTheWindowsCalls) {
    EXPECT_EQ("dflt", Text("s", "q"));  // no file yet
    EXPECT_EQ(42, Int("s", "neg", 42));
    Write("[s]\nq=\"10.0.0.1 \"\nsingle='x'\nmixed=\"x'\nsemi=a;b ; c\nempty=\nbare=\"\"\nlong=" + std::string(300, 'x') +
          "\nneg=-15\nplus=+8\nlead= 12abc\nword=abc\nhex=0x10\n");
    // Quotes are stripped once and nothing else is interpreted; texts are cut to 255 characters.
    const std::pair<const char*, std::string> texts[] = {
        {"q", "10.0.0.1 "}, {"single", "x"}, {"mixed", "\"x'"},  {"semi", "a;b ; c"},
        {"empty", ""},      {"bare", ""},    {"missing", "dflt"}, {"long", std::string(255, 'x')},
    };
    for (const auto& t : texts) EXPECT_EQ(t.second, Text("s", t.first)) << t.first;
    EXPECT_EQ("dflt", Text("other", "q"));
    const std::pair<const char*, int> ints[] = {{"neg", -15}, {"plus", 8}, {"lead", 12}, {"word", 0}, {"missing", -7}};
    for (const auto& i : ints) EXPECT_EQ(i.second, Int("s", i.first)) << i.first;
#ifdef _WIN32
    // Windows' own reader gives the default for an empty value and reads a "0x" prefix as hexadecimal.
    EXPECT_EQ(-7, Int("s", "empty"));
    EXPECT_EQ(16, Int("s", "hex"));
#else
    EXPECT_EQ(0, Int("s", "empty"));
    EXPECT_EQ(0, Int("s", "hex"));
#endif

    char small[4];
    EXPECT_EQ(3u, GetPrivateProfileStringA("s", "long", "", small, sizeof small, path.c_str()));
    EXPECT_STREQ("xxx", small);
    // The file is read afresh at every call.
    Write("[s]\nneg=2\n");
    EXPECT_EQ(2, Int("s", "neg"));
}

}  // namespace
