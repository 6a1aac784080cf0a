#pragma once
// Helpers for the socket event tests: a socket object that records the
// events its handlers receive, and thread counting.
#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/AsyncSocketEx.h"
#include "platform/Sockets.h"
#include "support/LoopbackPeer.h"
#include "support/TestSupport.h"

namespace sockettest {

constexpr int kMarker = 0xFFFF;  // error value of the posted write events used as markers

// The second parameter of a socket notification.
inline intptr_t EventWord(int event, int error) { return (error << 16) | event; }

inline SOCKADDR_IN4 Loopback(unsigned port) {
    return {static_cast<uint16_t>(platform::AF_INET_WIN), platform::HostToNetwork16(static_cast<uint16_t>(port)),
            platform::inet_addr("127.0.0.1"), {}};
}

// The number of threads after a first thread has come and gone, so that
// helper threads a runtime starts with the first one are already counted.
inline int SettledThreadCount() {
    std::thread([] {}).join();
    return testsupport::CountThreads();
}

struct Record {
    int event;
    int error;
    std::thread::id thread;
};

// Records every handler call. Reads once on a read event; accepts and closes
// at once on an accept event.
class RecordingSocket : public CAsyncSocketEx {
public:
    // Runs last in each handler but the markers'; it may throw or delete the object.
    std::function<void(int event, int error)> inHandler;
    std::atomic<int> nonBlockingAccepts{0};

    ~RecordingSocket() override {
        m_SocketWnd.DestroySocketWindow();
        Close();
    }
    int Mask() const { return m_lEvent; }
    bool Post(SOCKET handle, int event, int error, unsigned message = WM_SOCKETEX_NOTIFY) {
        return m_SocketWnd.PostMessage(message, handle, EventWord(event, error)) == 1;
    }
    std::vector<Record> Records() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    std::string Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    std::vector<int> Events() {  // without the markers
        std::vector<int> events;
        for (const Record& r : Records())
            if (r.event != kMarker) events.push_back(r.event);
        return events;
    }
    size_t Count(int event) {
        std::vector<Record> r = Records();
        return std::count_if(r.begin(), r.end(), [&](const Record& x) { return x.event == event; });
    }
    int LastErrorOf(int event) {  // -1 when there was none
        std::vector<Record> r = Records();
        auto it = std::find_if(r.rbegin(), r.rend(), [&](const Record& x) { return x.event == event; });
        return it == r.rend() ? -1 : it->error;
    }
    bool WaitCount(int event, size_t n) {
        return testsupport::WaitUntil([&] { return Count(event) >= n; });
    }
    // Posts two markers, the second after the first was delivered. A marker
    // is delivered only after the socket was looked at once more, so after
    // the second one every event due when Sync began has been delivered.
    bool Sync() {
        for (int i = 0; i < 2; ++i) {
            size_t markers = Count(kMarker);
            if (!Post(GetSocketHandle(), FD_WRITE, kMarker) || !WaitCount(kMarker, markers + 1)) return false;
        }
        return true;
    }

    void OnReceive(int error) override {
        char buffer[4096];  // one read per event: the event comes again while data wait
        int n = Receive(buffer, sizeof buffer, 0);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.append(buffer, static_cast<size_t>(n));
        }
        Note(FD_READ, error);
    }
    void OnSend(int error) override { Note(error == kMarker ? kMarker : FD_WRITE, error); }
    void OnConnect(int error) override { Note(FD_CONNECT, error); }
    void OnClose(int error) override { Note(FD_CLOSE, error); }
    void OnAccept(int error) override {
        SOCKET s = Accept(nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            nonBlockingAccepts += platform::IsNonBlocking(s);
            platform::closesocket(s);
        }
        Note(FD_ACCEPT, error);
    }

private:
    void Note(int event, int error) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_records.push_back({event, error, std::this_thread::get_id()});
        }
        if (inHandler && event != kMarker) inHandler(event, error);
    }

    std::mutex m_mutex;
    std::vector<Record> m_records;
    std::string m_received;
};

// Creates `s` with all events and connects it in the background to `peer`;
// true once the peer accepted and the connect event came.
inline bool ConnectTo(RecordingSocket& s, testsupport::LoopbackPeer& peer) {
    size_t connects = s.Count(FD_CONNECT);
    return s.Create() && !s.Connect("127.0.0.1", peer.port()) && s.GetSocketError() == WSAEWOULDBLOCK &&
           peer.Accept() && s.WaitCount(FD_CONNECT, connects + 1);
}

}  // namespace sockettest
