// Reading "SSLConfig" and building the context.
#include "tls/TlsTestEnv.h"

#include "platform/Paths.h"

namespace tlstest {
namespace {

class OsslConfigTest : public TlsTest {
protected:
    std::string Dir() const { return m_dir->path(); }
};

TEST_F(OsslConfigTest, UseSslZeroReadsNothingElse) {
    std::string config = WriteConfig("n.ini", {{"UseSSL", "0"},
                                               {"CA", "\\x\\ca.pem"},
                                               {"PeerCerSubject", "/CN=x"},
                                               {"SSLMethod", "TLSv1.3"}});
    EXPECT_EQ(1, m_client.iLoadParameters(config.c_str(), 1));
    EXPECT_EQ(0, m_client.IsUseSSL());
    EXPECT_STREQ("", m_client.CAPath());
    EXPECT_STREQ("", m_client.ExpectedSubject());
    EXPECT_STREQ("", m_client.MethodName());
    EXPECT_FALSE(m_client.HasContext());
    EXPECT_TRUE(ClientRecords().empty());

    // A missing file reads as "UseSSL" 0 too.
    EXPECT_EQ(1, m_client.iLoadParameters(m_dir->file("missing.ini").c_str(), 1));
    EXPECT_EQ(0, m_client.IsUseSSL());
}

TEST_F(OsslConfigTest, DefaultsAreFormedFromTheExecutableFolder) {
    std::string config = WriteConfig("Network.ini", {{"UseSSL", "1"}});
    // A null path means "<exe dir>/Network.ini".
    EXPECT_EQ(1, m_client.iLoadParameters(nullptr, 1));
    EXPECT_EQ(1, m_client.IsUseSSL());
    EXPECT_EQ(Dir() + "/certs/CACert.pem", m_client.CAPath());
    EXPECT_EQ(Dir() + "/certs/ServerCACert.pem", m_client.LocalCertPath());
    EXPECT_EQ(Dir() + "/certs/ServerKey.pem", m_client.PrivateKeyPath());
    EXPECT_STREQ("", m_client.CRLFilePath());  // read only with "UseCRLFile" on
    EXPECT_STREQ("DES-CBC3-SHA", m_client.CipherList());
    EXPECT_STREQ("TLSv1.2", m_client.MethodName());
    EXPECT_STREQ("", m_client.KeyPassword());
    EXPECT_EQ(0, m_client.PeerCerMustBeValid());
    EXPECT_TRUE(m_client.HasContext());
    auto records = ClientRecords();
    EXPECT_TRUE(HasInOrder(records, {"Configuration File: " + config, "SSL Load Certificate Success!"}));
    EXPECT_EQ(2u, records.size());

    // The default revocation list does not exist: the load fails and
    // releases the context.
    WriteConfig("Network.ini", {{"UseSSL", "1"}, {"UseCRLFile", "1"}});
    EXPECT_EQ(-1, m_client.iLoadParameters(nullptr, 1));
    EXPECT_EQ(Dir() + "/certs/expired/crl.crl", m_client.CRLFilePath());
    std::string line = FindPrefix(ClientRecords(), "Load CRL file failed, file:");
    EXPECT_EQ(0u, line.find("Load CRL file failed, file:" + Dir() + "/certs/expired/crl.crl, Error Code:"))
        << line;
    EXPECT_FALSE(m_client.HasContext());
}

TEST_F(OsslConfigTest, EmptyPathKeepsItsFieldWhileEmptyTextEmptiesIt) {
    std::string full = ClientConfig({{"PeerCerSubject", "/CN=a"},
                                     {"PeerCerIssuer", "/CN=b"},
                                     {"EncryptionAlgorithm", "AES128-SHA"},
                                     {"SSLMethod", "SSLv23"}});
    ASSERT_EQ(1, m_client.iLoadParameters(full.c_str(), 1));
    std::string emptied = ClientConfig({{"CA", ""},
                                        {"ServerKEY", ""},
                                        {"PeerCerSubject", ""},
                                        {"PeerCerIssuer", ""},
                                        {"EncryptionAlgorithm", ""},
                                        {"SSLMethod", ""}});
    EXPECT_EQ(1, m_client.iLoadParameters(emptied.c_str(), 1));
    EXPECT_EQ(Dir() + "/certs/CACert.pem", m_client.CAPath());
    EXPECT_EQ(Dir() + "/certs/ServerKey.pem", m_client.PrivateKeyPath());
    EXPECT_STREQ("", m_client.ExpectedSubject());
    EXPECT_STREQ("", m_client.ExpectedIssuer());
    EXPECT_STREQ("", m_client.CipherList());
    EXPECT_STREQ("", m_client.MethodName());

    // On a new object an empty "CA" leaves the CA path empty, so loading the
    // verification locations fails; the line names the certificate file.
    OSSL fresh;
    fresh.SetClientOwner(&m_clientLog);
    EXPECT_EQ(-1, fresh.iLoadParameters(ClientConfig({{"CA", ""}}).c_str(), 1));
    EXPECT_STREQ("", fresh.CAPath());
    std::string line = FindPrefix(ClientRecords(), "Load Certificate file failed, file:");
    EXPECT_EQ(0u, line.find("Load Certificate file failed, file:" + Dir() + "/certs/ServerCACert.pem, Error Code:"))
        << line;
    EXPECT_FALSE(fresh.HasContext());
}

TEST_F(OsslConfigTest, EmptyLocalCertificateFailsTheLoadButKeepsTheContext) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, m_client.iLoadParameters(ClientConfig({{"ServerCA", ""}}).c_str(), 1));
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ("", m_client.LocalCertPath());
    auto records = ClientRecords();
    EXPECT_TRUE(FindPrefix(records, "Load Certificate file failed").empty());
    EXPECT_FALSE(Has(records, "SSL Load Certificate Success!"));
    // The partly built context stays for a client without a certificate.
    EXPECT_TRUE(m_client.HasContext());
}

