#include <gtest/gtest.h>

#include <string>

#include "config/ClientConfig.h"
#include "support/TestSupport.h"

namespace {

class ClientConfigTest : public ::testing::Test {
protected:
    ClientSettings Read(const std::string& ini, int n) {
        testsupport::WriteTextFile(path, ini);
        ClientSettings s;
        ReadClientSettings(path.c_str(), n, &s);
        return s;
    }
    static std::string Session(int n, const std::string& ip, int port) {
        return "[TcpClientSession-" + std::to_string(n) + "]\nip=" + ip + "\nport=" + std::to_string(port) + "\n";
    }

    testsupport::TempDir dir;
    std::string path = dir.file("NetWork.ini");
};

TEST_F(ClientConfigTest, OnlyAddressAndPortGiveTheDocumentedDefaults) {
    ClientSettings s = Read(Session(0, "10.0.0.1", 7001), 0);
    EXPECT_EQ("10.0.0.1", s.ip);
    EXPECT_EQ(7001, s.port);
    EXPECT_EQ(0, s.cport);
    EXPECT_EQ(0, s.netheader);
    EXPECT_EQ(0, s.HeaderIncluded);
    EXPECT_EQ(1, s.MaskLog);
    EXPECT_EQ(0, s.TraceConsole);
    EXPECT_EQ("", s.MsgEndData);
    EXPECT_EQ(1000, s.ConnectContinues);
    EXPECT_EQ(50000, s.SndRcvTimeout);
    EXPECT_EQ(1, s.EnableKeepAlive);
    EXPECT_EQ(20000, s.KeepAliveTimes);
    EXPECT_EQ(2000, s.KeepAliveInterval);
    EXPECT_EQ(5000, s.ReconnInterval);
    EXPECT_EQ(600000, s.RecvDataDelayTimeOut);
    EXPECT_EQ(0, s.AutoConnectOtherServer);
    EXPECT_TRUE(s.hosts.empty());
}

TEST_F(ClientConfigTest, MissingFileGivesDefaultsEverywhere) {
    ClientSettings s;
    ReadClientSettings(dir.file("absent.ini").c_str(), 3, &s);
    EXPECT_EQ("", s.ip);
    EXPECT_EQ(0, s.port);
    EXPECT_EQ(1000, s.ConnectContinues);
    EXPECT_EQ(1, s.MaskLog);
}

TEST_F(ClientConfigTest, HostListHoldsOwnSessionFirstThenTheOthersAscending) {
    std::string ini = "[Client]\nAutoConnectOtherServer=1\n[SESSIONNUM]\nclientnum=3\n" + Session(0, "h0", 100) +
                      "cport=7\nnetheader=5\n" + Session(1, "h1", 101) + Session(2, "h2", 102) +
                      "[NetworkPara_client_2]\nReconnInterval=42\n";
    ClientSettings s = Read(ini, 1);
    ASSERT_EQ(3u, s.hosts.size());
    EXPECT_STREQ("h1", s.hosts[0].ip);
    EXPECT_STREQ("h0", s.hosts[1].ip);
    EXPECT_STREQ("h2", s.hosts[2].ip);
    EXPECT_EQ(7, s.hosts[1].cport);
    EXPECT_EQ(5, s.hosts[1].netheader);
    EXPECT_EQ(1000, s.hosts[1].RecvDataDelayTimeOut);  // not 600000 for the other entries
    EXPECT_EQ(42, s.hosts[2].ReconnInterval);
    EXPECT_EQ(0, s.hosts[0].ConnectContinues);  // the own entry holds only its address keys
}

TEST_F(ClientConfigTest, AtMostTheFirst120SessionsAreListed) {
    ClientSettings s = Read("[Client]\nAutoConnectOtherServer=1\n[SESSIONNUM]\nclientnum=500\n", 0);
    ASSERT_EQ(120u, s.hosts.size());  // own session 0, then 1 to 119
}

TEST_F(ClientConfigTest, NetworkModeDefaultsToClient) {
    testsupport::WriteTextFile(path, "[network]\n");
    EXPECT_EQ(0, ReadNetworkMode(path.c_str()));
    testsupport::WriteTextFile(path, "[NETWORK]\ntcpipmode=1\n");
    EXPECT_EQ(1, ReadNetworkMode(path.c_str()));
}

}  // namespace
