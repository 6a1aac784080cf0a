// The socket layer: Windows-style calls and errors, and the socket object
// whose own thread delivers network events and posted messages to handlers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>

#include "common/AsyncSocketEx.h"
#include "platform/Sockets.h"
#include "support/Loopback.h"
#include "support/TestSupport.h"

namespace {

using namespace testsupport;
using Ints = std::vector<int>;

constexpr int kMarker = 0xFFFF;  // error value of the posted write events used as markers

struct Record { int event, error; std::thread::id thread; };

// Records every handler call. Reads once on a read event; accepts and closes
// at once on an accept event.
class RecordingSocket : public CAsyncSocketEx {
public:
    std::function<void(int event, int error)> inHandler;  // runs last in a handler; may throw
    std::atomic<int> received{0};

    ~RecordingSocket() override {
        m_SocketWnd.DestroySocketWindow();
        Close();
    }
    int Mask() const { return m_lEvent; }
    bool Post(platform::SOCKET handle, int event, int error, unsigned message = platform::kSocketNotifyMessage) {
        return m_SocketWnd.Post(message, handle, platform::MakeEventWord(event, error));
    }
    std::vector<Record> Records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    std::vector<int> Events() {  // in order, without the markers
        std::vector<int> events;
        for (const Record& r : Records())
            if (r.event != kMarker) events.push_back(r.event);
        return events;
    }
    std::vector<int> Errors(int event) {  // one entry per call of the event's handler
        std::vector<int> errors;
        for (const Record& r : Records())
            if (r.event == event) errors.push_back(r.error);
        return errors;
    }
    bool WaitCount(int event, size_t n) {
        return WaitUntil([&] { return Errors(event).size() >= n; });
    }
    // Posts two markers, the second after the first was delivered. A marker
    // is delivered only after the socket was looked at once more, so after
    // the second one every event due when Sync began has been delivered.
    bool Sync() {
        for (size_t markers = Errors(kMarker).size(), i = 1; i <= 2; ++i)
            if (!Post(GetSocketHandle(), platform::kFdWrite, kMarker) || !WaitCount(kMarker, markers + i)) return false;
        return true;
    }

    void OnReceive(int error) override {
        char buffer[4096];  // one read per event: the event comes again while data wait
        received += std::max(0, Receive(buffer, sizeof buffer, 0));
        Note(platform::kFdRead, error);
    }
    void OnSend(int error) override { Note(error == kMarker ? kMarker : platform::kFdWrite, error); }
    void OnConnect(int error) override { Note(platform::kFdConnect, error); }
    void OnClose(int error) override { Note(platform::kFdClose, error); }
    void OnAccept(int error) override {
        platform::closesocket(Accept(nullptr, nullptr));
        Note(platform::kFdAccept, error);
    }

private:
    void Note(int event, int error) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_records.push_back({event, error, std::this_thread::get_id()});
        lock.unlock();
        if (inHandler && event != kMarker) inHandler(event, error);
    }

    std::mutex m_mutex;
    std::vector<Record> m_records;
};

// Creates `s` with all events and connects it in the background to `peer`;
// true once the peer accepted and the connect event came.
bool ConnectTo(RecordingSocket& s, LoopbackPeer& peer) {
    size_t connects = s.Errors(platform::kFdConnect).size();
    return s.Create() && !s.Connect("127.0.0.1", peer.port()) && s.GetSocketError() == platform::kWsaeWouldBlock &&
           peer.Accept() && s.WaitCount(platform::kFdConnect, connects + 1);
}

