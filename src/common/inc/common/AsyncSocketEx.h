#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/SocketNotifier.h"
#include "platform/SocketTypes.h"
#include "platform/SocketWait.h"

// Base of every socket object: wraps one IPv4 TCP socket, offers the socket
// operations as virtual methods and turns the socket's network events into
// calls of the On* handlers, made on the socket's own notification thread
// (see platform::SocketNotifier for the thread and the rules by which each
// event is announced). Operations that succeed or fail return 1 or 0; the reason
// is read with GetSocketError (Windows socket error numbers).
//
// Read and accept are announced while data or connections wait, so their
// handlers must read or accept (by any means) or they are called again at
// once; write comes again only after a Send that would have blocked.
//
// The destructor ends the notification thread but does not close the socket.
// A derived class whose handlers use its own members calls
// m_SocketWnd.DestroySocketWindow() first thing in its destructor, so that no
// handler runs while those members are destroyed.
class CAsyncSocketEx : public platform::SocketMessageTarget {
public:
    CAsyncSocketEx();
    virtual ~CAsyncSocketEx();
    CAsyncSocketEx(const CAsyncSocketEx&) = delete;
    CAsyncSocketEx& operator=(const CAsyncSocketEx&) = delete;

    virtual int Bind(const platform::SOCKADDR_IN4* address, int length);
    // Address null: any address. An address that does not parse fails with 10022.
    virtual int Bind(unsigned port, const char* address);
    virtual int Listen(int backlog);
    virtual platform::SOCKET Accept(platform::SOCKADDR_IN4* address, int* length);
    // On a non-blocking socket a connect that goes on in the background
    // returns 0 with 10035 and ends with the connect event. On a blocking
    // socket it waits for the result, unless AbortBlockingCall ends it.
    virtual int Connect(const platform::SOCKADDR_IN4* address, int length);
    // Host null: 0 and the last error unchanged. Unresolvable name: 0 with 10022.
    virtual int Connect(const char* host, unsigned port);
    virtual int Receive(void* buffer, int length, int flags);
    virtual int Send(const void* buffer, int length, int flags);
    virtual void Close();
    virtual void OnAccept(int /*error*/) {}
    virtual void OnClose(int /*error*/) {}
    virtual void OnConnect(int /*error*/) {}
    virtual void OnReceive(int /*error*/) {}
    virtual void OnSend(int /*error*/) {}

    // Fails with 10037 when a socket is open. Address reuse is set before the
    // bind, so a port whose last connection lingers can be bound again.
    int Create(unsigned port = 0, const char* address = nullptr, int type = 1, int mask = platform::kFdAllEvents,
               int reuse = 1);
    // Selects the events of `mask` (0: none) and makes the socket
    // non-blocking. The first nonzero selection starts the notification thread.
    int AsyncSelect(int mask);
    int SetBlocking();
    int CancelBlock();
    // Switching to blocking mode fails with 10022 while events are selected.
    int IOCtl(long command, uint32_t* argument);
    int SetSockOpt(int option, const void* value, int length, int level = platform::kSolSocket);
    int ShutDown(int how);
    int GetPeerName(char* address, unsigned* port);  // address: at least 16 bytes
    int GetSockName(char* address, unsigned* port);
    platform::SOCKET GetSocketHandle() const { return m_hSocket.load(); }
    void SetSocketHandle(platform::SOCKET handle) { m_hSocket.store(handle); }
    // Takes over a connection (one just accepted): once events are selected,
    // they are those of a connection, also when the peer reset it before.
    void AttachConnection(platform::SOCKET handle);
    void SetHostWnd(uintptr_t window) { m_hNotifyWnd.store(window); }
    uintptr_t GetHostWnd() const { return m_hNotifyWnd.load(); }
    uintptr_t GetSocketWindow();
    int OnSocketMessage(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam) override;

    // Callable from any thread: a blocking Connect running on this object
    // returns 0 with 10004 promptly, and later blocking Connects do so at
    // once, until ClearAbort or the next Create.
    void AbortBlockingCall();
    void ClearAbort();

    static int GetSocketError();
    // Each socket object uses the socket library from construction to
    // destruction; these count one use more or less.
    static int Startup();
    static int Cleanup();

protected:
    // Closes a handle that was taken out of m_hSocket before (Close does
    // both at once); nothing for the invalid socket.
    void CloseDetached(platform::SOCKET s);

    std::atomic<platform::SOCKET> m_hSocket{platform::kInvalidSocket};
    std::atomic<int> m_lEvent{platform::kFdAllEvents};
    platform::SocketNotifier m_SocketWnd{this};
    std::atomic<uintptr_t> m_hNotifyWnd{0};

private:
    platform::Wakeup& AbortSignal();

    const bool m_bLibraryStarted;  // this object counts as a user of the socket library

    std::mutex m_windowLock;  // one thread starts the notification thread
    std::mutex m_abortLock;
    std::unique_ptr<platform::Wakeup> m_abort;  // made on first use, kept to the end
};
