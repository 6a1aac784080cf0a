#include "devkit/LoopbackPort.h"

#include "devkit/SocketCompat.h"

namespace devkit {

int FreeLoopbackPort() {
    int fd = net::TcpSocket(false);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    net::SockLen len = sizeof addr;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0) net::Close(fd);
    return port;
}

}  // namespace devkit