// The mapping of errno values shows in the calls' errors below and in the
// traced "LastError=10048" of a busy port (ServerPeer, ClientSessionTest).
TEST(SocketsTest, ErrorsArePerThreadAndBlockingCallsTimeOutOrFailWithoutSignal) {
    platform::WSASetLastError(0);
    std::thread([] { EXPECT_EQ(platform::kSocketError, platform::closesocket(platform::kInvalidSocket)); }).join();
    EXPECT_EQ(0, platform::WSAGetLastError());
    EXPECT_EQ(platform::kSocketError, platform::listen(platform::kInvalidSocket, 1));
    EXPECT_EQ(platform::kWsaeNotSock, platform::WSAGetLastError());

    LoopbackPeer peer;
    platform::SOCKET s = platform::socket(platform::kAfInet, platform::kSockStream, 0);
    platform::SOCKADDR_IN4 address{platform::kAfInet, platform::HostToNetwork16(static_cast<uint16_t>(peer.port())),
                         platform::inet_addr("127.0.0.1"), {}};
    ASSERT_TRUE(platform::connect(s, &address, sizeof address) == 0 && peer.Accept());
    int ms = 20;
    ASSERT_EQ(0, platform::setsockopt(s, platform::kSolSocket, platform::kSoRcvTimeo, &ms, sizeof ms));
    char buffer[16];
    EXPECT_EQ(platform::kSocketError, platform::recv(s, buffer, sizeof buffer, 0));
    EXPECT_EQ(platform::kWsaeTimedOut, platform::WSAGetLastError());
    // Sending on after a reset (EPIPE once the reset was reported) fails instead of raising SIGPIPE.
    peer.Reset();
    int result = 0;
    for (int i = 0; i < 100; ++i) result = platform::send(s, "data", 4, 0);
    EXPECT_EQ(platform::kSocketError, result);
    EXPECT_EQ(platform::kWsaeConnReset, platform::WSAGetLastError());
    platform::closesocket(s);
}

TEST(AsyncSocketExTest, ConnectWriteReadAndCloseEventsFollowTheRulesOverThreeConnections) {
    RecordingSocket s;
    ASSERT_TRUE(s.Create() && !s.Connect("127.0.0.1", RefusingPort()));
    EXPECT_EQ(platform::kWsaeWouldBlock, s.GetSocketError());
    ASSERT_TRUE(s.WaitCount(platform::kFdConnect, 1) && s.Sync());
    EXPECT_EQ(Ints{platform::kFdConnect}, s.Events());
    EXPECT_EQ(Ints{10061}, s.Errors(platform::kFdConnect));

    // Write comes once after the connect, then only after a send that would have blocked.
    s.Close();
    LoopbackPeer peer;
    ASSERT_TRUE(ConnectTo(s, peer) && s.WaitCount(platform::kFdWrite, 1) && s.Sync());
    EXPECT_EQ((Ints{platform::kFdConnect, platform::kFdConnect, platform::kFdWrite}), s.Events());
    EXPECT_EQ((Ints{10061, 0}), s.Errors(platform::kFdConnect));
    std::vector<char> chunk(65536, 'x');
    size_t sent = 0;
    for (int i = 0, n = 0; i < 10000 && (n = s.Send(chunk.data(), 65536, 0)) > 0; ++i) sent += n;
    ASSERT_EQ(platform::kWsaeWouldBlock, s.GetSocketError());
    ASSERT_TRUE(s.Sync());
    EXPECT_EQ(1u, s.Errors(platform::kFdWrite).size());
    EXPECT_EQ(sent, peer.Receive(sent).size());
    ASSERT_TRUE(s.WaitCount(platform::kFdWrite, 2));

    // The empty mask holds every event back; close then waits until the data were read.
    ASSERT_TRUE(s.AsyncSelect(0) && peer.Send("abc"));
    peer.Close();
    pollfd p{static_cast<int>(s.GetSocketHandle()), POLLRDHUP, 0};
    ASSERT_TRUE(WaitUntil([&] { return ::poll(&p, 1, 0) == 1; }));
    ASSERT_TRUE(s.Sync() && s.AsyncSelect(platform::kFdClose) && s.Sync());
    EXPECT_EQ((Ints{platform::kFdConnect, platform::kFdConnect, platform::kFdWrite, platform::kFdWrite}), s.Events());
    char buffer[8];
    EXPECT_EQ(3, s.Receive(buffer, sizeof buffer, 0));
    ASSERT_TRUE(s.WaitCount(platform::kFdClose, 1) && s.Sync());
    EXPECT_EQ(Ints{0}, s.Errors(platform::kFdClose));

    // A read notification with nothing waiting reaches the handler only with an error.
    s.Close();
    ASSERT_TRUE(ConnectTo(s, peer));
    ASSERT_TRUE(s.Post(s.GetSocketHandle(), platform::kFdRead, 0) &&
                s.Post(s.GetSocketHandle(), platform::kFdRead, platform::kWsaeConnAborted));
    ASSERT_TRUE(s.WaitCount(platform::kFdRead, 1) && s.Sync());
    EXPECT_EQ(Ints{platform::kWsaeConnAborted}, s.Errors(platform::kFdRead));
    peer.Reset();
    ASSERT_TRUE(s.WaitCount(platform::kFdClose, 2) && s.Sync());
    EXPECT_EQ((Ints{0, platform::kWsaeConnReset}), s.Errors(platform::kFdClose));
}

