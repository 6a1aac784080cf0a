#pragma once
// Helpers for the socket event tests: plain loopback peers and a socket
// object that records the events its handlers receive.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/AsyncSocketEx.h"

namespace sockettest {

constexpr auto kLimit = std::chrono::milliseconds(5000);
constexpr int kMarker = 0xFFFF;  // error value of the posted write events used as markers

// A plain descriptor closed at the end of its scope.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        Reset();
        fd = o.fd;
        o.fd = -1;
        return *this;
    }
    ~Fd() { Reset(); }
    void Reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

inline sockaddr_in Loopback(unsigned port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline unsigned PortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A plain listener on an ephemeral loopback port.
inline Fd Listener(unsigned* port, int backlog = 8) {
    Fd l(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = Loopback(0);
    ::bind(l.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(l.fd, backlog);
    *port = PortOf(l.fd);
    return l;
}

inline Fd AcceptWithin(int listener, std::chrono::milliseconds limit = kLimit) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return Fd();
    return Fd(::accept(listener, nullptr, nullptr));
}

inline Fd ConnectTo(unsigned port) {
    Fd c(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = Loopback(port);
    if (::connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) c.Reset();
    return c;
}

inline void SendText(int fd, const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

// Closes with a reset instead of an orderly close.
inline void Reset(Fd& fd) {
    linger l{1, 0};
    ::setsockopt(fd.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd.Reset();
}

// The second parameter of a socket notification.
inline intptr_t EventWord(int event, int error) { return (error << 16) | event; }

struct Record {
    int event;
    int error;
    std::thread::id thread;
};

// Records every handler call. Reads once on a read event and accepts a
// connection on an accept event.
class RecordingSocket : public CAsyncSocketEx {
public:
    std::function<void(int event, int error)> inHandler;  // runs inside each handler

    ~RecordingSocket() override {
        m_SocketWnd.DestroySocketWindow();
        Close();
        for (SOCKET s : m_accepted) ::close(static_cast<int>(s));
    }

    int Mask() const { return m_lEvent; }
    CSocketExWnd& Window() { return m_SocketWnd; }

    std::vector<Record> Records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    std::string Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    std::vector<SOCKET> Accepted() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_accepted;
    }
    // The error of the latest call for `event`; -1 when there was none.
    int LastErrorOf(int event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto r = m_records.rbegin(); r != m_records.rend(); ++r)
            if (r->event == event) return r->error;
        return -1;
    }
    size_t Count(int event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CountLocked(event);
    }
    bool WaitCount(int event, size_t n, std::chrono::milliseconds limit = kLimit) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return CountLocked(event) >= n; });
    }
    // Posts two markers, the second after the first was delivered. A marker
    // is delivered only after the socket was looked at once more, so after
    // the second one every event due when Sync began has been delivered.
    bool Sync() {
        for (int i = 0; i < 2; ++i) {
            size_t markers = Count(kMarker);
            if (!m_SocketWnd.PostMessage(WM_SOCKETEX_NOTIFY, GetSocketHandle(), EventWord(FD_WRITE, kMarker)) ||
                !WaitCount(kMarker, markers + 1))
                return false;
        }
        return true;
    }

    void OnReceive(int error) override {
        Note(FD_READ, error);
        char buffer[4096];  // one read per event: the event comes again while data wait
        int n = Receive(buffer, sizeof buffer, 0);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (n > 0) m_received.append(buffer, static_cast<size_t>(n));
    }
    void OnSend(int error) override { Note(error == kMarker ? kMarker : FD_WRITE, error); }
    void OnConnect(int error) override { Note(FD_CONNECT, error); }
    void OnClose(int error) override { Note(FD_CLOSE, error); }
    void OnAccept(int error) override {
        SOCKET s = Accept(nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_accepted.push_back(s);
        }
        Note(FD_ACCEPT, error);
    }

private:
    size_t CountLocked(int event) const {
        size_t n = 0;
        for (const Record& r : m_records) n += r.event == event;
        return n;
    }
    void Note(int event, int error) {
        if (inHandler && event != kMarker) inHandler(event, error);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_records.push_back({event, error, std::this_thread::get_id()});
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Record> m_records;
    std::string m_received;
    std::vector<SOCKET> m_accepted;
};

// Creates `s` with all events, connects it in the background to a fresh
// loopback listener and returns the peer's end once the connect event came.
inline Fd ConnectedPeer(RecordingSocket& s) {
    unsigned port = 0;
    Fd listener = Listener(&port);
    if (!s.Create() || s.Connect("127.0.0.1", port) || s.GetSocketError() != WSAEWOULDBLOCK) return Fd();
    Fd peer = AcceptWithin(listener.fd);
    if (!s.WaitCount(FD_CONNECT, 1)) peer.Reset();
    return peer;
}

}  // namespace sockettest
