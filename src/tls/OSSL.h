#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#if TOLVANE_HAVE_TLS
#include <openssl/ssl.h>
#else
typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_method_st SSL_METHOD;
typedef struct x509_store_st X509_STORE;
typedef struct x509_store_ctx_st X509_STORE_CTX;
#endif

#include "platform/SocketTypes.h"

class CTraceLog;

// The TLS side of one connection owner (the client connection, or the
// listening server and its session): the settings of the section
// "SSLConfig", the TLS context built from them, and at most one connection
// object with its handshake, reads and writes.
//
// Threads: the session thread reads while a host thread writes and the
// notification thread may close, so every operation holds the object's lock
// while it uses the context or the connection object. Reads and writes are
// meant for non-blocking sockets (the client polls, the server's accepted
// sockets are non-blocking), where a read returns at once; on a blocking
// socket a read that waits for data holds off writes and CloseSSL until data
// arrives or the socket's receive time-out ends it.
class OSSL {
public:
    // False in a build without OpenSSL (tls/without/): "UseSSL" 1 then
    // writes a trace line and the start fails.
    static constexpr bool kAvailable = TOLVANE_HAVE_TLS != 0;

    OSSL();
    virtual ~OSSL();
    OSSL(const OSSL&) = delete;
    OSSL& operator=(const OSSL&) = delete;

    // Reads "SSLConfig" from `configPath` (null: "<exe dir>/Network.ini") and,
    // when TLS is on, builds a fresh context for the client (nonzero) or
    // server role. 1 when TLS is off or the context was built, else -1.
    int iLoadParameters(const char* configPath, int clientRole);
    // Client handshake on a connected blocking socket with the checks of the
    // server's certificate. 1 accepted, 0 refused or failed.
    int iSSLConnect(platform::SOCKET s, const char* configPath);
    // Starts the server handshake on a freshly accepted socket; it completes
    // during the first reads. 1 started, 0 no connection object.
    int iSSLAccept(platform::SOCKET s, const char* configPath);
    // The library's read result; -2 without a connection object. When the
    // read failed for good because the peer broke the protocol (not an end
    // of stream), `failure`, when given, receives the library's reason.
    int iSSLReceive(void* buf, int len, std::string* failure = nullptr);
    // The library's write result; -2 without a connection object, also when
    // the connection object the write began on goes before the write is
    // done. A full socket buffer makes it wait for room, at most the stall
    // limit and not once `stopped` says so.
    int iSSLSend(const void* buf, int len, const std::function<bool()>& stopped = nullptr);
    // Sends the close notification and releases connection and context.
    int CloseSSL();
    // The same, only when the connection object is attached to `s`: called
    // before `s` is closed, so that no later call writes to a descriptor
    // number that may already belong to something else. 1 when released.
    int CloseSSLOf(platform::SOCKET s);
    int IsUseSSL() const { return m_nUseSSL.load(); }
    // How long a write may wait for room in a full socket buffer.
    void SetSendStallLimit(uint32_t ms) { m_nSendStallLimitMs = ms; }

    // Owners receive the log lines; they are not owned. The client owner
    // wins when both are set.
    void SetClientOwner(CTraceLog* owner) { m_pClientOwner.store(owner); }
    void SetServerOwner(CTraceLog* owner) { m_pServerOwner.store(owner); }
    void LogLine(const char* text);

    // Verification callback of the client role: prints a line to standard
    // output and returns the library's verdict unchanged.
    static int verify_callback_server(int preverify, X509_STORE_CTX* store);

    // The settings as last read (not to be read while another thread loads).
    const char* LocalCertPath() const { return m_szServerCA; }
    const char* PrivateKeyPath() const { return m_szServerKey; }
    const char* KeyPassword() const { return m_szKeyPassword; }
    const char* CRLFilePath() const { return m_szCRLFilePath; }
    const char* ExpectedIssuer() const { return m_szPeerCerIssuer; }
    const char* ExpectedSubject() const { return m_szPeerCerSubject; }
    const char* CAPath() const { return m_szCA; }
    const char* CipherList() const { return m_szEncryptionAlgorithm; }
    const char* MethodName() const { return m_szSSLMethod; }
    int PeerCerMustBeValid() const { return m_nPeerCerMustBeValid; }
    int UseCRLFile() const { return m_nUseCRLFile; }
    bool HasContext() const;
    bool HasConnection() const;

private:
    int LoadParameters(const char* configPath, int clientRole);
    bool ReadPath(const char* file, const char* key, const char* defaultValue, char* field, size_t size);
    void ReadTexts(const char* file);
    int BuildContext(const SSL_METHOD* method, int clientRole);
    int LoadLocalCertificate(X509_STORE* store);
    int LoadRevocationList(X509_STORE* store);
    int InstallPrivateKey();
    int UsePrivateKeyWithPassword(SSL_CTX* ctx, const char* keyPath, const char* passPhrase);
    void FailLoad(X509_STORE* store);
    void SetVerifyMode();
    void SetClientCAList();

    int SSLConnect(platform::SOCKET s, const char* configPath);
    int CheckPeerCertificate();
    bool CreateConnection();
    void ApplyCipherList();
    void AttachSocket(platform::SOCKET s);
    int SSLSend(const void* buf, int len, const std::function<bool()>& stopped);
    void ReleaseAll(bool notifyPeer);

    void LogFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

    SSL* m_pSSL = nullptr;
    uint64_t m_nConnectionSerial = 0;  // counts the connection objects made
    SSL_CTX* m_pCtx = nullptr;
    char m_szServerCA[256] = {0};
    char m_szServerKey[256] = {0};
    char m_szKeyPassword[32] = {0};
    char m_szCRLFilePath[256] = {0};
    char m_szPeerCerIssuer[512] = {0};
    char m_szPeerCerSubject[512] = {0};
    char m_szCA[256] = {0};
    char m_szEncryptionAlgorithm[256] = {0};
    char m_szSSLMethod[256] = {0};
    std::atomic<int> m_nUseSSL{0};
    std::atomic<uint32_t> m_nSendStallLimitMs{50000};
    int m_nPeerCerMustBeValid = 0;
    int m_nUseCRLFile = 0;
    std::string m_strExeDir;
    std::atomic<CTraceLog*> m_pClientOwner{nullptr};
    std::atomic<CTraceLog*> m_pServerOwner{nullptr};
    mutable std::recursive_mutex m_lock;
};
