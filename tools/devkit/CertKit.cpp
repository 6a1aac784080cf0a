#include "devkit/CertKit.h"

#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace devkit {
namespace {

constexpr long kValidFromSeconds = -3600;
constexpr long kValidForSeconds = 2 * 24 * 3600;

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

BioPtr OpenForWrite(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "wb"));
    Check(bio != nullptr, "cannot open output file");
    return bio;
}

// "/C=DE/O=x/CN=y" -> X509_NAME with those entries in that order.
X509_NAME* ParseOneLine(const std::string& oneLine) {
    X509_NAME* name = X509_NAME_new();
    Check(name != nullptr, "X509_NAME_new");
    size_t pos = 0;
    while (pos < oneLine.size()) {
        Check(oneLine[pos] == '/', "name must start each component with '/'");
        size_t next = oneLine.find('/', pos + 1);
        std::string part = oneLine.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
        size_t eq = part.find('=');
        Check(eq != std::string::npos, "name component without '='");
        std::string field = part.substr(0, eq);
        std::string value = part.substr(eq + 1);
        Check(X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0) == 1,
              "bad name component");
        pos = next == std::string::npos ? oneLine.size() : next;
    }
    return name;
}

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    Check(key != nullptr, "EVP_EC_gen");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

std::string OneLine(const X509_NAME* name) {
    char* text = X509_NAME_oneline(name, nullptr, 0);
    std::string result = text ? text : "";
    OPENSSL_free(text);
    return result;
}

// Builds and signs a certificate. `issuer` null means self-signed.
X509* BuildCert(const std::string& subject, EVP_PKEY* key, const TestCert* issuer, long serial, bool isCa) {
    X509* cert = X509_new();
    Check(cert != nullptr, "X509_new");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), kValidFromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(cert), kValidForSeconds);
    X509_NAME* name = ParseOneLine(subject);
    X509_set_subject_name(cert, name);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer->cert()) : name);
    X509_NAME_free(name);
    X509_set_pubkey(cert, key);
    X509* signer = issuer ? issuer->cert() : cert;
    if (isCa) {
        AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        AddExtension(cert, signer, NID_subject_key_identifier, "hash");
    } else {
        AddExtension(cert, signer, NID_basic_constraints, "CA:FALSE");
    }
    Check(X509_sign(cert, issuer ? issuer->key() : key, EVP_sha256()) > 0, "X509_sign");
    return cert;
}

}  // namespace

TestCert TestCert::MakeCa(const std::string& subject) {
    TestCert c;
    c.m_key.reset(NewKey());
    c.m_serial = 1;
    c.m_cert.reset(BuildCert(subject, c.m_key.get(), nullptr, c.m_serial, true));
    return c;
}

TestCert TestCert::MakeSigned(const TestCert& issuer, const std::string& subject, long serial) {
    TestCert c;
    c.m_key.reset(NewKey());
    c.m_serial = serial;
    c.m_cert.reset(BuildCert(subject, c.m_key.get(), &issuer, serial, false));
    return c;
}

TestCert TestCert::MakeSelfSigned(const std::string& subject, long serial) {
    TestCert c;
    c.m_key.reset(NewKey());
    c.m_serial = serial;
    c.m_cert.reset(BuildCert(subject, c.m_key.get(), nullptr, serial, false));
    return c;
}

void TestCert::WriteCertPem(const std::string& path) const {
    BioPtr bio = OpenForWrite(path);
    Check(PEM_write_bio_X509(bio.get(), m_cert.get()) == 1, "PEM_write_bio_X509");
}

