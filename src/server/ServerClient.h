#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "framing/FramedSender.h"
#include "framing/MessageAssembler.h"
#include "common/DataBlock.h"
#include "common/HostEvents.h"
#include "common/XThread.h"
#include "platform/Event.h"
#include "websocket/WebSocket.h"

class CServer;

// The one connection of the listening server, reused for every peer it
// accepts. A plain connection is read on the socket's notification thread;
// a TLS connection is polled every 50 ms by the session's own thread. Reads
// become messages by the server's framing (or, for WebSocket peers, by the
// WebSocket layer) and go to the host's notification and the server's queue.
// Every trace line goes to the server's trace log.
class CServerClient : public CWebSocket, public XThread {
public:
    explicit CServerClient(CServer* server);
    ~CServerClient() override;

    // Every write of the session: framed host messages, WebSocket frames and
    // replies. TLS sessions write through the server's TLS object; plain ones
    // write the whole buffer, waiting for room in a full socket buffer. With
    // "CloseOnPartialSend" a buffer not written whole ends the connection (-1).
    int Send(const void* data, int length, int flags) override;
    void Close() override;
    void OnClose(int error) override;
    void OnReceive(int error) override;
    void WriteLog(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void WriteLogEx(int direction, const char* format, ...) override __attribute__((format(printf, 3, 4)));
    void OnWSMessage(const unsigned char* data, int length, _DATA_BLOCK* block) override;
    // The WebSocket layer closes the connection: as when the peer leaves.
    void EndConnection() override;
    int Run() override;

    void SetService(CHostEvents* service) { m_pService = service; }
    void SetRecvDataDelayTimeOut(int ms) { m_nRecvDataDelayTimeOut = ms; }
    // How long a send may wait for room in a full socket buffer.
    void SetSendStallLimit(uint32_t ms) { m_nSendStallMs = ms; }
    void SetCloseOnPartialSend(bool value) { m_bCloseOnPartialSend = value; }

    // Takes over a freshly accepted socket in place of the current peer,
    // which is dropped without notification. Returns once no thread reads
    // the previous connection any more.
    void TakeOver(platform::SOCKET s);
    // Starts reading `s` (when it is still this session's socket): the
    // polling thread for TLS, the read events otherwise.
    void BeginReading(platform::SOCKET s, bool tls);
    // Closes the connection and waits until no thread of the session runs a
    // handler or polls (except the calling thread itself).
    void Shutdown();

    // True on a thread that runs the session's handlers (its notification
    // thread or its polling thread).
    bool IsReaderThread() { return XThread::IsWorkerThread() || m_SocketWnd.IsNotificationThread(); }

    // Frames and sends one host message; the write's result, or -1.
    int SendFramed(const void* data, int len, const void* logText, int logLen);

    const CMessageAssembler& Assembler() const { return m_assembler; }

private:
    // Ends the polling thread and waits for the notification thread's
    // handlers of the closed connection, at most `limitMs` each.
    void WaitForReaders(uint32_t limitMs);
    // Ends the connection from outside its reading threads: stops the
    // socket, waits for the readers (at most `limitMs`), then closes it.
    void Disconnect(uint32_t limitMs);
    // Takes the socket out of the session (no handler acts on it any more)
    // and marks the connection over; the socket taken, or the invalid one.
    platform::SOCKET DetachSocket();
    // Closes a detached socket once no write uses it.
    void ReleaseSocket(platform::SOCKET s);
    // Writes the buffer whole, over TLS or waiting for room in a full socket
    // buffer; the bytes written, or -1.
    int WriteConnection(const void* data, int length);

    CServer* const m_pServer;
    std::atomic<CHostEvents*> m_pService{nullptr};
    std::atomic<int> m_nRecvDataDelayTimeOut{600000};
    std::atomic<uint32_t> m_nSendStallMs{50000};
    std::atomic<bool> m_bCloseOnPartialSend{false};
    platform::Event m_hStopEvent{false, false};
    // Raised by every close: a polling thread of an earlier connection sees
    // it and ends even if it missed the stop event.
    std::atomic<uint64_t> m_nConnection{0};
    std::atomic<uint64_t> m_nPollConnection{0};  // the connection the polling thread reads
    uint64_t m_nReadConnection = 0;              // the connection the assembly belongs to (reader only)
    std::recursive_mutex m_receiveLock;  // one reader of the assembly at a time
    _DATA_BLOCK m_RawBlock{};
    CMessageAssembler m_assembler;
    std::mutex m_sendLock;   // host threads send one message at a time
    std::recursive_mutex m_writeLock;  // host messages and protocol replies never interleave
    std::atomic<int> m_nClosesWaiting{0};  // a close waits for the write in progress to give up
    CFramedSender m_sender;
};
