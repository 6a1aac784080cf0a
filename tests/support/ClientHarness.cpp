#include "support/ClientHarness.h"

#include <dirent.h>

#include <chrono>

namespace testsupport {

ClientScene::ClientScene() : ini(dir.file("NetWork.ini")), logDir(dir.path() + "/log/") {}

void ClientScene::Configure(int port, const std::string& extra) {
    WriteTextFile(ini, "[TcpClientSession-0]\nip=127.0.0.1\nport=" + std::to_string(port) + "\n" + extra + "\n");
}

void ClientScene::Attach(CITolvane& host) const {
    host.SetConfigPathName(ini.c_str());
    host.SetLogPath(logDir.c_str());
}

std::string ClientScene::Trace() const {
    std::string all;
    if (DIR* d = opendir(logDir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) all += ReadTextFile(logDir + name);
        }
        closedir(d);
    }
    return all;
}

bool ClientScene::WaitForTrace(const std::string& text, int count, int timeoutMs) const {
    return WaitUntil([&] { return CountOf(Trace(), text) >= static_cast<size_t>(count); },
                     std::chrono::milliseconds(timeoutMs));
}

size_t CountOf(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size()))
        ++n;
    return n;
}

}  // namespace testsupport
