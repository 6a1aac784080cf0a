#include "platform/posix/SocketEventState.h"

#include "platform/posix/SocketReadiness.h"

namespace platform {
namespace {

// How often a close that waits for unread data looks again when no read
// announcement can tell it (read not selected, or its handler did not read).
constexpr int kDrainCheckMs = 50;

int CloseErrorFor(int error) {
    if (error == 0 || error == kWsaeConnReset) return error;
    return kWsaeConnAborted;
}

}  // namespace

void CSocketEventState::Select(SOCKET socket, int mask) {
    if (socket != m_socket) {
        m_socket = socket;
        Classify();
    } else if (m_phase == Phase::Unconnected) {
        Classify();
    }
    m_mask = mask;
    if (mask) m_writePending = m_phase == Phase::Connected && !m_peerGone;
}

void CSocketEventState::Forget(SOCKET socket) {
    if (socket != m_socket) return;
    m_socket = kInvalidSocket;
    m_mask = 0;
    StartConnection(Phase::Unconnected);
}

void CSocketEventState::NoteConnecting(SOCKET socket) {
    if (socket == m_socket) StartConnection(Phase::Connecting);
}

void CSocketEventState::NoteConnected(SOCKET socket) {
    if (socket == m_socket && m_phase != Phase::Connected) StartConnection(Phase::Connected);
}

void CSocketEventState::NoteListening(SOCKET socket) {
    if (socket == m_socket) StartConnection(Phase::Listening);
}

void CSocketEventState::NoteAccepted(SOCKET socket) {
    m_socket = socket;
    m_mask = 0;
    StartConnection(Phase::Connected);
}

void CSocketEventState::NoteSendBlocked(SOCKET socket) {
    if (socket == m_socket && m_phase == Phase::Connected && !m_peerGone) m_writePending = true;
}

void CSocketEventState::NoteConnectionError(SOCKET socket, int error) {
    if (socket == m_socket && error) m_receiveError = error;
}

void CSocketEventState::StartConnection(Phase phase) {
    ++m_generation;  // readiness seen before belongs to the old state
    m_phase = phase;
    m_writePending = phase == Phase::Connected;
    m_peerGone = false;
    m_closeError = 0;
    m_receiveError = 0;
}

void CSocketEventState::Classify() {
    switch (QuerySocketPhase(m_socket)) {
        case SocketPhase::Listening: StartConnection(Phase::Listening); break;
        case SocketPhase::Connecting: StartConnection(Phase::Connecting); break;
        case SocketPhase::Connected: StartConnection(Phase::Connected); break;
        case SocketPhase::Unconnected: StartConnection(Phase::Unconnected); break;
    }
}

CSocketEventState::Plan CSocketEventState::MakePlan() const {
    Plan plan;
    plan.generation = m_generation;
    if (m_socket == kInvalidSocket || !m_mask) return plan;
    const bool readWanted = (m_mask & kFdRead) != 0;
    switch (m_phase) {
        case Phase::Listening:
            if (m_mask & kFdAccept) plan.interest = kReadable;
            break;
        case Phase::Connecting:
            plan.interest = kWritable;
            break;
        case Phase::Connected:
            if (m_peerGone) {
                // A gone peer keeps reporting hang-up; wait on the socket only
                // when read is selected, else look again later for the data
                // to be read by other means.
                if (readWanted) plan.interest = kReadable;
                plan.timeoutMs = kDrainCheckMs;
            } else {
                plan.interest = kPeerClosed;
                if (readWanted) plan.interest |= kReadable;
                if ((m_mask & kFdWrite) && m_writePending) plan.interest |= kWritable;
            }
            break;
        case Phase::Unconnected:
        case Phase::Ended:
            break;
    }
    if (plan.interest) plan.socket = m_socket;
    return plan;
}

CSocketEventState::Notice CSocketEventState::Announce(int event, int error) const {
    Notice notice;
    if (!(m_mask & event)) return notice;
    notice.socket = m_socket;
    notice.event = event;
    notice.error = error;
    return notice;
}

CSocketEventState::Notice CSocketEventState::TakeNotice(const Plan& plan, unsigned readiness) {
    if (plan.generation != m_generation || m_socket == kInvalidSocket || !m_mask) return {};
    if (readiness & kNotOpen) {
        m_phase = Phase::Ended;
        return {};
    }
    switch (m_phase) {
        case Phase::Listening:
            if (readiness & kReadable) return Announce(kFdAccept, 0);
            if (readiness & (kHangUp | kError)) m_phase = Phase::Ended;
            return {};
        case Phase::Connecting: {
            if (!readiness) return {};
            int error = TakeConnectResult(m_socket);
            if (error)
                m_phase = Phase::Ended;
            else
                StartConnection(Phase::Connected);
            return Announce(kFdConnect, error);
        }
        case Phase::Connected:
            return TakeConnectionNotice(readiness);
        case Phase::Unconnected:
        case Phase::Ended:
            break;
    }
    return {};
}

CSocketEventState::Notice CSocketEventState::TakeConnectionNotice(unsigned readiness) {
    auto notePeerGone = [this] {
        m_peerGone = true;
        int error = TakePendingError(m_socket);
        m_closeError = CloseErrorFor(error ? error : m_receiveError);
    };
    if (!m_peerGone && (readiness & (kPeerClosed | kHangUp | kError))) notePeerGone();
    if (!m_peerGone && (readiness & kWritable) && m_writePending) {
        m_writePending = false;
        return Announce(kFdWrite, 0);
    }
    const int readable = ReadableBytes(m_socket);
    if (readable > 0) {
        Notice notice = Announce(kFdRead, 0);
        notice.readable = readable;
        return notice;
    }
    // Readable with nothing to read: the end of the stream.
    if (!m_peerGone && (readiness & kReadable)) notePeerGone();
    if (!m_peerGone) return {};
    m_phase = Phase::Ended;
    return Announce(kFdClose, m_closeError);
}

}  // namespace platform
