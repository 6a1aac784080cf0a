#pragma once
#include <memory>
#include <string>
#include <vector>

#if TOLVANE_HAVE_TLS
#include <openssl/evp.h>
#include <openssl/x509.h>
#endif

namespace devkit {

#if TOLVANE_HAVE_TLS
// A certificate with its private key, made at run time for tests. Keys are
// EC P-256 and signatures SHA-256, which the system's TLS policy accepts;
// certificates are valid from one hour ago for two days.
//
// Names are given in the one-line form the TLS layer compares against,
// "/C=DE/O=Tolvane/CN=server": each component a slash, a field name known to
// OpenSSL (C, ST, L, O, OU, CN, ...), "=" and the value.
class TestCert {
public:
    // A self-signed certificate authority (basic constraints CA:TRUE, key
    // usage keyCertSign and cRLSign), usable to sign certificates and CRLs.
    static TestCert MakeCa(const std::string& subject);
    // An end-entity certificate for `subject`, signed by `issuer` (normally
    // a CA from MakeCa), with the given serial number.
    static TestCert MakeSigned(const TestCert& issuer, const std::string& subject, long serial);
    // A self-signed end-entity certificate: it verifies against no CA file
    // (verification code 18, self-signed certificate).
    static TestCert MakeSelfSigned(const std::string& subject, long serial = 1);

    // Writes the certificate as PEM.
    void WriteCertPem(const std::string& path) const;
    // Writes the private key as PEM (PKCS#8); encrypted with AES-256-CBC
    // under `passPhrase` when it is not empty.
    void WriteKeyPem(const std::string& path, const std::string& passPhrase = std::string()) const;

    // Subject and issuer in one-line form, as X509_NAME_oneline gives them.
    std::string Subject() const;
    std::string Issuer() const;
    long Serial() const { return m_serial; }

    X509* cert() const { return m_cert.get(); }
    EVP_PKEY* key() const { return m_key.get(); }

private:
    struct CertFree {
        void operator()(X509* p) const { X509_free(p); }
    };
    struct KeyFree {
        void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    };
    std::unique_ptr<X509, CertFree> m_cert;
    std::unique_ptr<EVP_PKEY, KeyFree> m_key;
    long m_serial = 0;
};

// Writes a fresh Ed25519 private key as PEM. Installed beside an EC
// certificate it takes a key slot of its own, so the library accepts it and
// only the key-to-certificate check fails.
void WriteEd25519KeyPem(const std::string& path);

enum class CrlFormat { Pem, Der };

// Writes a certificate revocation list issued and signed by `ca`, valid from
// one hour ago for two days, that revokes the serial numbers of `revoked`
// (an empty list gives a valid CRL that revokes nothing).
void WriteCrl(const TestCert& ca, const std::vector<const TestCert*>& revoked, const std::string& path,
              CrlFormat format);

#endif  // TOLVANE_HAVE_TLS

// Paths of a complete certificate set written into one folder by
// WriteStandardCerts.
struct TestCertFiles {
    std::string caCert;          // CA certificate (PEM)
    std::string serverCert;      // server certificate signed by the CA (PEM)
    std::string serverKey;       // its key (PEM, not encrypted)
    std::string serverKeyEnc;    // the same key encrypted with kTestKeyPassPhrase
    std::string selfSignedCert;  // self-signed server certificate (PEM)
    std::string selfSignedKey;   // its key
    std::string revokedCert;     // certificate signed by the CA and revoked by the CRLs
    std::string revokedKey;      // its key
    std::string otherTypeKey;    // an Ed25519 key: fits no certificate's key slot
    std::string crlPem;          // CRL revoking revokedCert, PEM
    std::string crlDer;          // the same CRL, DER
};

constexpr const char* kTestKeyPassPhrase = "s3cret-phrase";
constexpr const char* kTestCaSubject = "/C=DE/O=Tolvane Test/CN=Tolvane Test CA";
constexpr const char* kTestServerSubject = "/C=DE/O=Tolvane Test/CN=server.test";
constexpr const char* kTestSelfSignedSubject = "/C=DE/O=Tolvane Test/CN=self.test";
constexpr const char* kTestRevokedSubject = "/C=DE/O=Tolvane Test/CN=revoked.test";

// Makes a CA, a server certificate, a self-signed certificate and a revoked
// certificate with the subjects above, and writes them with their keys and
// the CRLs into `folder` (which must exist) under fixed names: CACert.pem,
// ServerCACert.pem, ServerKey.pem, ServerKeyEnc.pem, SelfCert.pem, SelfKey.pem,
// RevokedCert.pem, RevokedKey.pem, OtherTypeKey.pem, crl.pem, crl.der.
TestCertFiles WriteStandardCerts(const std::string& folder);

}  // namespace devkit
