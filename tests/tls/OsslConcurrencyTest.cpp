// One connection used from several threads at once.
#include <algorithm>
#include <atomic>

#include "tls/TlsTestEnv.h"

namespace tlstest {
namespace {

using OsslConcurrencyTest = TlsTest;

TEST_F(OsslConcurrencyTest, SessionThreadReadsWhileHostThreadsWriteAndAnotherCloses) {
    ASSERT_EQ(1, Connect(ClientConfig(), ServerConfig()));
    SetNonBlocking(m_pair->client);
    constexpr int kMessages = 200;
    constexpr int kSize = 100;
    std::atomic<int> sent{0};
    std::atomic<int> received{0};
    std::string data;  // the reader's until it is joined

    // The session thread polls and reads until the connection is gone.
    std::thread reader([&] {
        char buf[4096];
        for (int n = 0; n != -2; n = m_client.iSSLReceive(buf, sizeof buf)) {
            if (n > 0) data.append(buf, static_cast<size_t>(n));
            received += std::max(n, 0);
            WaitReadable(m_pair->client, 20);
        }
    });
    auto writer = [&](char fill) {
        const std::string message(kSize, fill);
        for (int i = 0; i < kMessages; ++i) sent += std::max(0, m_client.iSSLSend(message.data(), kSize));
    };
    std::thread writerA(writer, 'A');
    std::thread writerB(writer, 'B');
    writerA.join();
    writerB.join();
    EXPECT_EQ(2 * kMessages * kSize, sent.load());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return received.load() == sent.load(); }));
    std::thread closer([&] { m_client.CloseSSL(); });
    closer.join();
    reader.join();

    // The echo keeps the order of the writes: every message arrives whole.
    ASSERT_EQ(static_cast<size_t>(2 * kMessages * kSize), data.size());
    for (size_t at = 0; at < data.size(); at += kSize) {
        ASSERT_EQ(std::string(kSize, data[at]), data.substr(at, kSize)) << "at " << at;
    }
    EXPECT_EQ(kMessages * kSize, std::count(data.begin(), data.end(), 'A'));
}

}  // namespace
}  // namespace tlstest
