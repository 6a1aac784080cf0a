#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include <atomic>
#include <stdexcept>

#include "SocketTestKit.h"
#include "ThreadCount.h"
#include "support/TestSupport.h"

namespace {

using namespace sockettest;

TEST(SocketExWndTest, FirstSelectionStartsTheOnlyThreadAndCloseCreateReusesIt) {
    int threads = SettledThreadCount();
    RecordingSocket s;
    EXPECT_EQ(0u, s.Window().GetWindowHandle());
    ASSERT_TRUE(s.Create());
    uintptr_t window = s.Window().GetWindowHandle();
    EXPECT_NE(0u, window);
    EXPECT_EQ(threads + 1, testsupport::CountThreads());
    EXPECT_TRUE(s.AsyncSelect(FD_ALL_EVENTS));
    s.Close();
    ASSERT_TRUE(s.Create());
    EXPECT_EQ(window, s.Window().GetWindowHandle());
    EXPECT_EQ(threads + 1, testsupport::CountThreads());
}

TEST(SocketExWndTest, TwoSocketsHaveTwoWindowsAndThreads) {
    RecordingSocket a, b;
    ASSERT_TRUE(a.Create());
    ASSERT_TRUE(b.Create());
    EXPECT_NE(a.Window().GetWindowHandle(), b.Window().GetWindowHandle());
    ASSERT_TRUE(a.Sync());
    ASSERT_TRUE(b.Sync());
    std::thread::id ta = a.Records().front().thread, tb = b.Records().front().thread;
    EXPECT_NE(ta, tb);
    EXPECT_NE(std::this_thread::get_id(), ta);
    EXPECT_NE(std::this_thread::get_id(), tb);
}

TEST(SocketExWndTest, HandlersRunOnTheSocketsThreadInOrderOneAtATime) {
    RecordingSocket s;
    std::atomic<int> active{0}, most{0};
    s.inHandler = [&](int, int) {
        int now = ++active;
        if (now > most) most = now;
        std::this_thread::yield();
        --active;
    };
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    // Network events and posted messages interleave on the one thread.
    std::thread sender([&] {
        for (int i = 0; i < 200; ++i) SendText(peer.fd, "0123456789");
    });
    const int posted = 300;
    for (int i = 1; i <= posted; ++i)
        ASSERT_TRUE(s.Window().PostMessage(WM_SOCKETEX_NOTIFY, s.GetSocketHandle(), EventWord(FD_WRITE, i)));
    sender.join();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return s.Received().size() == 2000; }));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(1, most.load());
    std::vector<Record> records = s.Records();
    int expected = 1;
    for (const Record& r : records) {
        EXPECT_EQ(records.front().thread, r.thread);
        if (r.event == FD_WRITE && r.error != 0) {
            EXPECT_EQ(expected++, r.error);
        }
    }
    EXPECT_EQ(posted + 1, expected);
}

TEST(SocketExWndTest, NotificationsForOtherHandlesOrBelowTheSocketMessageCallNoHandler) {
    RecordingSocket s;
    ASSERT_TRUE(s.Create());
    SOCKET old = s.GetSocketHandle();
    s.Close();
    Fd holder(::eventfd(0, 0));  // keeps the old number from coming back to the socket
    ASSERT_TRUE(s.Create());
    ASSERT_NE(old, s.GetSocketHandle());
    CSocketExWnd& w = s.Window();
    ASSERT_TRUE(w.PostMessage(WM_SOCKETEX_NOTIFY, old, EventWord(FD_CLOSE, 0)));
    ASSERT_TRUE(w.PostMessage(WM_SOCKETEX_NOTIFY + 1, old, EventWord(FD_CLOSE, 0)));
    ASSERT_TRUE(w.PostMessage(WM_SOCKETEX_NOTIFY, INVALID_SOCKET, EventWord(FD_CLOSE, 0)));
    ASSERT_TRUE(w.PostMessage(WM_SOCKETEX_NOTIFY - 1, s.GetSocketHandle(), EventWord(FD_CLOSE, 0)));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(0u, s.Count(FD_CLOSE));
    // Messages from 0x503 upwards all carry socket notifications.
    ASSERT_TRUE(w.PostMessage(WM_SOCKETEX_NOTIFY + 1, s.GetSocketHandle(), EventWord(FD_CLOSE, 0)));
    EXPECT_TRUE(s.WaitCount(FD_CLOSE, 1));
}

TEST(SocketExWndTest, AThrowingHandlerDoesNotEndTheThread) {
    RecordingSocket s;
    s.inHandler = [](int, int error) {
        if (error == 1) throw std::runtime_error("handler failure");
    };
    ASSERT_TRUE(s.Create());
    ASSERT_TRUE(s.Window().PostMessage(WM_SOCKETEX_NOTIFY, s.GetSocketHandle(), EventWord(FD_CLOSE, 1)));
    ASSERT_TRUE(s.Window().PostMessage(WM_SOCKETEX_NOTIFY, s.GetSocketHandle(), EventWord(FD_CLOSE, 2)));
    ASSERT_TRUE(s.WaitCount(FD_CLOSE, 1));
    EXPECT_EQ(2, s.LastErrorOf(FD_CLOSE));
}

TEST(SocketExWndTest, EmptyMaskHoldsEventsBackUntilSelectedAgain) {
    RecordingSocket s;
    Fd peer = ConnectedPeer(s);
    ASSERT_GE(peer.fd, 0);
    ASSERT_TRUE(s.AsyncSelect(0));
    SendText(peer.fd, "held");
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        int n = 0;
        return ::ioctl(static_cast<int>(s.GetSocketHandle()), FIONREAD, &n) == 0 && n == 4;
    }));
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(0u, s.Count(FD_READ));
    ASSERT_TRUE(s.AsyncSelect(FD_READ));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return s.Received() == "held"; }));
}

class SelfDestroyingSocket : public CAsyncSocketEx {
public:
    explicit SelfDestroyingSocket(std::atomic<bool>* gone) : m_gone(gone) {}
    ~SelfDestroyingSocket() override {
        m_SocketWnd.DestroySocketWindow();
        Close();
        *m_gone = true;
    }
    void OnClose(int) override { delete this; }

private:
    std::atomic<bool>* m_gone;
};

TEST(SocketExWndTest, AHandlerMayDestroyItsOwnSocket) {
    int threads = SettledThreadCount();
    int descriptors = testsupport::CountOpenDescriptors();
    std::atomic<bool> gone{false};
    {
        unsigned port = 0;
        Fd listener = Listener(&port);
        auto* s = new SelfDestroyingSocket(&gone);
        ASSERT_TRUE(s->Create());
        s->Connect("127.0.0.1", port);
        Fd peer = AcceptWithin(listener.fd);
        ASSERT_GE(peer.fd, 0);
        peer.Reset();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return gone.load(); }));
    }
    EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::CountThreads() == threads; }));
    EXPECT_EQ(descriptors, testsupport::CountOpenDescriptors());
}

}  // namespace
