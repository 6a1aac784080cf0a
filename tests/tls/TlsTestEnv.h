#pragma once
#include <algorithm>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "log/TraceLog.h"
#include "support/Loopback.h"
#include "support/TestSupport.h"
#include "tls/OSSL.h"

namespace tlstest {

inline void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// The texts of the records of a trace file, in order. A record is
// "<time stamp> :<text>\r\n", and no text holds CR LF.
inline std::vector<std::string> LogRecords(const CTraceLog& log) {
    std::string content = testsupport::ReadTextFile(log.CurrentLogFile());
    std::vector<std::string> records;
    for (size_t at = 0, end; (end = content.find("\r\n", at)) != std::string::npos; at = end + 2) {
        size_t text = content.find(" :", at) + 2;
        records.push_back(content.substr(text, end - text));
    }
    return records;
}

// True when records match `expected` in this order (others between). An
// entry matches a record exactly; one with a '*' matches every record that
// starts with the text before it and ends with the text after it.
inline bool HasInOrder(const std::vector<std::string>& records, const std::vector<std::string>& expected) {
    auto at = records.begin();
    for (const std::string& e : expected) {
        size_t star = e.find('*');
        at = std::find_if(at, records.end(), [&](const std::string& r) {
            if (star == std::string::npos) return r == e;
            size_t tail = e.size() - star - 1;
            return r.size() > star + tail && r.compare(0, star, e, 0, star) == 0 &&
                   r.compare(r.size() - tail, tail, e, star + 1, tail) == 0;
        });
        if (at == records.end()) return false;
        ++at;
    }
    return true;
}

inline int Count(const std::vector<std::string>& records, const std::string& text) {
    return static_cast<int>(std::count(records.begin(), records.end(), text));
}

// Reads from `ossl` until a line feed came or about 5 s passed (a read on a
// blocking socket waits for at most its time-out).
inline std::string ReadLine(OSSL& ossl) {
    std::string text;
    char buf[4096];
    testsupport::WaitUntil([&] {
        int n = ossl.iSSLReceive(buf, sizeof buf);
        if (n > 0) text.append(buf, static_cast<size_t>(n));
        return text.find('\n') != std::string::npos;
    });
    return text;
}

using Keys = std::vector<std::pair<std::string, std::string>>;

// A temporary folder posing as the executable's folder, with the standard
// certificates in "certs", and a trace log each for client and server.
class TlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_clientLog.SetLogPath(m_dir.file("clientlog/").c_str());
        m_serverLog.SetLogPath(m_dir.file("serverlog/").c_str());
        m_client.SetClientOwner(&m_clientLog);
        m_server.SetServerOwner(&m_serverLog);
    }
    void TearDown() override {
        StopEcho();
        m_client.CloseSSL();
    }

    // Writes "[SSLConfig]" with `keys`, then `more`, into the file `name`;
    // returns its path. Of entries with the same key the first counts.
    std::string WriteConfig(const std::string& name, const Keys& keys, const Keys& more = {}) {
        std::string text = "[SSLConfig]\r\n";
        for (const Keys* list : {&keys, &more}) {
            for (const auto& kv : *list) text += kv.first + "=" + kv.second + "\r\n";
        }
        testsupport::WriteTextFile(m_dir.file(name), text);
        return m_dir.file(name);
    }
    // "server.ini" and "client.ini": `keys`, then "UseSSL" 1 (and for the
    // client "PeerCerMustBeValid" 1); the certificate paths are the defaults.
    std::string ServerConfig(const Keys& keys = {}) { return WriteConfig("server.ini", keys, {{"UseSSL", "1"}}); }
    std::string ClientConfig(const Keys& keys = {}) {
        return WriteConfig("client.ini", keys, {{"UseSSL", "1"}, {"PeerCerMustBeValid", "1"}});
    }

    // On a fresh loopback pair (blocking, with 5 s time-outs) m_server accepts
    // and echoes on a thread of its own while m_client connects; returns
    // iSSLConnect's result. Given a descriptor number, the server end takes it
    // over (dup2).
    int Connect(const std::string& clientConfig, const std::string& serverConfig, int number = -1) {
        StopEcho();
        EXPECT_TRUE(m_clientEnd.Connect(m_serverEnd.port()) && m_serverEnd.Accept()) << "no loopback pair";
        if (number >= 0 && dup2(m_serverEnd.fd(), number) == number) m_serverEnd.Adopt(number);
        m_clientEnd.MakeBlocking();
        m_serverEnd.MakeBlocking();
        m_echo = std::thread([this, fd = m_serverEnd.fd(), serverConfig] {
            m_server.iSSLAccept(static_cast<SOCKET>(fd), serverConfig.c_str());
            char buf[4096];
            for (int n; (n = m_server.iSSLReceive(buf, sizeof buf)) > 0;) m_server.iSSLSend(buf, n);
        });
        return m_client.iSSLConnect(static_cast<SOCKET>(m_clientEnd.fd()), clientConfig.c_str());
    }
    // Ends the server side: wakes and joins the echo thread, then closes the
    // server's TLS connection and its socket.
    void StopEcho() {
        if (!m_serverEnd.IsOpen()) return;
        shutdown(m_serverEnd.fd(), SHUT_RDWR);
        if (m_echo.joinable()) m_echo.join();
        m_server.CloseSSL();
        m_serverEnd.Close();
    }
    // Sends `line` (ending in a line feed) and expects it back.
    void ExpectEcho(const std::string& line) {
        ASSERT_EQ(static_cast<int>(line.size()), m_client.iSSLSend(line.data(), static_cast<int>(line.size())));
        EXPECT_EQ(line, ReadLine(m_client));
    }

    std::vector<std::string> ClientRecords() const { return LogRecords(m_clientLog); }
    std::vector<std::string> ServerRecords() const { return LogRecords(m_serverLog); }
    std::string Certs(const std::string& name) const { return m_dir.file("certs/" + name); }

    testsupport::TempDir m_dir;
    testsupport::ExeFolder m_exe{m_dir};
    CTraceLog m_clientLog;
    CTraceLog m_serverLog;
    OSSL m_client;
    OSSL m_server;
    testsupport::TcpConnection m_clientEnd;
    testsupport::LoopbackPeer m_serverEnd;
    std::thread m_echo;
};

}  // namespace tlstest
