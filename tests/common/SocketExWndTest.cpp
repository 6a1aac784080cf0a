#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <numeric>
#include <stdexcept>

#include "SocketTestKit.h"

namespace {

using namespace sockettest;

TEST(SocketExWndTest, EachSocketsOwnThreadRunsItsHandlersInOrderOneAtATimeAndOnlyForItsCurrentHandle) {
    int threads = SettledThreadCount();
    RecordingSocket s, other;
    std::atomic<int> active{0};
    std::atomic<bool> overlap{false};
    s.inHandler = [&](int, int error) {
        if (++active > 1) overlap = true;
        std::this_thread::yield();
        --active;
        if (error == 999) throw std::runtime_error("handler failure");
    };
    testsupport::LoopbackPeer peer;
    ASSERT_TRUE(ConnectTo(s, peer) && other.Create());
    EXPECT_EQ(threads + 2, testsupport::CountThreads());
    // Network events and posted messages interleave on the one thread.
    std::thread sender([&] {
        for (int i = 0; i < 200; ++i) peer.Send("0123456789");
    });
    for (int i = 1; i <= 300; ++i) EXPECT_TRUE(s.Post(s.GetSocketHandle(), FD_WRITE, i));
    sender.join();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return s.received == 2000; }) && s.Sync() && other.Sync());
    EXPECT_FALSE(overlap);
    std::vector<int> posted = s.Errors(FD_WRITE), expected(300);
    posted.erase(std::remove(posted.begin(), posted.end(), 0), posted.end());  // the real write event
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(expected, posted);
    std::vector<Record> records = s.Records();
    std::thread::id own = records.front().thread;
    EXPECT_TRUE(std::all_of(records.begin(), records.end(), [&](const Record& r) { return r.thread == own; }));
    EXPECT_NE(std::this_thread::get_id(), own);
    EXPECT_NE(other.Records().front().thread, own);

    SOCKET old = s.GetSocketHandle();
    s.Close();
    int holder = ::eventfd(0, 0);  // keeps the old number from coming back to the socket
    ASSERT_TRUE(s.Create());       // a new socket on the same object keeps the thread
    ::close(holder);
    EXPECT_EQ(threads + 2, testsupport::CountThreads());
    SOCKET now = s.GetSocketHandle();
    ASSERT_NE(old, now);
    ASSERT_TRUE(s.Post(old, FD_CLOSE, 0) && s.Post(old, FD_CLOSE, 0, WM_SOCKETEX_NOTIFY + 1) &&
                s.Post(INVALID_SOCKET, FD_CLOSE, 0) && s.Post(now, FD_CLOSE, 0, WM_SOCKETEX_NOTIFY - 1));
    ASSERT_TRUE(s.Sync());
    EXPECT_TRUE(s.Errors(FD_CLOSE).empty());
    // Messages from 0x503 upwards all carry notifications; a throwing handler does not end the thread.
    ASSERT_TRUE(s.Post(now, FD_CLOSE, 999, WM_SOCKETEX_NOTIFY + 1) && s.Post(now, FD_CLOSE, 2));
    ASSERT_TRUE(s.WaitCount(FD_CLOSE, 2));
    EXPECT_EQ((std::vector<int>{999, 2}), s.Errors(FD_CLOSE));
}

}  // namespace
