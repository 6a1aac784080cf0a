// One connection used from several threads, and a peer that vanishes.
#include <algorithm>
#include <atomic>

#include "tls/TlsTestEnv.h"

namespace tlstest {
namespace {

class OsslConcurrencyTest : public TlsTest {
protected:
    void SetUp() override {
        TlsTest::SetUp();
        ASSERT_EQ(1, Connect(m_client, ClientConfig(), m_server, ServerConfig(), m_pair, m_echo));
    }
    std::unique_ptr<LoopbackPair> m_pair;
    std::unique_ptr<EchoServer> m_echo;
};

TEST_F(OsslConcurrencyTest, SessionThreadReadsWhileHostThreadsWriteAndAnotherCloses) {
    SetNonBlocking(m_pair->client());
    constexpr int kMessages = 200;
    constexpr int kSize = 100;
    std::atomic<int> bytesSent{0};
    std::atomic<size_t> bytesReceived{0};
    std::atomic<bool> readerEnded{false};
    std::string received;

    // The session thread polls and reads until the connection is gone.
    std::thread reader([&] {
        char buf[4096];
        for (;;) {
            WaitReadable(m_pair->client(), 20);
            int n = m_client.iSSLReceive(buf, sizeof buf);
            if (n == -2) break;
            if (n > 0) {
                received.append(buf, static_cast<size_t>(n));
                bytesReceived += static_cast<size_t>(n);
            }
        }
        readerEnded = true;
    });
    auto writer = [&](char fill) {
        std::string message(kSize, fill);
        for (int i = 0; i < kMessages; ++i) {
            int n = m_client.iSSLSend(message.data(), kSize);
            if (n > 0) bytesSent += n;
        }
    };
    std::thread writerA(writer, 'A');
    std::thread writerB(writer, 'B');
    writerA.join();
    writerB.join();
    EXPECT_EQ(2 * kMessages * kSize, bytesSent.load());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return bytesReceived.load() == static_cast<size_t>(bytesSent.load()); }));

    std::thread closer([&] { m_client.CloseSSL(); });
    closer.join();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return readerEnded.load(); }));
    reader.join();
    // The echo keeps the order of the writes: every message arrives whole,
    // never mixed with the other thread's.
    ASSERT_EQ(static_cast<size_t>(2 * kMessages * kSize), received.size());
    for (size_t at = 0; at < received.size(); at += kSize) {
        ASSERT_EQ(std::string(kSize, received[at]), received.substr(at, kSize)) << "at " << at;
    }
    EXPECT_EQ(static_cast<long>(kMessages * kSize), std::count(received.begin(), received.end(), 'A'));
}

TEST_F(OsslConcurrencyTest, WritingToAVanishedPeerFailsWithoutSignal) {
    m_echo.reset();  // stops the server thread
    m_pair->CloseServer();
    int result = 0;
    EXPECT_TRUE(testsupport::WaitUntil([&] {
        result = m_client.iSSLSend("data", 4);
        return result < 0;
    }));
    EXPECT_TRUE(Has(ClientRecords(), "ssl write err=" + std::to_string(result)));
    EXPECT_EQ(1, m_client.CloseSSL());  // the close notification fails quietly too
}

}  // namespace
}  // namespace tlstest
