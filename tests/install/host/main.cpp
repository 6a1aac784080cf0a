// A host that knows only the installed header and library.
#include <Tolvane.h>

#include <cstdio>

class Host : public CITolvane {
public:
    void OnConnect(int) override { ++connects; }
    int connects = 0;
};

int main() {
    Host host;
    host.SetConfigPathName("/nonexistent/NetWork.ini");
    if (host.StartTolvane(0, 0) != -1) return 1;  // no address configured
    if (host.GetNetworkStatus() != 1) return 2;
    unsigned char buf[16];
    int len = 0;
    if (host.RecvData(buf, &len, 10) != -1) return 3;
    ONetworkItf* net = CreateNetworkInstance();
    if (!net) return 4;
    net->Release();
    std::printf("tiny host ok\n");
    return 0;
}
