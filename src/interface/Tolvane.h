#pragma once
// Tolvane: TCP message exchange for self-service terminal hosts.
// This is the one header a host includes.
#include <atomic>
#include <cstdint>

// TOLVANE_API marks what the library exports: on Windows the DLL exports it
// and hosts import it (the whole class, so a host's derived class links);
// elsewhere the shared library makes it visible.
#if defined(_WIN32)
#if defined(TOLVANE_BUILDING)
#define TOLVANE_API __declspec(dllexport)
#else
#define TOLVANE_API __declspec(dllimport)
#endif
#elif defined(TOLVANE_BUILDING)
#define TOLVANE_API __attribute__((visibility("default")))
#else
#define TOLVANE_API
#endif

// The calling convention of ONetworkItf's members: thiscall on 32-bit
// Windows, the convention of interface tables there, so hosts built by any
// compiler can call them through the table.
#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#define TOLVANE_ITFCALL __attribute__((thiscall))
#elif defined(_WIN32) && defined(_M_IX86)
#define TOLVANE_ITFCALL __thiscall
#else
#define TOLVANE_ITFCALL
#endif

class CConnector;
class CServer;

// The service object. Construct it, optionally point it at a configuration
// file and a trace folder, start it as a client (mode 0) or a server (any
// other mode), and derive from it to receive the notifications, which are
// called on the library's threads.
class TOLVANE_API CITolvane {
public:
    CITolvane();
    virtual ~CITolvane();
    CITolvane(const CITolvane&) = delete;
    CITolvane& operator=(const CITolvane&) = delete;

    int StartTolvane(int mode, int sessionIndex);
    int StopTolvane();
    int SendData(const void* data, int len, unsigned long reserved, const void* logText, int logLen);
    // `buf` must hold 102400 bytes.
    int RecvData(unsigned char* buf, int* len, unsigned long timeoutMs);
    int ExecuteCMD(unsigned long cmd, void* reserved1, unsigned long value, void* reserved2, void** reserved3,
                   int reserved4);
    int GetNetworkStatus();
    int SetRecvDataType(int type);
    void SetConfigDir(const char* dir);
    void SetConfigPathName(const char* path);
    void SetLogPath(const char* dir);
    void SetLogName(const char* name);
    void Log(const char* text);

    virtual void OnConnect(int);
    virtual void OnClose(int);
    virtual void OnReceive(const unsigned char* data, unsigned long len, int errorCode);

private:
    void ReadConfig();

    CConnector* m_pClient;
    CServer* m_pServer;
    // Read by notifications on library threads while a host thread may start
    // again or switch the mode.
    std::atomic<int> m_nMode;
    std::atomic<int> m_nSessionIndex;
    char m_szConfigPath[1024];
    char m_szConfigDir[1024];
};

// The plain interface returned by CreateNetworkInstance. Its mode comes from
// the "tcpipmode" key of section "network"; Release() destroys the object.
// Nine table slots in this order and no destructor slot: hosts that are not
// built with this header call the members through the table.
class ONetworkItf {
public:
    virtual int TOLVANE_ITFCALL Start(int reserved, int sessionIndex) = 0;
    virtual int TOLVANE_ITFCALL Stop(int reserved1, int reserved2) = 0;
    virtual int TOLVANE_ITFCALL Send(int reserved1, int reserved2, int reserved3, const void* data, int len,
                                     int reserved4) = 0;
    // 0 with a message, 1 without; `buf` must hold 102400 bytes.
    virtual int TOLVANE_ITFCALL Recv(int reserved1, int reserved2, int reserved3, void* buf, int* len,
                                     unsigned long timeoutMs) = 0;
    virtual int TOLVANE_ITFCALL GetStatus(int reserved1, int reserved2) = 0;
    virtual int TOLVANE_ITFCALL Control(const char* text, const char* dir, const char* params, int reserved) = 0;
    virtual void TOLVANE_ITFCALL Reserved() = 0;
    virtual void TOLVANE_ITFCALL ReservedWithArg(int) = 0;
    virtual void TOLVANE_ITFCALL Release() = 0;

protected:
    ~ONetworkItf() = default;
};

TOLVANE_API ONetworkItf* CreateNetworkInstance();

#if !defined(_WIN32)
// Host window messages (9913 about connections) are delivered by calling
// this procedure synchronously; a null procedure unregisters. On Windows
// they go to the real window.
#define TOLVANE_HAS_HOST_WINDOW_PROC 1
using TolvaneWindowProc = intptr_t (*)(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam);
TOLVANE_API void SetHostWindowProc(TolvaneWindowProc proc);
#endif
