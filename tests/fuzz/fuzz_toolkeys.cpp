// The configuration copy of `tolvane client` and `tolvane server`: given any
// NetWork.ini, the copy must make the library read each key the command
// turns on as 1 where the file left it out and as written where it set it,
// and every other key of the file exactly as the original gives it. The
// last-error parser of the command's trace watch is checked on the same
// bytes: a reason comes only with its marker and ", LastError=".
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "ToolKeys.h"
#include "TraceWatch.h"
#include "platform/IniFile.h"

namespace {

std::string Read(const std::string& file, const char* section, const char* key) {
    char value[256] = {};
    platform::GetPrivateProfileStringA(section, key, "\x01", value, sizeof value, file.c_str());
    return value;
}

const std::string& Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/fuzz_toolkeys.XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string where;
    const std::string reason = FailureOf(text, "Connect Fail.", &where);
    if (!reason.empty()) {
        const size_t at = text.find("Connect Fail.");
        FUZZ_CHECK(at != std::string::npos && text.compare(at + 13, where.size(), where) == 0);
        FUZZ_CHECK(text.compare(at + 13 + where.size(), 12, ", LastError=") == 0);
    }

    const std::string original = Folder() + "/NetWork.ini";
    std::ofstream(original, std::ios::binary | std::ios::trunc) << text;
    HostConfig config;
    config.file = original;
    config.section = "TcpServerSession-0";
    std::vector<std::string> added;
    const std::string error = TurnOnToolKeys(&config, Folder() + "/copy", &added);
    if (!error.empty()) {
        // Only a file without the section cannot get the keys.
        FUZZ_CHECK(config.file == original && Read(original, "TcpServerSession-0", "port") == "\x01");
        return 0;
    }
    for (const char* key : kToolKeys) {
        const std::string before = Read(original, "TcpServerSession-0", key);
        FUZZ_CHECK(Read(config.file, "TcpServerSession-0", key) == (before == "\x01" ? "1" : before));
    }
    for (const char* section : {"TcpServerSession-0", "TcpClientSession-0", "SSLConfig", "network"})
        for (const char* key : {"ip", "port", "netheader", "SplitReads", "UseSSL", "tcpipmode", ""})
            FUZZ_CHECK(Read(config.file, section, key) == Read(original, section, key));
    return 0;
}
