#pragma once
#include <string>

// What the command checks in a NetWork.ini before it starts the library, so
// that a mistake is named instead of running on a default or wrapped value.
struct HostConfig {
    std::string file;     // the configuration, as an absolute path
    std::string section;  // "TcpClientSession-<n>" or "TcpServerSession-<n>"
    int port = 0;
    int splitReads = 0;   // server only
};

// Empty when the configuration can start, otherwise what is wrong: a
// missing file, a missing "ip" (client), a "port" that is not a number from
// 1 to 65535.
std::string CheckHostConfig(const std::string& file, bool server, int session, HostConfig* config);
