// Reading "SSLConfig" and building the context.
#include "tls/TlsTestEnv.h"

#include "platform/Paths.h"

namespace tlstest {
namespace {

class OsslConfigTest : public TlsTest {
protected:
    int LoadServer(const Keys& keys) { return m_server.iLoadParameters(ServerConfig(keys).c_str(), 0); }
};

TEST_F(OsslConfigTest, UseSslZeroOrMissingReadsNothingElse) {
    Keys keys = {{"UseSSL", "0"}, {"CA", "\\x\\ca.pem"}, {"PeerCerSubject", "/CN=x"}, {"SSLMethod", "TLSv1.3"}};
    EXPECT_EQ(1, m_client.iLoadParameters(WriteConfig("n.ini", keys).c_str(), 1));
    EXPECT_EQ("", std::string(m_client.CAPath()) + m_client.ExpectedSubject() + m_client.MethodName());
    EXPECT_TRUE(ClientRecords().empty());
    // A missing file turns TLS off again.
    m_client.iLoadParameters(ClientConfig().c_str(), 1);
    ASSERT_EQ(1, m_client.IsUseSSL());
    EXPECT_EQ(1, m_client.iLoadParameters(m_dir.file("missing.ini").c_str(), 1));
    EXPECT_EQ(0, m_client.IsUseSSL());
}

TEST_F(OsslConfigTest, DefaultsComeFromTheExecutableFolder) {
    // A null path means "<exe dir>/Network.ini"; the default revocation list
    // does not exist, so the load fails and releases the context. (The
    // handshakes rely on the default certificate paths.)
    std::string config = WriteConfig("Network.ini", {{"UseSSL", "1"}, {"UseCRLFile", "1"}});
    EXPECT_EQ(-1, m_client.iLoadParameters(nullptr, 1));
    EXPECT_EQ(Certs("expired/crl.crl"), m_client.CRLFilePath());
    EXPECT_STREQ("DES-CBC3-SHA", m_client.CipherList());
    EXPECT_STREQ("TLSv1.2", m_client.MethodName());
    EXPECT_FALSE(m_client.HasContext());
    auto records = ClientRecords();
    std::string failed = "Load CRL file failed, file:" + Certs("expired/crl.crl") + ", Error Code:*";
    EXPECT_TRUE(HasInOrder(records, {"Configuration File: " + config, failed})) << testing::PrintToString(records);
}

TEST_F(OsslConfigTest, EmptyPathsKeepTheirValueWhileEmptyTextsEmptyTheirField) {
    // On a new object an empty path stays empty; without a local certificate
    // the load fails but keeps the context.
    EXPECT_EQ(-1, m_client.iLoadParameters(ClientConfig({{"ServerCA", ""}}).c_str(), 1));
    EXPECT_STREQ("", m_client.LocalCertPath());
    EXPECT_TRUE(m_client.HasContext());
    OSSL fresh;
    EXPECT_EQ(-1, fresh.iLoadParameters(ClientConfig({{"CA", ""}}).c_str(), 1));
    EXPECT_STREQ("", fresh.CAPath());

    Keys keys = {{"KeyPassword", devkit::kTestKeyPassPhrase}, {"CA", "\\certs\\SelfCert.pem"},
                 {"ServerKEY", "\\certs\\ServerKeyEnc.pem"}, {"PeerCerSubject", "/CN=a"}, {"PeerCerIssuer", "/CN=b"},
                 {"EncryptionAlgorithm", "AES128-SHA"}, {"SSLMethod", "SSLv23"}};
    ASSERT_EQ(1, m_client.iLoadParameters(ClientConfig(keys).c_str(), 1));
    for (size_t i = 1; i < keys.size(); ++i) keys[i].second.clear();
    EXPECT_EQ(1, m_client.iLoadParameters(ClientConfig(keys).c_str(), 1));
    EXPECT_EQ(Certs("SelfCert.pem"), m_client.CAPath());
    EXPECT_EQ(Certs("ServerKeyEnc.pem"), m_client.PrivateKeyPath());
    EXPECT_EQ("", std::string(m_client.ExpectedSubject()) + m_client.ExpectedIssuer() + m_client.CipherList() +
                      m_client.MethodName());
}

TEST_F(OsslConfigTest, RevocationListLoadsAsDerElseAsPem) {
    EXPECT_EQ(1, LoadServer({{"UseCRLFile", "1"}, {"CRLFilePath", "\\certs\\crl.der"}}));
    EXPECT_EQ(1, LoadServer({{"UseCRLFile", "1"}, {"CRLFilePath", "\\certs\\crl.pem"}}));
    EXPECT_EQ(2, Count(ServerRecords(), "Load CRL file success"));
}

TEST_F(OsslConfigTest, PrivateKeyWithPassPhrase) {
    const std::string phrase = devkit::kTestKeyPassPhrase;
    EXPECT_EQ(1, LoadServer({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}, {"KeyPassword", phrase}}));
    EXPECT_EQ(1, LoadServer({{"KeyPassword", phrase}}));  // the key is not encrypted
    EXPECT_EQ(-1, LoadServer({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}, {"KeyPassword", "wrong"}}));
    EXPECT_FALSE(m_server.HasContext());
    auto records = ServerRecords();
    std::string failed = "Get Server Key file failed, file:" + Certs("ServerKeyEnc.pem") + ", Error Code:";
    EXPECT_TRUE(HasInOrder(records, {"PEM_read_bio_PrivateKey err", failed + "*"})) << testing::PrintToString(records);
    EXPECT_EQ(0, Count(records, failed + "0"));
    // Without a pass phrase the encrypted key is refused, never prompted for.
    EXPECT_EQ(-1, LoadServer({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}}));
}

TEST_F(OsslConfigTest, PathLongerThanItsFieldRefusesTheLoad) {
    std::string deep = m_dir.file(std::string(240, 'd'));
    platform::SetModuleFileNameForTest(deep + "/host");
    EXPECT_EQ(-1, m_client.iLoadParameters(ClientConfig().c_str(), 1));
    EXPECT_STREQ("", m_client.CAPath());
    EXPECT_EQ(1, Count(ClientRecords(), "SSL path too long, key:CA, path:" + deep + "/certs/CACert.pem"));
}

}  // namespace
}  // namespace tlstest
