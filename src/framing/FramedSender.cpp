#include "framing/FramedSender.h"

#include <climits>
#include <string>

#include "framing/DataBlockOps.h"
#include "framing/Framing.h"
#include "log/TraceLog.h"

CFramedSender::CFramedSender(CTraceLog* log) : m_pLog(log) {}

int CFramedSender::SendFramed(const FramingSettings& settings, int maskLog, const void* data, int len,
                              const void* logText, int logLen, const WriteFn& write, const LastErrorFn& lastError,
                              bool unframed) {
    if (!data) return -1;
    const long long framedLen = static_cast<long long>(len) + FrameHeaderSize(settings.netHeader);
    if (len < 0 || framedLen > kDataBlockBytes) {
        if (m_pLog) {
            m_pLog->WriteLog("SendFramed Refused. Message Length(%d), Framed Length(%lld) Outside 0..%d. Nothing Sent.",
                             len, framedLen, static_cast<int>(kDataBlockBytes));
        }
        return -1;
    }

    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    unsigned char lead[2];
    int result = -1;
    if (unframed) {
        FramedLeadBytes(settings.netHeader, settings.headerIncluded, bytes, static_cast<uint32_t>(len), lead);
        if (write) result = write(bytes, len);
    } else {
        SetDataBlock(&m_SendBlock, data, static_cast<uint32_t>(len));
        BuildFrame(settings.netHeader, settings.headerIncluded, &m_SendBlock);
        lead[0] = m_SendBlock.data[0];
        lead[1] = m_SendBlock.data[1];
        if (write) result = write(m_SendBlock.data, static_cast<int>(m_SendBlock.length));
    }
    const int error = lastError ? lastError() : 0;
    SetDataBlock(&m_SendLogBlock, data, static_cast<uint32_t>(len));

    if (maskLog == 1) MaskLogData(1, m_SendLogBlock.data, static_cast<int>(m_SendLogBlock.length));
    if (!m_pLog) return result;
    const bool useLogText = logLen >= 1 && logText && maskLog != 1;
    // The text ends at its first zero byte; "%.*s" reads no further.
    const char* text = useLogText ? static_cast<const char*>(logText)
                                  : reinterpret_cast<const char*>(m_SendLogBlock.data);
    const int textLen = useLogText ? INT_MAX : static_cast<int>(m_SendLogBlock.length);
    m_pLog->WriteLogEx(kTraceTransmit, "[SLen:%d|RLen:%d,%d][%02X%02X]%.*s\r\n", useLogText ? logLen : len, result,
                       error, lead[0], lead[1], textLen, text);
    return result;
}
