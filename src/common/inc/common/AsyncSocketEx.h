#pragma once
#include <atomic>
#include <cstdint>

#include "common/SocketExWnd.h"
#include "platform/SocketTypes.h"

// Base of every socket object: wraps one IPv4 TCP socket, offers the socket
// operations as virtual methods and turns the socket's network events into
// calls of the On* handlers, made on the socket's own notification thread.
class CAsyncSocketEx {
public:
    CAsyncSocketEx();
    virtual ~CAsyncSocketEx();
    CAsyncSocketEx(const CAsyncSocketEx&) = delete;
    CAsyncSocketEx& operator=(const CAsyncSocketEx&) = delete;

    virtual int Bind(const SOCKADDR_IN4* address, int length);
    virtual int Bind(unsigned port, const char* address);
    virtual int Listen(int backlog);
    virtual SOCKET Accept(SOCKADDR_IN4* address, int* length);
    virtual int Connect(const SOCKADDR_IN4* address, int length);
    virtual int Connect(const char* host, unsigned port);
    virtual int Receive(void* buffer, int length, int flags);
    virtual int Send(const void* buffer, int length, int flags);
    virtual void Close();
    virtual void OnAccept(int /*error*/) {}
    virtual void OnClose(int /*error*/) {}
    virtual void OnConnect(int /*error*/) {}
    virtual void OnReceive(int /*error*/) {}
    virtual void OnSend(int /*error*/) {}

    int Create(unsigned port = 0, const char* address = nullptr, int type = 1, int mask = FD_ALL_EVENTS,
               int reuse = 1);
    int AsyncSelect(int mask);
    int SetBlocking();
    int CancelBlock();
    int IOCtl(long command, uint32_t* argument);
    int SetSockOpt(int option, const void* value, int length, int level = SOL_SOCKET_WIN);
    int ShutDown(int how);
    int GetPeerName(char* address, unsigned* port);  // address: at least 16 bytes
    int GetSockName(char* address, unsigned* port);
    SOCKET GetSocketHandle() const { return m_hSocket.load(); }
    void SetSocketHandle(SOCKET handle) { m_hSocket.store(handle); }
    void SetHostWnd(uintptr_t window) { m_hNotifyWnd.store(window); }
    uintptr_t GetHostWnd() const { return m_hNotifyWnd.load(); }
    uintptr_t GetSocketWindow();
    int OnSocketMessage(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam);

    static int GetSocketError();
    static int Startup() { return 1; }
    static int Cleanup() { return 1; }

protected:
    std::atomic<SOCKET> m_hSocket{INVALID_SOCKET};
    std::atomic<int> m_lEvent{FD_ALL_EVENTS};
    CSocketExWnd m_SocketWnd;
    std::atomic<uintptr_t> m_hNotifyWnd{0};
};
