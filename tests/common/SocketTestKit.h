#pragma once
// Helpers for the socket event tests: a socket object that records the
// events its handlers receive, and thread counting.
#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/AsyncSocketEx.h"
#include "platform/Sockets.h"
#include "support/Loopback.h"
#include "support/TestSupport.h"

namespace sockettest {

constexpr int kMarker = 0xFFFF;  // error value of the posted write events used as markers

// The number of threads after a first thread has come and gone, so that
// helper threads a runtime starts with the first one are already counted.
inline int SettledThreadCount() {
    std::thread([] {}).join();
    return testsupport::CountThreads();
}

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
    bool Post(SOCKET handle, int event, int error, unsigned message = WM_SOCKETEX_NOTIFY) {
        return m_SocketWnd.PostMessage(message, handle, (error << 16) | event) == 1;
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
        return testsupport::WaitUntil([&] { return Errors(event).size() >= n; });
    }
    // Posts two markers, the second after the first was delivered. A marker
    // is delivered only after the socket was looked at once more, so after
    // the second one every event due when Sync began has been delivered.
    bool Sync() {
        for (size_t markers = Errors(kMarker).size(), i = 1; i <= 2; ++i)
            if (!Post(GetSocketHandle(), FD_WRITE, kMarker) || !WaitCount(kMarker, markers + i)) return false;
        return true;
    }

    void OnReceive(int error) override {
        char buffer[4096];  // one read per event: the event comes again while data wait
        received += std::max(0, Receive(buffer, sizeof buffer, 0));
        Note(FD_READ, error);
    }
    void OnSend(int error) override { Note(error == kMarker ? kMarker : FD_WRITE, error); }
    void OnConnect(int error) override { Note(FD_CONNECT, error); }
    void OnClose(int error) override { Note(FD_CLOSE, error); }
    void OnAccept(int error) override {
        platform::closesocket(Accept(nullptr, nullptr));
        Note(FD_ACCEPT, error);
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
inline bool ConnectTo(RecordingSocket& s, testsupport::LoopbackPeer& peer) {
    size_t connects = s.Errors(FD_CONNECT).size();
    return s.Create() && !s.Connect("127.0.0.1", peer.port()) && s.GetSocketError() == WSAEWOULDBLOCK &&
           peer.Accept() && s.WaitCount(FD_CONNECT, connects + 1);
}

}  // namespace sockettest
