#pragma once

class SectionReader;

// Keys of a session section ("TcpClientSession-<n>", "TcpServerSession-<n>")
// that each remove one hazard of the plain behaviour. All are 0 by default,
// which keeps that behaviour unchanged.
struct SessionSafeguards {
    int CleanFraming = 0;        // 1: a new connection starts with no partial message; empty frames are skipped
    int CloseOnPartialSend = 0;  // 1: a send that cannot write its whole frame closes the connection
    int StopWakesRecvData = 0;   // 1: a stop ends every waiting receive call at once
    int RecvQueueLimit = 0;      // > 0: bytes of messages the receive queue holds at most
    int TraceEscapes = 0;        // 1: control bytes of TRANSMIT and RECEIVE records are written as \xNN
};

SessionSafeguards ReadSessionSafeguards(const SectionReader& section);

// The receive queue's bound in bytes; 0 for none.
inline unsigned QueueByteLimit(const SessionSafeguards& keys) {
    return keys.RecvQueueLimit > 0 ? static_cast<unsigned>(keys.RecvQueueLimit) : 0u;
}
