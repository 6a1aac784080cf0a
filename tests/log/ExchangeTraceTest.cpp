// The trace files of a fixed exchange, compared with a checked-in text: every
// record, its order and its text stay as they are whatever the receive and
// send paths do inside. Time stamps, ports and tick counts are masked.
//
// After a change that is meant to alter the trace, the expected text is
// rewritten with TOLVANE_WRITE_EXPECTED_TRACE=1 and reviewed in the diff.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "support/Harness.h"

namespace {

using namespace testsupport;

// Replaces what differs from run to run and shows carriage returns.
std::string Masked(std::string trace, int port) {
    trace = std::regex_replace(trace, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )"), "<time> ");
    trace = std::regex_replace(trace, std::regex(R"(StartTick\(-?\d+\))"), "StartTick(<tick>)");
    trace = std::regex_replace(trace, std::regex("\\b" + std::to_string(port) + "\\b"), "<port>");
    trace = std::regex_replace(trace, std::regex(R"(New connection 127\.0\.0\.1:\d+)"), "New connection 127.0.0.1:<port>");
    std::string shown;
    for (char c : trace) {
        if (c == '\r') shown += "\\r";
        else shown += c;
    }
    return shown;
}

// Sends `bytes` and waits until the library has taken them in as read number `reads`.
bool Feed(TcpConnection& peer, const ClientScene& scene, const std::string& bytes, int reads) {
    return peer.Send(bytes) && scene.WaitForTrace("recvLen(", reads);
}

// `body` framed as the peer sends it: with the length header of `mode`, or
// for mode 6 followed by its end byte.
std::string Framed(int mode, int headerIncluded, const std::string& body) {
    return mode == 6 ? body + '\x03' : Frame(mode, body, headerIncluded);
}

// One client session in header mode `mode`: whole, paired, split and empty
// frames from the peer, two sends (one masked, one short enough to stay
// readable), and the stop.
std::string ClientExchange(int mode, int headerIncluded) {
    ConnectedClient c("netheader=" + std::to_string(mode) + "\nHeaderIncluded=" + std::to_string(headerIncluded));
    auto Frame = [&](int, const std::string& body) { return Framed(mode, headerIncluded, body); };
    EXPECT_TRUE(c.ok);
    const std::string a = "hello client", b = "second message";
    int reads = 0;
    EXPECT_TRUE(Feed(c.peer, c.scene, Frame(mode, a), ++reads));
    EXPECT_TRUE(Feed(c.peer, c.scene, Frame(mode, a) + Frame(mode, b), ++reads));
    const std::string split = Frame(mode, b);
    EXPECT_TRUE(Feed(c.peer, c.scene, split.substr(0, 3), ++reads));
    EXPECT_TRUE(Feed(c.peer, c.scene, split.substr(3), ++reads));
    EXPECT_TRUE(Feed(c.peer, c.scene, Frame(mode, a) + split.substr(0, 5), ++reads));
    EXPECT_TRUE(Feed(c.peer, c.scene, split.substr(5), ++reads));
    if (mode != 6) {
        for (const char* want : {"hello client", "hello client", "second message", "second message", "hello client",
                                 "second message"})
            EXPECT_EQ(c.Next(), want);
    }
    EXPECT_GT(c.Send("a message long enough to be masked"), 0);
    EXPECT_GT(c.Send("short"), 0);
    c.host.StopTolvane();
    return Masked(c.scene.Trace(), c.peer.port());
}

// One server session: the same frames from its peer, the host answering.
std::string ServerExchange(int mode, const std::string& keys) {
    ServedPeer s("netheader=" + std::to_string(mode) + "\n" + keys);
    auto Frame = [&](int, const std::string& body) { return Framed(mode, 0, body); };
    EXPECT_TRUE(s.ok);
    int reads = 0;
    EXPECT_TRUE(Feed(s.peer, s.scene, Frame(mode, "hello server"), ++reads));
    EXPECT_TRUE(Feed(s.peer, s.scene, Frame(mode, "one") + Frame(mode, "two"), ++reads));
    const std::string split = Frame(mode, "split message");
    EXPECT_TRUE(Feed(s.peer, s.scene, split.substr(0, 3), ++reads));
    EXPECT_TRUE(Feed(s.peer, s.scene, split.substr(3), ++reads));
    EXPECT_EQ(s.Next(), "hello server");
    EXPECT_GT(s.Send("the server's answer, masked"), 0);
    EXPECT_GT(s.Send("short"), 0);
    s.peer.Close();
    EXPECT_TRUE(s.scene.WaitForTrace("OnClose("));
    s.host.StopTolvane();
    return Masked(s.scene.Trace(), s.scene.port);
}

std::string ExpectedFile() {
    const std::string self = __FILE__;
    return self.substr(0, self.find_last_of("/\\") + 1) + "ExchangeTrace.expected";
}

TEST(ExchangeTraceTest, RecordsOfAFixedExchangeAreExactlyTheExpectedText) {
    std::string got;
    const std::pair<int, int> clients[] = {{5, 0}, {1, 1}, {2, 0}, {6, 0}};
    for (const auto& [mode, included] : clients) {
        got += "== client, netheader " + std::to_string(mode) + ", HeaderIncluded " + std::to_string(included) + "\n" +
               ClientExchange(mode, included);
    }
    const std::pair<int, const char*> servers[] = {{5, "MaskLog=1"}, {4, "SplitReads=1"}, {2, "MaskLog=0"}};
    for (const auto& [mode, keys] : servers)
        got += "== server, netheader " + std::to_string(mode) + " " + keys + "\n" + ServerExchange(mode, keys);

    if (const char* write = std::getenv("TOLVANE_WRITE_EXPECTED_TRACE"); write && std::string(write) == "1")
        WriteTextFile(ExpectedFile(), got);
    const std::string expected = ReadTextFile(ExpectedFile());
    ASSERT_FALSE(expected.empty()) << ExpectedFile();
    // The first line that differs, with its number, rather than two whole traces.
    size_t at = 0, line = 1;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) line += got[at++] == '\n';
    if (at == got.size() && at == expected.size()) return;
    auto LineAt = [&](const std::string& text) {
        const size_t begin = text.rfind('\n', at == 0 ? 0 : at - 1);
        const size_t from = begin == std::string::npos || at == 0 ? 0 : begin + 1;
        return text.substr(from, text.find('\n', from) - from);
    };
    ADD_FAILURE() << "line " << line << "\n  got:      " << LineAt(got) << "\n  expected: " << LineAt(expected);
}

}  // namespace