void TestCert::WriteKeyPem(const std::string& path, const std::string& passPhrase) const {
    BioPtr bio = OpenForWrite(path);
    int ok;
    if (passPhrase.empty()) {
        ok = PEM_write_bio_PrivateKey(bio.get(), m_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    } else {
        ok = PEM_write_bio_PKCS8PrivateKey(bio.get(), m_key.get(), EVP_aes_256_cbc(), passPhrase.data(),
                                           static_cast<int>(passPhrase.size()), nullptr, nullptr);
    }
    Check(ok == 1, "PEM_write private key");
}

std::string TestCert::Subject() const { return OneLine(X509_get_subject_name(m_cert.get())); }
std::string TestCert::Issuer() const { return OneLine(X509_get_issuer_name(m_cert.get())); }

void WriteEd25519KeyPem(const std::string& path) {
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                       EVP_PKEY_free);
    Check(key != nullptr, "Ed25519 key");
    BioPtr bio = OpenForWrite(path);
    Check(PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "PEM_write private key");
}

void WriteCrl(const TestCert& ca, const std::vector<const TestCert*>& revoked, const std::string& path,
              CrlFormat format) {
    std::unique_ptr<X509_CRL, void (*)(X509_CRL*)> crl(X509_CRL_new(), X509_CRL_free);
    Check(crl != nullptr, "X509_CRL_new");
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(ca.cert()));
    std::unique_ptr<ASN1_TIME, void (*)(ASN1_TIME*)> last(X509_gmtime_adj(nullptr, kValidFromSeconds),
                                                          ASN1_TIME_free);
    std::unique_ptr<ASN1_TIME, void (*)(ASN1_TIME*)> next(X509_gmtime_adj(nullptr, kValidForSeconds),
                                                          ASN1_TIME_free);
    X509_CRL_set1_lastUpdate(crl.get(), last.get());
    X509_CRL_set1_nextUpdate(crl.get(), next.get());
    for (const TestCert* cert : revoked) {
        X509_REVOKED* entry = X509_REVOKED_new();
        X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(cert->cert()));
        X509_REVOKED_set_revocationDate(entry, last.get());
        X509_CRL_add0_revoked(crl.get(), entry);
    }
    X509_CRL_sort(crl.get());
    Check(X509_CRL_sign(crl.get(), ca.key(), EVP_sha256()) > 0, "X509_CRL_sign");
    BioPtr bio = OpenForWrite(path);
    int ok = format == CrlFormat::Pem ? PEM_write_bio_X509_CRL(bio.get(), crl.get())
                                      : i2d_X509_CRL_bio(bio.get(), crl.get());
    Check(ok == 1, "write CRL");
}

TestCertFiles WriteStandardCerts(const std::string& folder) {
    TestCertFiles f;
    f.caCert = folder + "/CACert.pem";
    f.serverCert = folder + "/ServerCACert.pem";
    f.serverKey = folder + "/ServerKey.pem";
    f.serverKeyEnc = folder + "/ServerKeyEnc.pem";
    f.selfSignedCert = folder + "/SelfCert.pem";
    f.selfSignedKey = folder + "/SelfKey.pem";
    f.revokedCert = folder + "/RevokedCert.pem";
    f.revokedKey = folder + "/RevokedKey.pem";
    f.otherTypeKey = folder + "/OtherTypeKey.pem";
    f.crlPem = folder + "/crl.pem";
    f.crlDer = folder + "/crl.der";

    TestCert ca = TestCert::MakeCa(kTestCaSubject);
    TestCert server = TestCert::MakeSigned(ca, kTestServerSubject, 100);
    TestCert self = TestCert::MakeSelfSigned(kTestSelfSignedSubject, 200);
    TestCert revoked = TestCert::MakeSigned(ca, kTestRevokedSubject, 300);
    ca.WriteCertPem(f.caCert);
    server.WriteCertPem(f.serverCert);
    server.WriteKeyPem(f.serverKey);
    server.WriteKeyPem(f.serverKeyEnc, kTestKeyPassPhrase);
    self.WriteCertPem(f.selfSignedCert);
    self.WriteKeyPem(f.selfSignedKey);
    revoked.WriteCertPem(f.revokedCert);
    revoked.WriteKeyPem(f.revokedKey);
    WriteEd25519KeyPem(f.otherTypeKey);
    WriteCrl(ca, {&revoked}, f.crlPem, CrlFormat::Pem);
    WriteCrl(ca, {&revoked}, f.crlDer, CrlFormat::Der);
    return f;
}

}  // namespace devkit
