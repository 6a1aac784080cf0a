#pragma once
#include <string>

namespace devkit {

// A NetWork.ini for client session 0 against 127.0.0.1:`port` in header mode
// `mode`, with `sessionKeys` added to its section. With `certsFolder` (as
// written by WriteStandardCerts) TLS is on and the server must present the
// standard server certificate.
std::string ClientIni(int port, int mode, const std::string& sessionKeys = std::string(),
                      const std::string& certsFolder = std::string());

// The section of server session 0 on `port` in header mode `mode`, with
// `keys` added. A server in the same file as ClientIni(..., certsFolder)
// shares its TLS settings and presents the standard server certificate.
std::string ServerIniSection(int port, int mode, const std::string& keys = std::string());

}  // namespace devkit
