#include "websocket/WebSocket.h"

#include <cstring>

#include "framing/DataBlockOps.h"
#include "log/TraceEscape.h"
#include "platform/CodePage.h"

CWebSocket::CWebSocket()
    // Not cleared: every use writes before it reads, and untouched pages cost nothing.
    : m_pInput(new unsigned char[kDataBlockBytes + kMaxFrameHeader]),
      m_pWideFrame(new unsigned char[kDataBlockBytes + kMaxFrameHeader]) {
    std::memset(&m_Handshake, 0, sizeof m_Handshake);
    // Full clears once; from here on every writer keeps the bytes behind a
    // block's length zero, so clearing the used part is enough.
    m_CombineBlock.Clear();
    m_ControlBlock.Clear();
    m_DecodeBlock.Clear();
    m_FrameBlock.Clear();
    m_PayloadBlock.Clear();
}

CWebSocket::~CWebSocket() { m_SocketWnd.DestroySocketWindow(); }

void CWebSocket::Close() {
    CAsyncSocketEx::Close();
    ResetWebSocket();
}

void CWebSocket::OnClose(int error) {
    CAsyncSocketEx::OnClose(error);
    ResetWebSocket();
}

void CWebSocket::OnWSMessage(const unsigned char* /*data*/, int /*length*/, _DATA_BLOCK* /*block*/) {}

WS_HANDSHAKE CWebSocket::Handshake() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_Handshake;
}

void CWebSocket::ResetWebSocket() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_bHandshakeDone = 0;
    std::memset(&m_Handshake, 0, sizeof m_Handshake);
    ClearDataBlock(&m_CombineBlock);
    m_bDroppingMessage = 0;
    m_nMessageOpcode = 0;
    m_bHeartbeatLogged = 0;
    ++m_nResets;  // the reader drops its kept input before the next read
}

// The read as the trace shows it: length, the first two bytes in hex (zero
// when the read is shorter) and, for longer reads, the rest as text.
void CWebSocket::TraceRead(const unsigned char* data, int length) {
    const unsigned first = length > 0 ? data[0] : 0;
    const unsigned second = length > 1 ? data[1] : 0;
    if (length > 2)
        WriteLog("[OnReceive(%d). recvLen(%d)]:[%02X%02X]%s", 0, length, first, second,
                 PeerText(data + 2, static_cast<size_t>(length) - 2).c_str());
    else
        WriteLog("[OnReceive(%d). recvLen(%d)]:[%02X%02X]", 0, length, first, second);
}

std::string CWebSocket::PeerText(const void* data, size_t length) const {
    return PeerTraceText(data, length, m_bTraceEscapes != 0);
}

unsigned CWebSocket::TextCodePage() const {
    const int codePage = m_nUTF8TextCodePage;
    return codePage > 0 ? static_cast<unsigned>(codePage) : platform::GetACP();
}
