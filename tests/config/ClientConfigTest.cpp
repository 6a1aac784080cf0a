#include <gtest/gtest.h>

#include <tuple>

#include "config/ClientConfig.h"
#include "support/Harness.h"

namespace {

const auto Session = &testsupport::SessionSection;

// ip, port, cport, netheader, HeaderIncluded, ConnectContinues, SndRcvTimeout, EnableKeepAlive,
// KeepAliveInterval, KeepAliveTimes, ReconnInterval, RecvDataDelayTimeOut
using Entry = std::tuple<std::string, int, int, int, int, int, int, int, int, int, int, int>;
Entry EntryOf(const _HOST_INFO_& h) {
    return Entry(h.ip, h.port, h.cport, h.netheader, h.HeaderIncluded, h.ConnectContinues, h.SndRcvTimeout,
                 h.EnableKeepAlive, h.KeepAliveInterval, h.KeepAliveTimes, h.ReconnInterval, h.RecvDataDelayTimeOut);
}

class ClientConfigTest : public ::testing::Test {
protected:
    ClientSettings Read(const std::string& ini, int n) {
        testsupport::WriteTextFile(path, ini);
        ClientSettings s;
        ReadClientSettings(path.c_str(), n, &s);
        return s;
    }

    testsupport::TempDir dir;
    std::string path = dir.file("NetWork.ini");
};

TEST_F(ClientConfigTest, HostListHoldsOwnSessionFirstThenTheOthersAscending) {
    std::string ini = "[Client]\nAutoConnectOtherServer=1\n[SESSIONNUM]\nclientnum=3\n" + Session(0, "h0", 100) +
                      "cport=7\nnetheader=5\n" + Session(1, "h1", 101) + "HeaderIncluded=1\n" + Session(2, "h2", 102) +
                      "[NetworkPara_client_1]\nConnectContinues=3\n[NetworkPara_client_2]\nReconnInterval=42\n";
    std::vector<Entry> hosts;
    for (const _HOST_INFO_& h : Read(ini, 1).hosts) hosts.push_back(EntryOf(h));
    // The own entry holds only its address keys; RecvDataDelayTimeOut defaults to 1000 for the others.
    EXPECT_EQ((std::vector<Entry>{Entry("h1", 101, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0),
                                  Entry("h0", 100, 7, 5, 0, 1000, 50000, 1, 2000, 20000, 5000, 1000),
                                  Entry("h2", 102, 0, 0, 0, 1000, 50000, 1, 2000, 20000, 42, 1000)}),
              hosts);
    // At most the first 120 sessions are looked at: own session 0, then 1 to 119.
    EXPECT_EQ(120u, Read("[Client]\nAutoConnectOtherServer=1\n[SESSIONNUM]\nclientnum=500\n", 0).hosts.size());
}

}  // namespace
