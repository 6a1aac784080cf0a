#pragma once
// What a host does with the public header: derive from the service class and
// call the plain interface.

#ifdef TOLVANE_HAS_HOST_WINDOW_PROC
#error "SetHostWindowProc is Linux only: Windows hosts get real window messages"
#endif

static_assert(sizeof(ONetworkItf) == sizeof(void*), "ONetworkItf is its table pointer alone");

class HostService : public CITolvane {
public:
    void OnConnect(int) override;
    void OnClose(int) override;
    void OnReceive(const unsigned char* data, unsigned long len, int errorCode) override;
};

inline int HostStartsPlainInterface(ONetworkItf& network) {
    return network.Start(0, 0);
}
