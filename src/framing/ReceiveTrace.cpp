#include "framing/ReceiveTrace.h"

#include <algorithm>
#include <cstring>
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
        if (log.m_nTraceEscapes != 0) {
            const char* text = reinterpret_cast<const char*>(read.data + 2);
            const std::string escaped = EscapeTraceText(text, strnlen(text, len - 2));
            log.WriteLog("[OnReceive(%d). recvLen(%d)]:[%02X%02X]%s", error, n, read.data[0], read.data[1],
                         escaped.c_str());
            return;
        }
        // "%.*s" stops at a zero byte, as "%s" of a copy up to it would.
        log.WriteLog("[OnReceive(%d). recvLen(%d)]:[%02X%02X]%.*s", error, n, read.data[0], read.data[1],
                     static_cast<int>(len - 2), reinterpret_cast<const char*>(read.data + 2));
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