TEST(AsyncSocketExTest, ListenerAcceptsEveryWaitingConnection) {
    RecordingSocket listener, a, b;
    char address[16];
    unsigned port = 0;
    ASSERT_TRUE(listener.Create(0, "127.0.0.1", 1, 0x39) && listener.Listen(5) &&
                listener.GetSockName(address, &port) && a.Create() && b.Create());
    a.Connect("127.0.0.1", port);
    b.Connect("127.0.0.1", port);
    ASSERT_TRUE(listener.WaitCount(platform::kFdAccept, 2) && listener.Sync());
    EXPECT_EQ((Ints{platform::kFdAccept, platform::kFdAccept}), listener.Events());
}

TEST(AsyncSocketExTest, CreateBindAndConnectReportTheLayersOwnErrors) {
    auto failure = [](int result) { return result ? 0 : CAsyncSocketEx::GetSocketError(); };
    RecordingSocket s;
    ASSERT_TRUE(s.Create());
    platform::SOCKET first = s.GetSocketHandle();
    EXPECT_EQ(platform::kWsaeAlready, failure(s.Create()));
    EXPECT_EQ(first, s.GetSocketHandle());
    EXPECT_EQ(platform::kWsaeInval, failure(s.Bind(0, "255.255.255.255")));
    EXPECT_EQ(platform::kWsaeInval, failure(s.Connect("bad host name!", 80)));
    platform::WSASetLastError(12345);
    EXPECT_EQ(12345, failure(s.Connect(static_cast<const char*>(nullptr), 80)));
    s.Close();  // a bind failing inside Create leaves no socket behind
    EXPECT_EQ(platform::kWsaeInval, failure(s.Create(0, "255.255.255.255")));
    EXPECT_EQ(platform::kInvalidSocket, s.GetSocketHandle());

    // A connect to the socket's own address is refused, blocking or not,
    // instead of connecting the socket with itself.
    for (bool blocking : {true, false}) {
        RecordingSocket self;
        ASSERT_TRUE(self.Create(0, "127.0.0.1"));
        platform::SOCKADDR_IN4 own{};
        int length = sizeof own;
        ASSERT_EQ(0, platform::getsockname(self.GetSocketHandle(), &own, &length));
        const unsigned port = platform::NetworkToHost16(own.sin_port);
        if (blocking) {
            ASSERT_TRUE(self.SetBlocking());
            EXPECT_EQ(platform::kWsaeConnRefused, failure(self.Connect("127.0.0.1", port)));
        } else {
            self.Connect("127.0.0.1", port);
            ASSERT_TRUE(self.WaitCount(platform::kFdConnect, 1));
            EXPECT_EQ(Ints{platform::kWsaeConnRefused}, self.Errors(platform::kFdConnect));
        }
    }
}

