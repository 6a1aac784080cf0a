#include "websocket/WebSocket.h"

#include <algorithm>

#include "client/DataBlockOps.h"
#include "common/StringConvert.h"

namespace {
constexpr int kOpContinuation = 0;
constexpr int kOpText = 1;
constexpr int kOpClose = 8;
constexpr int kOpPing = 9;
constexpr int kOpPong = 10;

void SetDataBlockText(_DATA_BLOCK* block, const std::string& text) {
    SetDataBlock(block, text.data(), static_cast<uint32_t>(std::min<size_t>(text.size(), kDataBlockBytes)));
}
}  // namespace

int CWebSocket::ProcessWSData(const unsigned char* data, int length) {
    if (!m_bIsWebsocket) return 0;
    if (!data) length = 0;
    if (!m_bHandshakeDone) {
        TraceRead(data, length);
        return DoHandshake(data, length);
    }
    ClearDataBlock(&m_DecodeBlock);
    int opcode = 0, fin = 0, more = 0;
    if (!ParseWSFrameInfo(data, length, &m_DecodeBlock, &opcode, &fin)) {
        TraceRead(data, length);
        return 1;
    }
    HandleOpcode(opcode, fin, &more);

    const uint32_t fragmentLength = m_DecodeBlock.length;
    uint64_t total = 0;
    switch (CollectFragment(more, &total)) {
        case Fragment::kMore:
            WriteLog("OnReceive(Len=%d). bCombineData", static_cast<int>(fragmentLength));
            ClearDataBlock(&m_DecodeBlock);
            return 1;
        case Fragment::kDropped:
            WriteLogEx(3, "OnReceive(Len=%d). Combined Message Too Long(%llu). Message Dropped.\r\n",
                       static_cast<int>(fragmentLength), static_cast<unsigned long long>(total));
            ClearDataBlock(&m_DecodeBlock);
            return 1;
        case Fragment::kSkipped:
            ClearDataBlock(&m_DecodeBlock);
            return 1;
        case Fragment::kComplete:
            break;
    }

    if (m_bIsUTF8TextData && m_DecodeBlock.length > 0)
        SetDataBlockText(&m_DecodeBlock, Utf8ToCodePage(DataBlockText(m_DecodeBlock), TextCodePage()));
    if (m_DecodeBlock.length > 0) {
        WriteLogEx(2, "%s\r\n", DataBlockText(m_DecodeBlock).c_str());
        OnWSMessage(m_DecodeBlock.data, static_cast<int>(m_DecodeBlock.length), &m_DecodeBlock);
    } else if (m_bHeartbeatLogged.exchange(1) == 0) {
        // Only the first message without payload on a connection is traced.
        WriteLog("StartHeartbeat(PING_FRAME(9),PONG_FRAME(10)) iOpcode(%d)...", opcode);
        TraceRead(data, length);
    }
    ClearDataBlock(&m_DecodeBlock);
    return 1;
}

// A message whose fragments together exceed a block is dropped whole: the
// fragment that overflows and every later one up to the message's end are
// discarded, and the next message starts with an empty block.
CWebSocket::Fragment CWebSocket::CollectFragment(int more, uint64_t* total) {
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_bDroppingMessage) {
        m_bDroppingMessage = more;
        return Fragment::kSkipped;
    }
    const uint32_t collected = m_CombineBlock.length;
    if (m_DecodeBlock.length > kDataBlockBytes - collected) {
        *total = uint64_t(collected) + m_DecodeBlock.length;
        ClearDataBlock(&m_CombineBlock);
        m_bDroppingMessage = more;
        return Fragment::kDropped;
    }
    AppendDataBlock(&m_CombineBlock, m_DecodeBlock.data, m_DecodeBlock.length);
    if (more) return Fragment::kMore;
    SetDataBlock(&m_DecodeBlock, m_CombineBlock.data, m_CombineBlock.length);
    ClearDataBlock(&m_CombineBlock);
    return Fragment::kComplete;
}

int CWebSocket::HandleOpcode(int opcode, int fin, int* more) {
    ClearDataBlock(&m_ControlBlock);
    int reply = -1;
    switch (opcode) {
        case kOpContinuation:
        case kOpText:
            if (more) *more = fin != 1;
            break;
        case kOpPing: reply = kOpPong; break;
        case kOpPong: break;
        default: reply = kOpClose; break;  // binary, close and the reserved opcodes
    }
    if (reply >= 0) {
        unsigned frameLength = kDataBlockBytes;
        if (PackWSFrameInfo(nullptr, 0, m_ControlBlock.data, &frameLength, reply)) {
            m_ControlBlock.length = frameLength;
            Send(m_ControlBlock.data, static_cast<int>(frameLength), 0);  // a failed reply is not reported
        }
    }
    return 1;
}

int CWebSocket::SendWSFrame(const unsigned char* data, unsigned length) {
    std::lock_guard<std::mutex> lock(m_sendLock);
    ClearDataBlock(&m_FrameBlock);
    ClearDataBlock(&m_PayloadBlock);
    if (!data) length = 0;
    if (m_bIsUTF8TextData) {
        // Text ends at its first zero byte, and never past `length`.
        const std::string text = length ? BytesText(data, length) : std::string();
        const std::string utf8 = CodePageToUtf8(text, TextCodePage());
        SetDataBlockText(&m_PayloadBlock, utf8.substr(0, utf8.find('\0')));  // without the closing zeros
    } else {
        SetDataBlock(&m_PayloadBlock, data, std::min<uint32_t>(length, kDataBlockBytes));
    }
    unsigned frameLength = kDataBlockBytes;
    if (!PackWSFrameInfo(m_PayloadBlock.data, m_PayloadBlock.length, m_FrameBlock.data, &frameLength, kOpText))
        return 0;
    m_FrameBlock.length = frameLength;
    return Send(m_FrameBlock.data, static_cast<int>(frameLength), 0);
}
