#pragma once
#include <atomic>
#include <mutex>

#include "common/AsyncSocketEx.h"
#include "common/DataBlock.h"
#include "common/XStringTools.h"
#include "websocket/HandshakeRecord.h"

// The server side of RFC 6455 on top of a socket: answers the opening
// handshake, decodes the first frame of each read, answers pings and close
// frames, joins fragments into messages, converts text between UTF-8 and a
// code page, and sends the host's messages as single text frames.
//
// Replies and frames leave through the virtual Send(data, length, 0), so a
// derived class can route them through TLS. The reading thread (ProcessWSData)
// and a sending host thread (SendWSFrame) use separate blocks; Close and
// OnClose may run on yet another thread and reset the connection state under
// a lock that is never held across Send, a trace or OnWSMessage.
//
// A derived class whose handlers use its own members calls
// m_SocketWnd.DestroySocketWindow() first thing in its destructor.
class CWebSocket : public CAsyncSocketEx {
public:
    CWebSocket();
    ~CWebSocket() override;

    void Close() override;             // closes the socket, then ResetWebSocket
    void OnClose(int error) override;  // the base handler, then ResetWebSocket
    virtual void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    // Direction 1 sent, 2 received, 3 WebSocket errors.
    virtual void WriteLogEx(int direction, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
    // A complete decoded message; `data` and `length` are those of `block`.
    virtual void OnWSMessage(const unsigned char* data, int length, _DATA_BLOCK* block);

    void SetWebsocket(int value) { m_bIsWebsocket = value; }
    void SetUTF8TextData(int value) { m_bIsUTF8TextData = value; }
    // 0 means the system ANSI code page.
    void SetUTF8TextCodePage(int codePage) { m_nUTF8TextCodePage = codePage; }
    int IsWebsocket() const { return m_bIsWebsocket; }
    int IsHandshakeDone() const { return m_bHandshakeDone; }
    // A copy of the fields of the last opening request.
    WS_HANDSHAKE Handshake() const;

    // Back to awaiting a handshake: record, fragments and heartbeat note cleared.
    void ResetWebSocket();

    // Opening handshake. DoHandshake answers an accepted request and returns
    // nonzero; 0 when this is no WebSocket socket or the request was refused.
    int DoHandshake(const unsigned char* data, int length);
    int ParseHandshake(const unsigned char* data, int length);
    void BuildHandshakeReply(const char* key, stringx* reply);
    void MakeAcceptKey(const char* key, stringx* acceptKey);

    // One read of the peer: 0 when the bytes are not for this layer (no
    // WebSocket socket, or not a valid opening request), else 1.
    int ProcessWSData(const unsigned char* data, int length);
    // Decodes the first frame of `data` into `out`: 1, or 0 when refused.
    int ParseWSFrameInfo(const unsigned char* data, int length, _DATA_BLOCK* out, int* opcode, int* fin);
    // Sends the reply the opcode asks for; sets `more` for text and
    // continuation frames. Returns 1.
    int HandleOpcode(int opcode, int fin, int* more);
    // Builds an unmasked final frame into `frame`; `frameLength` holds the
    // buffer's capacity on entry and the frame's length (0 if refused) on return.
    int PackWSFrameInfo(const unsigned char* payload, unsigned payloadLength, unsigned char* frame,
                        unsigned* frameLength, int opcode);
    // Sends one text frame; the send's result, or 0 when no frame was built.
    int SendWSFrame(const unsigned char* data, unsigned length);

protected:
    std::atomic<int> m_bIsWebsocket{0};
    std::atomic<int> m_bIsUTF8TextData{1};
    std::atomic<int> m_nUTF8TextCodePage{0};
    std::atomic<int> m_bHandshakeDone{0};
    WS_HANDSHAKE m_Handshake;
    _DATA_BLOCK m_CombineBlock;             // fragments of the message being collected
    std::atomic<int> m_bHeartbeatLogged{0};  // the first empty message was traced
    _DATA_BLOCK m_ControlBlock;             // outgoing reply frame (reading thread)
    _DATA_BLOCK m_DecodeBlock;              // frame just decoded, then the whole message
    _DATA_BLOCK m_FrameBlock;               // outgoing data frame (sending thread)
    _DATA_BLOCK m_PayloadBlock;             // outgoing payload after conversion

private:
    enum class Fragment { kMore, kComplete, kDropped, kSkipped };

    // Adds the decoded frame to the message; on completion the whole message
    // is moved into m_DecodeBlock. `total` is the size a dropped message reached.
    Fragment CollectFragment(int more, uint64_t* total);
    void TraceRead(const unsigned char* data, int length);
    unsigned TextCodePage() const;

    mutable std::mutex m_stateLock;  // m_Handshake, m_CombineBlock, m_bDroppingMessage
    int m_bDroppingMessage = 0;      // the rest of an over-long message is skipped
    std::mutex m_sendLock;           // one host message at a time in the send blocks
};
