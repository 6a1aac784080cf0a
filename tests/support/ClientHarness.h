#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "interface/Tolvane.h"
#include "support/TestSupport.h"

namespace testsupport {

// A host that records every notification it gets.
class RecordingHost : public CITolvane {
public:
    void OnConnect(int) override { ++connects; }
    void OnClose(int error) override {
        std::lock_guard<std::mutex> lock(m_lock);
        closeErrors.push_back(error);
        ++closes;
    }
    void OnReceive(const unsigned char* data, unsigned long len, int) override {
        std::lock_guard<std::mutex> lock(m_lock);
        received.emplace_back(reinterpret_cast<const char*>(data), len);
    }
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> lock(m_lock);
        return received;
    }
    std::vector<int> CloseErrors() {
        std::lock_guard<std::mutex> lock(m_lock);
        return closeErrors;
    }

    std::atomic<int> connects{0};
    std::atomic<int> closes{0};

private:
    std::mutex m_lock;
    std::vector<int> closeErrors;
    std::vector<std::string> received;
};

// A scratch folder with a NetWork.ini and a trace folder for one client.
class ClientScene {
public:
    ClientScene();
    // Writes NetWork.ini: session 0 pointed at 127.0.0.1:port plus `extra`
    // lines (whole sections may follow).
    void Configure(int port, const std::string& extra = std::string());
    // Points a host at this scene's configuration and trace folder.
    void Attach(CITolvane& host) const;
    // Everything traced so far (all day files of the trace folder).
    std::string Trace() const;
    bool WaitForTrace(const std::string& text, int count = 1, int timeoutMs = 5000) const;

    TempDir dir;
    std::string ini;
    std::string logDir;
};

size_t CountOf(const std::string& haystack, const std::string& needle);

}  // namespace testsupport
