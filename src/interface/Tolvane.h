#pragma once
// Tolvane: TCP message exchange for self-service terminal hosts.
// This is the one header a host includes.
#include <atomic>
#include <cstdint>

#if defined(TOLVANE_BUILDING)
#define TOLVANE_API __attribute__((visibility("default")))
#else
#define TOLVANE_API
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
    std::atomic<int> m_nMode;  // read by the host's calls from inside notifications too
    int m_nSessionIndex;
    char m_szConfigPath[1024];
    char m_szConfigDir[1024];
};

// The plain interface returned by CreateNetworkInstance. Its mode comes from
// the "tcpipmode" key of section "network"; Release() destroys the object.
class ONetworkItf {
public:
    virtual int Start(int reserved, int sessionIndex) = 0;
    virtual int Stop(int reserved1, int reserved2) = 0;
    virtual int Send(int reserved1, int reserved2, int reserved3, const void* data, int len, int reserved4) = 0;
    // 0 with a message, 1 without; `buf` must hold 102400 bytes.
    virtual int Recv(int reserved1, int reserved2, int reserved3, void* buf, int* len, unsigned long timeoutMs) = 0;
    virtual int GetStatus(int reserved1, int reserved2) = 0;
    virtual int Control(const char* text, const char* dir, const char* params, int reserved) = 0;
    virtual void Reserved() = 0;
    virtual void ReservedWithArg(int) = 0;
    virtual void Release() = 0;

protected:
    ~ONetworkItf() = default;
};

TOLVANE_API ONetworkItf* CreateNetworkInstance();

// Host window messages (9913 about connections) are delivered by calling
// this procedure synchronously; a null procedure unregisters.
using TolvaneWindowProc = intptr_t (*)(uintptr_t window, unsigned int message, uintptr_t wParam, intptr_t lParam);
TOLVANE_API void SetHostWindowProc(TolvaneWindowProc proc);
