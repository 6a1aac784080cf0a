// The trace lines of the TLS object go to its owner's trace, with or without
// OpenSSL in the build.
#include "log/TraceLog.h"
#include "tls/OSSL.h"

void OSSL::LogLine(const char* text) {
    if (!text) return;
    try {
        if (CTraceLog* client = m_pClientOwner.load()) {
            client->WriteLog("%s", text);
        } else if (CTraceLog* server = m_pServerOwner.load()) {
            server->WriteLog("%s", text);
        }
    } catch (...) {
        // A line that cannot be written is lost; the TLS operation goes on.
    }
}