TEST(AsyncSocketExTest, BlockingConnectCanBeAbortedAndCancelBlockSelectsAllEventsAgain) {
    RecordingSocket s;
    std::future<std::pair<int, int>> hanging;  // outlives the listener, whose end refuses a hanging connect
    FullBacklogListener full;
    ASSERT_TRUE(s.Create() && s.SetBlocking());
    auto attempt = [&] {
        int result = s.Connect("127.0.0.1", full.port());
        return std::make_pair(result, s.GetSocketError());
    };
    hanging = std::async(std::launch::async, attempt);
    EXPECT_TRUE(WaitUntil([&] {
        tcp_info info{};
        socklen_t length = sizeof info;
        ::getsockopt(static_cast<int>(s.GetSocketHandle()), IPPROTO_TCP, TCP_INFO, &info, &length);
        return info.tcpi_state == TCP_SYN_SENT;
    }));
    s.AbortBlockingCall();
    ASSERT_EQ(std::future_status::ready, hanging.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ(std::make_pair(0, 10004), hanging.get());
    EXPECT_EQ(std::make_pair(0, 10004), attempt());  // stays aborted

    s.Close();
    LoopbackPeer peer;
    ASSERT_TRUE(s.Create() && s.SetBlocking());  // a new socket starts without the abort
    EXPECT_EQ(1, s.Connect("127.0.0.1", peer.port()));
    ASSERT_TRUE(s.CancelBlock());
    EXPECT_TRUE(platform::IsNonBlocking(s.GetSocketHandle()));
    EXPECT_EQ(platform::kFdAllEvents, s.Mask());
    ASSERT_TRUE(s.WaitCount(platform::kFdWrite, 1) && s.Sync());
    EXPECT_EQ(Ints{platform::kFdWrite}, s.Events());
}

TEST(AsyncSocketExTest, DestroyingASocketWhileThePeerSendsLeavesNoThreadOrDescriptor) {
    int threads = SettledThreadCount();
    int descriptors = CountOpenDescriptors();
    {
        LoopbackPeer peer;
        auto s = std::make_unique<RecordingSocket>();
        ASSERT_TRUE(ConnectTo(*s, peer));
        std::atomic<bool> stop{false};
        std::thread sender([&] {  // ends when the socket's end goes (a send fails) or when told to
            while (!stop && peer.Send(std::string(4096, 'y'))) {
            }
        });
        EXPECT_TRUE(s->WaitCount(platform::kFdRead, 3));
        s.reset();
        stop = true;
        sender.join();
    }
    EXPECT_TRUE(WaitUntil([&] { return CountThreads() == threads; }));
    EXPECT_EQ(descriptors, CountOpenDescriptors());
}

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
    LoopbackPeer peer;
    ASSERT_TRUE(ConnectTo(s, peer) && other.Create());
    EXPECT_EQ(threads + 2, CountThreads());
    // Network events and posted messages interleave on the one thread.
    std::thread sender([&] {
        for (int i = 0; i < 200; ++i) peer.Send("0123456789");
    });
    for (int i = 1; i <= 300; ++i) EXPECT_TRUE(s.Post(s.GetSocketHandle(), platform::kFdWrite, i));
    sender.join();
    ASSERT_TRUE(WaitUntil([&] { return s.received == 2000; }) && s.Sync() && other.Sync());
    EXPECT_FALSE(overlap);
    std::vector<int> posted = s.Errors(platform::kFdWrite), expected(300);
    posted.erase(std::remove(posted.begin(), posted.end(), 0), posted.end());  // the real write event
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(expected, posted);
    std::vector<Record> records = s.Records();
    std::thread::id own = records.front().thread;
    EXPECT_TRUE(std::all_of(records.begin(), records.end(), [&](const Record& r) { return r.thread == own; }));
    EXPECT_NE(std::this_thread::get_id(), own);
    EXPECT_NE(other.Records().front().thread, own);

    platform::SOCKET old = s.GetSocketHandle();
    s.Close();
    int holder = ::eventfd(0, 0);  // keeps the old number from coming back to the socket
    ASSERT_TRUE(s.Create());       // a new socket on the same object keeps the thread
    ::close(holder);
    EXPECT_EQ(threads + 2, CountThreads());
    platform::SOCKET now = s.GetSocketHandle();
    ASSERT_NE(old, now);
    ASSERT_TRUE(s.Post(old, platform::kFdClose, 0) &&
                s.Post(old, platform::kFdClose, 0, platform::kSocketNotifyMessage + 1) &&
                s.Post(platform::kInvalidSocket, platform::kFdClose, 0) &&
                s.Post(now, platform::kFdClose, 0, platform::kSocketNotifyMessage - 1));
    ASSERT_TRUE(s.Sync());
    EXPECT_TRUE(s.Errors(platform::kFdClose).empty());
    // Messages from 0x503 upwards all carry notifications; a throwing handler does not end the thread.
    ASSERT_TRUE(s.Post(now, platform::kFdClose, 999, platform::kSocketNotifyMessage + 1) &&
                s.Post(now, platform::kFdClose, 2));
    ASSERT_TRUE(s.WaitCount(platform::kFdClose, 2));
    EXPECT_EQ((std::vector<int>{999, 2}), s.Errors(platform::kFdClose));
}

}  // namespace
