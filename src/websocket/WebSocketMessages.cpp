#include "websocket/WebSocket.h"

#include <algorithm>

#include "framing/DataBlockOps.h"
#include "common/StringConvert.h"
#include "websocket/Utf8Check.h"
#include "websocket/WebSocketOpcodes.h"

namespace {
using namespace wsopcode;

void SetDataBlockText(_DATA_BLOCK* block, const std::string& text) {
    SetDataBlock(block, text.data(), static_cast<uint32_t>(std::min<size_t>(text.size(), kDataBlockBytes)));
}
}  // namespace

int CWebSocket::ProcessWSData(const unsigned char* data, int length) {
    if (!m_bIsWebsocket) return 0;
    if (!data || length < 0) length = 0;
    if (m_bSplitReads) return ProcessStream(data, length);
    if (!m_bHandshakeDone) {
        TraceRead(data, length);
        return DoHandshake(data, length) ? 1 : RefuseOpeningRequest();
    }
    ProcessFrame(data, length);
    return 1;
}

bool CWebSocket::ProcessFrame(const unsigned char* data, int length) {
    const bool strict = m_bStrict;
    ClearDataBlock(&m_DecodeBlock);
    if (strict && FailOnViolation(data, InspectFrame(data, static_cast<uint64_t>(length)))) return false;
    int opcode = 0, fin = 0, more = 0;
    if (!ParseWSFrameInfo(data, length, &m_DecodeBlock, &opcode, &fin)) {
        TraceRead(data, length);
        return true;
    }
    if (strict && opcode >= kClose) {
        const bool open = HandleControlFrame(opcode, data, length);
        ClearDataBlock(&m_DecodeBlock);
        return open;
    }
    HandleOpcode(opcode, fin, &more);

    const uint32_t fragmentLength = m_DecodeBlock.length;
    uint64_t total = 0;
    int messageOpcode = kText;
    switch (CollectFragment(opcode, more, &total, &messageOpcode)) {
        case Fragment::kMore:
            WriteLog("OnReceive(Len=%d). bCombineData", static_cast<int>(fragmentLength));
            ClearDataBlock(&m_DecodeBlock);
            return true;
        case Fragment::kDropped:
            WriteLogEx(3, "OnReceive(Len=%d). Combined Message Too Long(%llu). Message Dropped.\r\n",
                       static_cast<int>(fragmentLength), static_cast<unsigned long long>(total));
            ClearDataBlock(&m_DecodeBlock);
            return true;
        case Fragment::kSkipped:
            ClearDataBlock(&m_DecodeBlock);
            return true;
        case Fragment::kOutOfOrder:
            ClearDataBlock(&m_DecodeBlock);
            FailConnection(1002, opcode == kContinuation ? "continuation frame without a message"
                                                           : "new message inside a fragmented one");
            return false;
        case Fragment::kComplete:
            break;
    }

    // Strict mode keeps binary messages as they are; text must be UTF-8 when
    // no conversion takes it apart.
    const bool binary = strict && messageOpcode == kBinary;
    if (strict && !binary && !m_bIsUTF8TextData && !IsValidUtf8(m_DecodeBlock.data, m_DecodeBlock.length)) {
        ClearDataBlock(&m_DecodeBlock);
        FailConnection(1007, "text message is not UTF-8");
        return false;
    }
    if (m_bIsUTF8TextData && !binary && m_DecodeBlock.length > 0)
        SetDataBlockText(&m_DecodeBlock, Utf8ToCodePage(DataBlockText(m_DecodeBlock), TextCodePage()));
    if (m_DecodeBlock.length > 0) {
        WriteLogEx(2, "%s\r\n", DataBlockText(m_DecodeBlock).c_str());
        OnWSMessage(m_DecodeBlock.data, static_cast<int>(m_DecodeBlock.length), &m_DecodeBlock);
    } else {
        NoteHeartbeat(opcode, data, length);
    }
    ClearDataBlock(&m_DecodeBlock);
    return true;
}

// Only the first message without payload on a connection is traced.
void CWebSocket::NoteHeartbeat(int opcode, const unsigned char* data, int length) {
    if (m_bHeartbeatLogged.exchange(1) != 0) return;
    WriteLog("StartHeartbeat(PING_FRAME(9),PONG_FRAME(10)) iOpcode(%d)...", opcode);
    TraceRead(data, length);
}

