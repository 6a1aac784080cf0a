#include "framing/ReceiveTrace.h"

#include <algorithm>
#include <string>

#include "framing/DataBlockOps.h"
#include "log/TraceEscape.h"
#include "log/TraceLog.h"

void WriteReadFailedTrace(CTraceLog& log, int error, int n, int lastError) {
    log.WriteLog("OnReceive(%d). recvLen(%d), lastError(%d).", error, n, lastError);
}

void WriteReadTrace(CTraceLog& log, int error, const _DATA_BLOCK& read, int n) {
    if (n > 2) {
        const size_t len = std::min<size_t>(static_cast<size_t>(n), kDataBlockBytes);
        const std::string text = PeerTraceText(read.data + 2, len - 2, log.m_nTraceEscapes != 0);
        log.WriteLog("[OnReceive(%d). recvLen(%d)]:[%02X%02X]%s", error, n, read.data[0], read.data[1], text.c_str());
    } else {
        log.WriteLog("[OnReceive(%d). recvLen(%d)]:[%02X%02X]", error, n, read.data[0], read.data[1]);
    }
}

void WriteReceiveRecord(CTraceLog& log, const _DATA_BLOCK& message) {
    WriteReceiveRecord(log, message.data, message.length);
}

void WriteReceiveRecord(CTraceLog& log, const unsigned char* data, uint32_t length) {
    log.WriteLogEx(kTraceReceive, "%.*s\r\n", static_cast<int>(std::min(length, kDataBlockBytes)),
                   reinterpret_cast<const char*>(data));
}
