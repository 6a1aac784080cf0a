// Reading the section "SSLConfig" and building the TLS context.
#include <cstdio>
#include <cstring>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include "common/PathText.h"
#include "platform/IniFile.h"
#include "platform/PathSeparators.h"
#include "platform/Paths.h"
#include "tls/OSSL.h"

namespace {

constexpr const char* kSection = "SSLConfig";
constexpr size_t kMaxModulePath = 1000;

struct MethodEntry {
    const char* name;
    const SSL_METHOD* (*client)();
    const SSL_METHOD* (*server)();
};

// Compared exactly, first match wins; any other name gets TLS 1.2.
const MethodEntry kMethods[] = {
    {"TLSv1.2", TLSv1_2_client_method, TLSv1_2_server_method},
    {"TLSv1.1", TLSv1_1_client_method, TLSv1_1_server_method},
    {"TLSv1.0", TLSv1_client_method, TLSv1_server_method},
    {"TLSv1.3", TLS_client_method, TLS_server_method},
    {"SSLv23", TLS_client_method, TLS_server_method},
    {"DTLSv1.0", DTLSv1_client_method, DTLSv1_server_method},
};

const SSL_METHOD* ChooseMethod(const char* name, int clientRole) {
    for (const MethodEntry& m : kMethods) {
        if (std::strcmp(name, m.name) == 0) return clientRole ? m.client() : m.server();
    }
    return clientRole ? TLSv1_2_client_method() : TLSv1_2_server_method();
}

std::string ExecutableDirectory() {
    std::string path = platform::ProcessModuleFileName();
    if (path.size() > kMaxModulePath) path.resize(kMaxModulePath);
    size_t cut = platform::FolderEnd(path);
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// "<exe dir>" followed by the value; a value written with Windows separators
// ("\certs\CACert.pem") gets every '\' turned into the platform's separator.
std::string FormPath(const std::string& exeDir, std::string value) {
    if (!value.empty() && value[0] == '\\') {
        for (char& c : value) {
            if (c == '\\') c = platform::PathSeparator();
        }
    }
    return exeDir + value;
}

// A key file must never make the library prompt on a terminal.
int NoPassPhrase(char*, int, int, void*) { return 0; }

long LastErrorCode() { return static_cast<long>(ERR_peek_last_error()); }

}  // namespace

int OSSL::iLoadParameters(const char* configPath, int clientRole) {
    try {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return LoadParameters(configPath, clientRole);
    } catch (...) {
        LogLine("iLoadParameters Exception !!!!!!!");
        return -1;
    }
}

int OSSL::LoadParameters(const char* configPath, int clientRole) {
    m_strExeDir = ExecutableDirectory();
    const std::string config = configPath ? std::string(configPath) : PathInFolder(m_strExeDir, "Network.ini");
    const char* file = config.c_str();

    int useSsl = platform::GetPrivateProfileIntA(kSection, "UseSSL", 0, file);
    m_nUseSSL.store(useSsl);
    if (useSsl == 0) return 1;

    m_nPeerCerMustBeValid = platform::GetPrivateProfileIntA(kSection, "PeerCerMustBeValid", 0, file);
    m_nUseCRLFile = platform::GetPrivateProfileIntA(kSection, "UseCRLFile", 0, file);
    bool pathsFit =
        (!m_nUseCRLFile ||
         ReadPath(file, "CRLFilePath", "\\certs\\expired\\crl.crl", m_szCRLFilePath, sizeof m_szCRLFilePath)) &&
        ReadPath(file, "CA", "\\certs\\CACert.pem", m_szCA, sizeof m_szCA) &&
        ReadPath(file, "ServerCA", "\\certs\\ServerCACert.pem", m_szServerCA, sizeof m_szServerCA) &&
        ReadPath(file, "ServerKEY", "\\certs\\ServerKey.pem", m_szServerKey, sizeof m_szServerKey);
    if (!pathsFit) {
        // A cut path could name another file and an old one old certificates:
        // the configuration is refused and no context is left to use.
        SSL_CTX_free(m_pCtx);
        m_pCtx = nullptr;
        return -1;
    }
    ReadTexts(file);

    OPENSSL_init_ssl(0, nullptr);
    const SSL_METHOD* method = ChooseMethod(m_szSSLMethod, clientRole);
    LogFormat("Configuration File: %s", file);
    if (m_pCtx) {
        SSL_CTX_free(m_pCtx);
        m_pCtx = nullptr;
    }
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    return BuildContext(method, clientRole);
}

bool OSSL::ReadPath(const char* file, const char* key, const char* defaultValue, char* field, size_t size) {
    char value[256] = {0};
    platform::GetPrivateProfileStringA(kSection, key, defaultValue, value, sizeof value, file);
    if (value[0] == '\0') return true;  // an empty value keeps the previous path
    std::string full = FormPath(m_strExeDir, value);
    if (full.size() >= size) {
        LogFormat("SSL path too long, key:%s, path:%s", key, full.c_str());
        return false;
    }
    std::memcpy(field, full.c_str(), full.size() + 1);
    return true;
}

void OSSL::ReadTexts(const char* file) {
    struct TextKey {
        const char* key;
        const char* defaultValue;
        char* field;
        unsigned size;
    };
    const TextKey keys[] = {
        {"KeyPassword", "", m_szKeyPassword, sizeof m_szKeyPassword},
        {"PeerCerIssuer", "", m_szPeerCerIssuer, sizeof m_szPeerCerIssuer},
        {"PeerCerSubject", "", m_szPeerCerSubject, sizeof m_szPeerCerSubject},
        {"EncryptionAlgorithm", "DES-CBC3-SHA", m_szEncryptionAlgorithm, sizeof m_szEncryptionAlgorithm},
        {"SSLMethod", "TLSv1.2", m_szSSLMethod, sizeof m_szSSLMethod},
    };
    for (const TextKey& k : keys) {
        platform::GetPrivateProfileStringA(kSection, k.key, k.defaultValue, k.field, k.size, file);
    }
}

int OSSL::BuildContext(const SSL_METHOD* method, int clientRole) {
    m_pCtx = SSL_CTX_new(method);
    if (!m_pCtx) {
        LogLine("ssl ctx new err");
        return -1;
    }
    SSL_CTX_set_default_passwd_cb(m_pCtx, NoPassPhrase);
    if (std::strcmp(m_szSSLMethod, "TLSv1.3") == 0) {
        SSL_CTX_set_min_proto_version(m_pCtx, TLS1_3_VERSION);
        SSL_CTX_set_max_proto_version(m_pCtx, TLS1_3_VERSION);
    }

    // A separate store that holds the CA file and the revocation list; it
    // checks that both load. Peers are verified by the context's own store.
    X509_STORE* store = X509_STORE_new();
    if (store) {
        if (X509_LOOKUP* lookup = X509_STORE_add_lookup(store, X509_LOOKUP_file())) {
            X509_LOOKUP_load_file(lookup, m_szCA, X509_FILETYPE_PEM);
        }
    }
    if (m_szServerCA[0] != '\0' && LoadLocalCertificate(store) != 1) return -1;

    if (SSL_CTX_use_certificate_file(m_pCtx, m_szServerCA, SSL_FILETYPE_PEM) != 1) {
        // The partly built context stays: a client without a certificate of
        // its own still connects with it.
        X509_STORE_free(store);
        ERR_print_errors_fp(stderr);
        return -1;
    }
    if (InstallPrivateKey() != 1) {
        X509_STORE_free(store);
        return -1;
    }
    LogLine("SSL Load Certificate Success!");
    X509_STORE_free(store);

    if (clientRole) {
        SetVerifyMode();
        SetClientCAList();
    }
    return 1;
}

int OSSL::LoadLocalCertificate(X509_STORE* store) {
    if (SSL_CTX_load_verify_locations(m_pCtx, m_szCA, nullptr) != 1) {
        LogFormat("Load Certificate file failed, file:%s, Error Code:%ld", m_szServerCA, LastErrorCode());
        FailLoad(store);
        return -1;
    }
    if (m_nUseCRLFile && m_szCRLFilePath[0] != '\0') return LoadRevocationList(store);
    return 1;
}

namespace {
// DER first, then PEM. True when either form loaded.
bool LoadCrlFile(X509_STORE* store, const char* path) {
    X509_LOOKUP* lookup = store ? X509_STORE_add_lookup(store, X509_LOOKUP_file()) : nullptr;
    if (!lookup) return false;
    return X509_load_crl_file(lookup, path, X509_FILETYPE_ASN1) > 0 ||
           X509_load_crl_file(lookup, path, X509_FILETYPE_PEM) > 0;
}
}  // namespace

int OSSL::LoadRevocationList(X509_STORE* store) {
    if (!LoadCrlFile(store, m_szCRLFilePath)) {
        LogFormat("Load CRL file failed, file:%s, Error Code:%ld", m_szCRLFilePath, LastErrorCode());
        FailLoad(store);
        return -1;
    }
    LogLine("Load CRL file success");
    const unsigned long revocationFlags = X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL;
    X509_STORE_set_flags(store, revocationFlags);
    // The list takes part in verifying peers: a revoked certificate fails the
    // verification like any other invalid one.
    X509_STORE* verifyStore = SSL_CTX_get_cert_store(m_pCtx);
    LoadCrlFile(verifyStore, m_szCRLFilePath);
    X509_STORE_set_flags(verifyStore, revocationFlags);
    ERR_clear_error();  // the failed DER attempt left its errors
    return 1;
}

int OSSL::InstallPrivateKey() {
    if (m_szKeyPassword[0] != '\0') {
        if (UsePrivateKeyWithPassword(m_pCtx, m_szServerKey, m_szKeyPassword) != 1) {
            LogFormat("Get Server Key file failed, file:%s, Error Code:%ld", m_szServerKey, LastErrorCode());
            FailLoad(nullptr);
            return -1;
        }
        if (SSL_CTX_check_private_key(m_pCtx) != 1) {
            // The context stays, as after a certificate that failed to load.
            std::fputs("Private key does not match the certificate public key\n", stderr);
            return -1;
        }
    } else if (m_szServerKey[0] != '\0') {
        if (SSL_CTX_use_PrivateKey_file(m_pCtx, m_szServerKey, SSL_FILETYPE_PEM) != 1) {
            ERR_print_errors_fp(stderr);
            FailLoad(nullptr);
            return -1;
        }
        if (SSL_CTX_check_private_key(m_pCtx) != 1) {
            std::fputs("Private key does not match the certificate public key\n", stderr);
            FailLoad(nullptr);
            return -1;
        }
    }
    return 1;
}

int OSSL::UsePrivateKeyWithPassword(SSL_CTX* ctx, const char* keyPath, const char* passPhrase) {
    EVP_PKEY* key = nullptr;
    if (BIO* bio = BIO_new(BIO_s_file())) {
        if (BIO_read_filename(bio, keyPath) > 0) {
            key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(passPhrase));
        }
        BIO_free(bio);
    }
    if (!key) {
        LogLine("PEM_read_bio_PrivateKey err");
        return -1;
    }
    int installed = SSL_CTX_use_PrivateKey(ctx, key);
    EVP_PKEY_free(key);
    if (installed != 1) {
        LogLine("SSL_CTX_use_PrivateKey err\n");
        return -1;
    }
    return 1;
}

void OSSL::FailLoad(X509_STORE* store) {
    X509_STORE_free(store);
    SSL_CTX_free(m_pCtx);
    m_pCtx = nullptr;
}

void OSSL::SetVerifyMode() {
    if (!m_pCtx) return;
    SSL_CTX_set_verify(m_pCtx, m_nPeerCerMustBeValid ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, verify_callback_server);
}

void OSSL::SetClientCAList() {
    if (!m_pCtx) return;
    SSL_CTX_set_client_CA_list(m_pCtx, SSL_load_client_CA_file(m_szCA));
}
