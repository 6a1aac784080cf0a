#include "tls/SocketBio.h"

#include <cstdint>
#include <mutex>

#include "platform/RawSocketIo.h"

namespace {

platform::SOCKET SocketOf(BIO* b) {
    return static_cast<platform::SOCKET>(reinterpret_cast<uintptr_t>(BIO_get_data(b)));
}

// Retry flags follow OpenSSL's socket BIO, which reads the platform's last
// socket error (errno, or WSAGetLastError on Windows); the raw calls clear it
// first, so that a stale value cannot turn an end of stream into "try again".
int SocketBioWrite(BIO* b, const char* data, int len) {
    int n = static_cast<int>(platform::RawSocketSend(SocketOf(b), data, static_cast<size_t>(len)));
    BIO_clear_retry_flags(b);
    if (n <= 0 && BIO_sock_should_retry(n)) BIO_set_retry_write(b);
    return n;
}

int SocketBioRead(BIO* b, char* data, int len) {
    if (!data) return 0;
    int n = static_cast<int>(platform::RawSocketRecv(SocketOf(b), data, static_cast<size_t>(len)));
    BIO_clear_retry_flags(b);
    if (n <= 0) {
        if (BIO_sock_should_retry(n)) {
            BIO_set_retry_read(b);
        } else if (n == 0) {
            BIO_set_flags(b, BIO_FLAGS_IN_EOF);
        }
    }
    return n;
}

long SocketBioCtrl(BIO* b, int cmd, long num, void* ptr) {
    switch (cmd) {
    case BIO_C_GET_FD: {
        if (!BIO_get_init(b)) return -1;
        int fd = static_cast<int>(SocketOf(b));
        if (ptr) *static_cast<int*>(ptr) = fd;
        return fd;
    }
    case BIO_CTRL_GET_CLOSE:
        return BIO_get_shutdown(b);
    case BIO_CTRL_SET_CLOSE:
        BIO_set_shutdown(b, static_cast<int>(num));
        return 1;
    case BIO_CTRL_EOF:
        return BIO_test_flags(b, BIO_FLAGS_IN_EOF) != 0;
    case BIO_CTRL_DUP:
    case BIO_CTRL_FLUSH:
        return 1;
    default:
        return 0;
    }
}

BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        BIO_METHOD* m =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "tolvane socket");
        if (!m) return;
        BIO_meth_set_write(m, SocketBioWrite);
        BIO_meth_set_read(m, SocketBioRead);
        BIO_meth_set_ctrl(m, SocketBioCtrl);
        method = m;
    });
    return method;
}

}  // namespace

BIO* NewSocketBio(platform::SOCKET s) {
    BIO_METHOD* method = SocketBioMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio) return nullptr;
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<uintptr_t>(s)));
    BIO_set_shutdown(bio, BIO_NOCLOSE);
    BIO_set_init(bio, 1);
    return bio;
}

platform::SOCKET SocketOfBio(BIO* b) { return b ? SocketOf(b) : platform::kInvalidSocket; }
