// Client and server handshakes and the checks of the server's certificate.
#include <cstring>
#include <memory>

#include <openssl/err.h>
#include <openssl/x509.h>

#include "tls/OSSL.h"
#include "tls/SocketBio.h"

namespace {

struct OpenSslTextFree {
    void operator()(char* p) const { OPENSSL_free(p); }
};
using OpenSslText = std::unique_ptr<char, OpenSslTextFree>;

struct CertFree {
    void operator()(X509* p) const { X509_free(p); }
};

const char* TextOrEmpty(const OpenSslText& text) { return text ? text.get() : ""; }

}  // namespace

int OSSL::iSSLConnect(platform::SOCKET s, const char* configPath) {
    try {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return SSLConnect(s, configPath);
    } catch (...) {
        LogLine("iSSLConnect Exception !!!!!!!");
        return 0;
    }
}

bool OSSL::CreateConnection() {
    if (!m_pSSL) {
        m_pSSL = m_pCtx ? SSL_new(m_pCtx) : nullptr;
        if (!m_pSSL) {
            LogLine("OTCPSock::OnConnect New Failed.");
            return false;
        }
        ++m_nConnectionSerial;
    }
    return true;
}

// The configured list governs this connection and the later ones from the
// context, but only when the library can select a cipher from it: a failed
// set would leave the context with no TLS 1.2 cipher at all, so then both
// keep the list the library and the system policy gave them.
void OSSL::ApplyCipherList() {
    SSL* probe = m_pCtx ? SSL_new(m_pCtx) : nullptr;
    bool usable = probe && SSL_set_cipher_list(probe, m_szEncryptionAlgorithm) == 1;
    SSL_free(probe);
    if (usable) {
        SSL_CTX_set_cipher_list(m_pCtx, m_szEncryptionAlgorithm);
        SSL_set_cipher_list(m_pSSL, m_szEncryptionAlgorithm);
    }
    ERR_clear_error();
}

void OSSL::AttachSocket(platform::SOCKET s) {
    if (BIO* bio = NewSocketBio(s)) SSL_set_bio(m_pSSL, bio, bio);
}

int OSSL::SSLConnect(platform::SOCKET s, const char* configPath) {
    if (!m_pCtx) iLoadParameters(configPath, 1);
    if (!CreateConnection()) return 0;
    LogLine("SSL_CTX_set_cipher_list.");
    ApplyCipherList();
    LogLine("SSL_set_fd.");
    AttachSocket(s);
    LogLine("SSL_connect.");
    ERR_clear_error();
    int result = SSL_connect(m_pSSL);
    if (result < 0) {
        char text[256];
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        LogLine("OTCPSock::SSL_connect Failed.");
        LogFormat("%s(%d)", text, result);
        SSL_free(m_pSSL);
        m_pSSL = nullptr;
        ERR_clear_error();
        return 0;
    }
    LogLine("SSL_CTX_set_verify.");
    SetVerifyMode();
    LogLine("SSL_CTX_set_client_CA_list.");
    SetClientCAList();
    return CheckPeerCertificate();
}

int OSSL::CheckPeerCertificate() {
    LogLine("SSL_get_peer_certificate.");
    std::unique_ptr<X509, CertFree> peer(SSL_get1_peer_certificate(m_pSSL));
    if (!peer) {
        CloseSSL();
        LogLine("SSL_get_peer_certificate return null! Connection exit!");
        return 0;
    }
    LogLine("X509_NAME_oneline. X509_get_subject_name");
    OpenSslText subject(X509_NAME_oneline(X509_get_subject_name(peer.get()), nullptr, 0));
    LogLine("X509_NAME_oneline. X509_get_issuer_name");
    OpenSslText issuer(X509_NAME_oneline(X509_get_issuer_name(peer.get()), nullptr, 0));
    LogFormat("SSL connection using %s\nServer certificate:\n\tsubject: %s\n\tissuer: %s\n",
              SSL_CIPHER_get_name(SSL_get_current_cipher(m_pSSL)), TextOrEmpty(subject), TextOrEmpty(issuer));

    bool refused = false;
    if (m_szPeerCerSubject[0] != '\0' && std::strcmp(m_szPeerCerSubject, TextOrEmpty(subject)) != 0) {
        LogFormat("Subject doesn't match!\n\tSubject configured is:%s\n\tCertificate subject is:%s\n",
                  m_szPeerCerSubject, TextOrEmpty(subject));
        refused = true;
    } else if (m_szPeerCerIssuer[0] != '\0' && std::strcmp(m_szPeerCerIssuer, TextOrEmpty(issuer)) != 0) {
        LogFormat("Issuer doesn't match!\n\tIssuer Configured is:%s\n\tCertificate Issuer is:%s\n",
                  m_szPeerCerIssuer, TextOrEmpty(issuer));
        refused = true;
    }
    subject.reset();
    issuer.reset();
    peer.reset();
    if (refused) {
        CloseSSL();
        LogLine("Peer server certificate invalid! Connection exit!");
        return 0;
    }

    long verifyResult = SSL_get_verify_result(m_pSSL);
    if (verifyResult == X509_V_OK) {
        LogLine("Peer server certificate valid!");
    } else {
        LogFormat("Peer server certificate invalid! Error code:%ld", verifyResult);
    }
    if (m_nPeerCerMustBeValid && verifyResult != X509_V_OK) {
        CloseSSL();
        LogLine("Peer certificate must be valid, connection exit!");
        return 0;
    }
    LogFormat("SSL: %s, %s", SSL_state_string_long(m_pSSL), SSL_get_version(m_pSSL));
    return 1;
}

int OSSL::iSSLAccept(platform::SOCKET s, const char* configPath) {
    try {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        // A previous peer whose socket was closed may have left its number
        // to the new peer: its close notification must not reach the new one.
        ReleaseAll(!m_pSSL || SSL_get_fd(m_pSSL) != static_cast<int>(s));
        if (!m_pCtx) iLoadParameters(configPath, 0);
        if (!CreateConnection()) return 0;
        AttachSocket(s);
        // On the non-blocking socket this usually returns before the
        // handshake is done; the first reads complete it.
        ERR_clear_error();
        SSL_accept(m_pSSL);
        ERR_clear_error();
        LogFormat("SSL: %s, %s", SSL_state_string_long(m_pSSL), SSL_get_version(m_pSSL));
        LogFormat("SSL connection using %s\n", SSL_CIPHER_get_name(SSL_get_current_cipher(m_pSSL)));
        return 1;
    } catch (...) {
        LogLine("iSSLAccept Exception !!!!!!!");
        return 0;
    }
}
