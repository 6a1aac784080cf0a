#include "tls/OSSL.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

#include <openssl/err.h>

#include "common/XStringTools.h"
#include "log/TraceLog.h"
#include "platform/SocketWait.h"
#include "tls/SocketBio.h"

namespace {
constexpr uint32_t kSendWaitSliceMs = 50;
}  // namespace

OSSL::OSSL() = default;

OSSL::~OSSL() {
    // No close notification here: the socket may already be closed.
    ReleaseAll(false);
}

void OSSL::LogFormat(const char* format, ...) {
    stringx text;
    va_list args;
    va_start(args, format);
    StringFormatV(text, format, args, 1);
    va_end(args);
    LogLine(text.c_str());
}

int OSSL::verify_callback_server(int preverify, X509_STORE_CTX* /*store*/) {
    std::fputs("verify_callback_server \n", stdout);
    return preverify;
}

bool OSSL::HasContext() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_pCtx != nullptr;
}

bool OSSL::HasConnection() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_pSSL != nullptr;
}

void OSSL::ReleaseAll(bool notifyPeer) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_pCtx) {
        SSL_CTX_free(m_pCtx);
        m_pCtx = nullptr;
    }
    if (m_pSSL) {
        if (notifyPeer) SSL_shutdown(m_pSSL);
        SSL_free(m_pSSL);
        m_pSSL = nullptr;
    }
    ERR_clear_error();
}

int OSSL::CloseSSL() {
    ReleaseAll(true);
    return 1;
}

int OSSL::CloseSSLOf(platform::SOCKET s) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_pSSL || SSL_get_fd(m_pSSL) != static_cast<int>(s)) return 0;
    ReleaseAll(true);
    return 1;
}

int OSSL::iSSLReceive(void* buf, int len, std::string* failure) {
    try {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (!m_pSSL) return -2;
        ERR_clear_error();
        const int result = SSL_read(m_pSSL, buf, len);
        if (result <= 0 && failure && SSL_get_error(m_pSSL, result) == SSL_ERROR_SSL) {
            // A peer that only left is seen by its close; one that sent what
            // is no TLS (or broke it) would hold the connection for ever.
            const unsigned long error = ERR_peek_error();
            if (ERR_GET_REASON(error) != SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                char text[256];
                ERR_error_string_n(error, text, sizeof text);
                *failure = text;
            }
        }
        return result;
    } catch (...) {
        LogLine("iSSLReceive Exception !!!!!!!");
        return -2;
    }
}

int OSSL::SSLSend(const void* buf, int len, const std::function<bool()>& stopped) {
    int result = -2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nSendStallLimitMs.load());
    uint64_t connection = 0;  // the connection object the write began on
    // A full socket buffer makes the write wait for room (the lock is let go
    // meanwhile, so reads go on); giving up half way would garble the stream.
    // It never goes on with another connection object: a new peer's must not
    // get the rest of a message meant for the previous one.
    for (;;) {
        platform::SOCKET s = platform::kInvalidSocket;
        int reason = SSL_ERROR_NONE;
        {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            if (!m_pSSL || (connection != 0 && connection != m_nConnectionSerial)) {
                result = -2;
                break;
            }
            connection = m_nConnectionSerial;
            ERR_clear_error();
            result = SSL_write(m_pSSL, buf, len);
            if (result <= 0) reason = SSL_get_error(m_pSSL, result);
            s = SocketOfBio(SSL_get_wbio(m_pSSL));
        }
        const bool mustWait = reason == SSL_ERROR_WANT_WRITE || reason == SSL_ERROR_WANT_READ;
        if (!mustWait || (stopped && stopped()) || std::chrono::steady_clock::now() >= deadline) break;
        platform::WaitForWritable(s, static_cast<int>(kSendWaitSliceMs));
    }
    if (result < 0) LogFormat("ssl write err=%d", result);
    return result;
}

int OSSL::iSSLSend(const void* buf, int len, const std::function<bool()>& stopped) {
    try {
        return SSLSend(buf, len, stopped);
    } catch (...) {
        LogLine("iSSLSend Exception !!!!!!!");
        return -2;
    }
}
