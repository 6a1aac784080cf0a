#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

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
// Two opt-in modes go beyond that. Split reads: an opening request or a frame
// may arrive over several reads and one read may carry several frames; the
// incomplete end of a read waits in a fixed input buffer of the reading
// thread. Strict: the server obligations of RFC 6455 (pong with the ping's
// payload, close answered with the peer's status and the connection closed,
// binary messages, frames up to a block, protocol errors closing with 1002
// or 1007).
//
// A derived class whose handlers use its own members calls
// m_SocketWnd.DestroySocketWindow() first thing in its destructor.
class CWebSocket : public CAsyncSocketEx {
public:
    static constexpr uint32_t kMaxFrameHeader = 14;    // 2 bytes, 8-byte length, mask
    static constexpr uint32_t kMaxRequestBytes = 8192;  // an opening request split over reads

    CWebSocket();
    ~CWebSocket() override;

    void Close() override;             // closes the socket, then ResetWebSocket
    void OnClose(int error) override;  // the base handler, then ResetWebSocket
    virtual void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    // Direction 1 sent, 2 received, 3 WebSocket errors.
    virtual void WriteLogEx(int direction, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
    // A complete decoded message; `data` and `length` are those of `block`.
    virtual void OnWSMessage(const unsigned char* data, int length, _DATA_BLOCK* block);
    // Ends the connection from the reading thread (strict mode's close); a
    // session overrides it to close the way a vanished peer does.
    virtual void EndConnection() { Close(); }

    void SetWebsocket(int value) { m_bIsWebsocket = value; }
    void SetUTF8TextData(int value) { m_bIsUTF8TextData = value; }
    // 0 means the system ANSI code page.
    void SetUTF8TextCodePage(int codePage) { m_nUTF8TextCodePage = codePage; }
    // 1: requests and frames may span reads, and a read may hold several frames.
    void SetSplitReads(int value) { m_bSplitReads = value == 1; }
    // 1: the server obligations of RFC 6455 (see above).
    void SetStrict(int value) { m_bStrict = value == 1; }
    // Nonzero: the peer's bytes in the read and handshake traces are escaped
    // (PeerTraceText), so that they cannot forge trace records.
    void SetTraceEscapes(int value) { m_bTraceEscapes = value != 0; }
    int IsSplitReads() const { return m_bSplitReads; }
    int IsStrict() const { return m_bStrict; }
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
    // Strict mode: payloads up to a block, as a binary frame when they are
    // not UTF-8; -1 (traced) before the opening handshake is done and for a
    // message that would not fit a block after its conversion to UTF-8.
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
    enum class Fragment { kMore, kComplete, kDropped, kSkipped, kOutOfOrder };
    // What the first bytes of `data` tell of the frame they start.
    struct FrameExtent {
        enum Status { kWhole, kShort, kReserved } status;
        bool headerComplete;
        uint32_t headerLength;   // as far as known
        uint64_t payloadLength;  // once the header is complete
        uint64_t needed;         // bytes for the next step: the rest of the header, or the whole frame
    };

    static FrameExtent InspectFrame(const unsigned char* data, uint64_t received);
    // Decodes and acts on the frame at the start of `data` (all of one read
    // by design; exactly one frame in split mode). False once the connection
    // was ended here.
    bool ProcessFrame(const unsigned char* data, int length);
    // Split reads: the request collected until its blank line, then the frames.
    int ProcessStream(const unsigned char* data, int length);
    // Bytes of this read the opening request took (the rest are frames), 0
    // while it waits for more, -1 when refused (the read is not for this layer).
    int CollectHandshake(const unsigned char* data, int length);
    void ProcessFrames(const unsigned char* data, uint32_t length);
    // Moves bytes of `data` into the input buffer, no more than the kept
    // frame's next step needs; returns how many.
    uint32_t TopUpInput(const unsigned char* data, uint32_t length);
    // Strict mode: when the frame's header (as far as it arrived) breaks a
    // rule of RFC 6455, fails the connection and returns true.
    bool FailOnViolation(const unsigned char* data, const FrameExtent& extent);
    // Strict mode: a ping, pong or close frame (payload in m_DecodeBlock) that
    // arrived as `data`. False once the connection was ended here.
    bool HandleControlFrame(int opcode, const unsigned char* data, int length);
    // Split reads: a frame longer than a block; it ends the message it belongs to.
    void DropFrame(unsigned char byte0, uint64_t payloadLength);
    // A read that is no acceptable opening request: in strict mode it is
    // answered 400, the connection ends and 1 is returned; otherwise 0, and
    // the bytes go to the plain framing.
    int RefuseOpeningRequest();
    // Sends a close frame with `status`, traces why, ends the connection.
    void FailConnection(int status, const char* reason);
    // A control frame with `payload` (at most 125 bytes); a failed send is not reported.
    void SendReply(int opcode, const unsigned char* payload, unsigned length);
    void NoteHeartbeat(int opcode, const unsigned char* data, int length);

    // Adds the decoded frame to the message; on completion the whole message
    // is moved into m_DecodeBlock. `total` is the size a dropped message
    // reached; `messageOpcode` that of the message's first frame.
    Fragment CollectFragment(int opcode, int more, uint64_t* total, int* messageOpcode);
    void TraceRead(const unsigned char* data, int length);
    // The peer's bytes as the traces show them.
    std::string PeerText(const void* data, size_t length) const;
    unsigned TextCodePage() const;

    mutable std::mutex m_stateLock;  // m_Handshake, m_CombineBlock, m_bDroppingMessage, m_nMessageOpcode
    int m_bDroppingMessage = 0;      // the rest of an over-long message is skipped
    int m_nMessageOpcode = 0;        // first frame's opcode of the message being collected, 0: none
    // One host message at a time in the send blocks; in strict mode also
    // held from the parse of an opening request until its reply is sent.
    std::mutex m_sendLock;
    std::atomic<int> m_bSplitReads{0};
    std::atomic<int> m_bStrict{0};
    std::atomic<int> m_bTraceEscapes{0};

    // Split reads, reading thread only: the incomplete end of earlier reads
    // (an opening request, or one frame: header and at most a block of
    // payload), and the rest of a dropped frame still to come. Dropped when
    // m_nResets moved since the reader last looked.
    std::unique_ptr<unsigned char[]> m_pInput;
    uint32_t m_nInputLength = 0;
    uint64_t m_nSkipBytes = 0;
    uint64_t m_nInputResets = 0;
    std::atomic<uint64_t> m_nResets{0};
    // Strict mode's outgoing frame (sending thread): a block and the longest header.
    std::unique_ptr<unsigned char[]> m_pWideFrame;
};
