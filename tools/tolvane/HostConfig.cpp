#include "HostConfig.h"

#include <filesystem>
#include <system_error>

#include "platform/IniFile.h"

namespace {

std::string Text(const HostConfig& c, const char* key) {
    char value[256] = {};
    platform::GetPrivateProfileStringA(c.section.c_str(), key, "", value, sizeof value, c.file.c_str());
    return value;
}

}  // namespace

std::string CheckHostConfig(const std::string& file, bool server, int session, HostConfig* config) {
    std::error_code ec;
    config->file = std::filesystem::absolute(file, ec).string();
    config->section = (server ? "TcpServerSession-" : "TcpClientSession-") + std::to_string(session);
    if (!std::filesystem::is_regular_file(config->file, ec))
        return "configuration file " + file + " is missing (name one with --config FILE)";
    const std::string in = " of [" + config->section + "] in " + file;
    if (!server && Text(*config, "ip").empty()) return "\"ip\"" + in + " is empty: the client needs a host to connect to";
    const std::string port = Text(*config, "port");
    if (port.empty()) return "\"port\"" + in + " is missing";
    if (port.find_first_not_of("0123456789") != std::string::npos)
        return "\"port\"" + in + " is not a number: \"" + port + "\"";
    if (port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535)
        return "\"port\"" + in + " is " + port + ", outside 1..65535";
    config->port = std::stoi(port);
    if (server)
        config->splitReads = platform::GetPrivateProfileIntA(config->section.c_str(), "SplitReads", 0, config->file.c_str());
    return std::string();
}