TEST_F(OsslConfigTest, RevocationListLoadsAsDerOrPem) {
    for (const char* crl : {"\\certs\\crl.der", "\\certs\\crl.pem"}) {
        OSSL ossl;
        ossl.SetServerOwner(&m_serverLog);
        EXPECT_EQ(1, ossl.iLoadParameters(ServerConfig({{"UseCRLFile", "1"}, {"CRLFilePath", crl}}).c_str(), 0))
            << crl;
    }
    EXPECT_EQ(2, Count(ServerRecords(), "Load CRL file success"));

    testsupport::WriteTextFile(m_dir->file("certs/bad.crl"), "not a revocation list\n");
    EXPECT_EQ(-1, m_server.iLoadParameters(
                      ServerConfig({{"UseCRLFile", "1"}, {"CRLFilePath", "\\certs\\bad.crl"}}).c_str(), 0));
    EXPECT_EQ(0u, FindPrefix(ServerRecords(), "Load CRL file failed, file:")
                      .find("Load CRL file failed, file:" + Dir() + "/certs/bad.crl, Error Code:"));
    EXPECT_FALSE(m_server.HasContext());
}

TEST_F(OsslConfigTest, KeyWithPassPhrase) {
    // The right pass phrase opens the encrypted key; a pass phrase with a
    // plain key does no harm.
    EXPECT_EQ(1, m_server.iLoadParameters(ServerConfig({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"},
                                                        {"KeyPassword", devkit::kTestKeyPassPhrase}})
                                              .c_str(),
                                          0));
    EXPECT_EQ(1, m_server.iLoadParameters(
                     ServerConfig({{"KeyPassword", devkit::kTestKeyPassPhrase}}).c_str(), 0));

    EXPECT_EQ(-1, m_server.iLoadParameters(
                      ServerConfig({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}, {"KeyPassword", "wrong"}}).c_str(),
                      0));
    auto records = ServerRecords();
    std::string failed = FindPrefix(records, "Get Server Key file failed, file:");
    EXPECT_TRUE(HasInOrder(records, {"PEM_read_bio_PrivateKey err", failed}));
    std::string prefix = "Get Server Key file failed, file:" + Dir() + "/certs/ServerKeyEnc.pem, Error Code:";
    ASSERT_EQ(0u, failed.find(prefix)) << failed;
    EXPECT_NE("0", failed.substr(prefix.size()));
    EXPECT_FALSE(m_server.HasContext());
}

TEST_F(OsslConfigTest, KeyProblemsGoToStandardError) {
    // An encrypted key without pass phrase is refused, never prompted for.
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, m_server.iLoadParameters(ServerConfig({{"ServerKEY", "\\certs\\ServerKeyEnc.pem"}}).c_str(), 0));
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_FALSE(m_server.HasContext());

    // A key of the certificate's type that is not its own is refused when
    // it is installed.
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, m_server.iLoadParameters(ServerConfig({{"ServerKEY", "\\certs\\SelfKey.pem"}}).c_str(), 0));
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_FALSE(m_server.HasContext());
    EXPECT_EQ(-1, m_server.iLoadParameters(
                      ServerConfig({{"ServerKEY", "\\certs\\SelfKey.pem"}, {"KeyPassword", "x"}}).c_str(), 0));
    auto records = ServerRecords();
    std::string failed = FindPrefix(records, "Get Server Key file failed, file:");
    EXPECT_EQ(0u, failed.find("Get Server Key file failed, file:" + m_certs.selfSignedKey + ", Error Code:"));
    EXPECT_TRUE(HasInOrder(records, {"SSL_CTX_use_PrivateKey err\n", failed}));

    // A key that the library installs but that does not belong to the
    // certificate fails the final check.
    const char* mismatch = "Private key does not match the certificate public key\n";
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, m_server.iLoadParameters(ServerConfig({{"ServerKEY", "\\certs\\OtherTypeKey.pem"}}).c_str(), 0));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find(mismatch));
    EXPECT_FALSE(m_server.HasContext());

    // With a pass phrase the same mismatch keeps the context.
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, m_server.iLoadParameters(
                      ServerConfig({{"ServerKEY", "\\certs\\OtherTypeKey.pem"}, {"KeyPassword", "x"}}).c_str(), 0));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find(mismatch));
    EXPECT_TRUE(m_server.HasContext());
}

TEST_F(OsslConfigTest, PathLongerThanItsFieldRefusesTheLoad) {
    std::string deep = Dir() + "/" + std::string(240, 'd');
    platform::SetModuleFileNameForTest(deep + "/host");
    EXPECT_EQ(-1, m_client.iLoadParameters(ClientConfig().c_str(), 1));
    EXPECT_STREQ("", m_client.CAPath());
    EXPECT_FALSE(m_client.HasContext());
    EXPECT_TRUE(Has(ClientRecords(), "SSL path too long, key:CA, path:" + deep + "/certs/CACert.pem"));
}

TEST_F(OsslConfigTest, LogLinesGoToTheClientOwnerElseTheServerOwner) {
    OSSL ossl;
    ossl.LogLine("dropped");  // no owner: nothing happens
    ossl.SetServerOwner(&m_serverLog);
    ossl.LogLine("to server");
    ossl.SetClientOwner(&m_clientLog);
    ossl.LogLine("to client");
    EXPECT_EQ(std::vector<std::string>{"to server"}, ServerRecords());
    EXPECT_EQ(std::vector<std::string>{"to client"}, ClientRecords());
}

}  // namespace
}  // namespace tlstest