// A message whose fragments together exceed a block is dropped whole: the
// fragment that overflows and every later one up to the message's end are
// discarded, and the next message starts with an empty block.
CWebSocket::Fragment CWebSocket::CollectFragment(int opcode, int more, uint64_t* total, int* messageOpcode) {
    std::lock_guard<std::mutex> lock(m_stateLock);
    const bool continuation = opcode == kContinuation;
    if (m_bStrict && continuation == (m_nMessageOpcode == 0)) return Fragment::kOutOfOrder;
    if (m_nMessageOpcode == 0) m_nMessageOpcode = continuation ? kText : opcode;
    *messageOpcode = m_nMessageOpcode;
    if (!more) m_nMessageOpcode = 0;
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

void CWebSocket::DropFrame(unsigned char byte0, uint64_t payloadLength) {
    WriteLogEx(3, "OnReceive. Frame Too Long(%llu). Message Dropped.\r\n",
               static_cast<unsigned long long>(payloadLength));
    std::lock_guard<std::mutex> lock(m_stateLock);
    ClearDataBlock(&m_CombineBlock);
    m_bDroppingMessage = (byte0 & 0x80) ? 0 : 1;
    if (!m_bDroppingMessage) m_nMessageOpcode = 0;
    else if (m_nMessageOpcode == 0) m_nMessageOpcode = (byte0 & 0x0F) ? byte0 & 0x0F : kText;
}

int CWebSocket::HandleOpcode(int opcode, int fin, int* more) {
    ClearDataBlock(&m_ControlBlock);
    int reply = -1;
    switch (opcode) {
        case kBinary:
            if (!m_bStrict) {
                reply = kClose;
                break;
            }
            [[fallthrough]];  // strict mode: a message like text
        case kContinuation:
        case kText:
            if (more) *more = fin != 1;
            break;
        case kPing: reply = kPong; break;
        case kPong: break;
        default: reply = kClose; break;  // close and the reserved opcodes
    }
    if (reply >= 0) SendReply(reply, nullptr, 0);
    return 1;
}

void CWebSocket::SendReply(int opcode, const unsigned char* payload, unsigned length) {
    ClearDataBlock(&m_ControlBlock);
    unsigned frameLength = kDataBlockBytes;
    if (PackWSFrameInfo(payload, length, m_ControlBlock.data, &frameLength, opcode)) {
        m_ControlBlock.length = frameLength;
        Send(m_ControlBlock.data, static_cast<int>(frameLength), 0);  // a failed reply is not reported
    }
}

int CWebSocket::SendWSFrame(const unsigned char* data, unsigned length) {
    std::lock_guard<std::mutex> lock(m_sendLock);
    const bool strict = m_bStrict;
    if (strict && !m_bHandshakeDone) {  // a frame before the 101 reply breaks every client
        WriteLogEx(3, "SendWSFrame Refused. Websocket Handshake Not Done.\r\n");
        return -1;
    }
    ClearDataBlock(&m_FrameBlock);
    ClearDataBlock(&m_PayloadBlock);
    if (!data) length = 0;
    if (m_bIsUTF8TextData) {
        // Text ends at its first zero byte, and never past `length`.
        const std::string text = length ? BytesText(data, length) : std::string();
        std::string utf8 = CodePageToUtf8(text, TextCodePage());
        utf8.resize(std::min(utf8.size(), utf8.find('\0')));  // without the closing zeros
        if (strict && utf8.size() > kDataBlockBytes) {  // never a message cut mid-character
            WriteLogEx(3, "SendWSFrame Refused. Message Too Long(%d) In UTF-8. Nothing Sent.\r\n",
                       static_cast<int>(utf8.size()));
            return -1;
        }
        SetDataBlockText(&m_PayloadBlock, utf8);
    } else {
        SetDataBlock(&m_PayloadBlock, data, std::min<uint32_t>(length, kDataBlockBytes));
    }
    // Strict mode: the wide frame holds a whole block, and bytes that are
    // not UTF-8 go out as a binary frame, which a text frame must not carry.
    unsigned char* frame = strict ? m_pWideFrame.get() : m_FrameBlock.data;
    unsigned frameLength = strict ? kDataBlockBytes + kMaxFrameHeader : kDataBlockBytes;
    const int opcode = strict && !IsValidUtf8(m_PayloadBlock.data, m_PayloadBlock.length) ? kBinary : kText;
    if (!PackWSFrameInfo(m_PayloadBlock.data, m_PayloadBlock.length, frame, &frameLength, opcode)) return 0;
    if (!strict) m_FrameBlock.length = frameLength;
    return Send(frame, static_cast<int>(frameLength), 0);
}
