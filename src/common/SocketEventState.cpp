#include "common/SocketEventState.h"

#include "platform/SocketWait.h"

namespace {

// How often a close that waits for unread data looks again when no read
// announcement can tell it (read not selected, or its handler did not read).
constexpr int kDrainCheckMs = 50;

int CloseErrorFor(int error) {
    if (error == 0 || error == WSAECONNRESET) return error;
    return WSAECONNABORTED;
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
    m_socket = INVALID_SOCKET;
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
    switch (platform::QuerySocketPhase(m_socket)) {
        case platform::SocketPhase::Listening: StartConnection(Phase::Listening); break;
        case platform::SocketPhase::Connecting: StartConnection(Phase::Connecting); break;
        case platform::SocketPhase::Connected: StartConnection(Phase::Connected); break;
        case platform::SocketPhase::Unconnected: StartConnection(Phase::Unconnected); break;
    }
}

CSocketEventState::Plan CSocketEventState::MakePlan() const {
    Plan plan;
    plan.generation = m_generation;
    if (m_socket == INVALID_SOCKET || !m_mask) return plan;
    const bool readWanted = (m_mask & FD_READ) != 0;
    switch (m_phase) {
        case Phase::Listening:
            if (m_mask & FD_ACCEPT) plan.interest = platform::kReadable;
            break;
        case Phase::Connecting:
            plan.interest = platform::kWritable;
            break;
        case Phase::Connected:
            if (m_peerGone) {
                // A gone peer keeps reporting hang-up; wait on the socket only
                // when read is selected, else look again later for the data
                // to be read by other means.
                if (readWanted) plan.interest = platform::kReadable;
                plan.timeoutMs = kDrainCheckMs;
            } else {
                plan.interest = platform::kPeerClosed;
                if (readWanted) plan.interest |= platform::kReadable;
                if ((m_mask & FD_WRITE) && m_writePending) plan.interest |= platform::kWritable;
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
    if (plan.generation != m_generation || m_socket == INVALID_SOCKET || !m_mask) return {};
    if (readiness & platform::kNotOpen) {
        m_phase = Phase::Ended;
        return {};
    }
    switch (m_phase) {
        case Phase::Listening:
            if (readiness & platform::kReadable) return Announce(FD_ACCEPT, 0);
            if (readiness & (platform::kHangUp | platform::kError)) m_phase = Phase::Ended;
            return {};
        case Phase::Connecting: {
            if (!readiness) return {};
            int error = platform::TakePendingError(m_socket);
            if (error)
                m_phase = Phase::Ended;
            else
                StartConnection(Phase::Connected);
            return Announce(FD_CONNECT, error);
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
        int error = platform::TakePendingError(m_socket);
        m_closeError = CloseErrorFor(error ? error : m_receiveError);
    };
    if (!m_peerGone && (readiness & (platform::kPeerClosed | platform::kHangUp | platform::kError))) notePeerGone();
    if (!m_peerGone && (readiness & platform::kWritable) && m_writePending) {
        m_writePending = false;
        return Announce(FD_WRITE, 0);
    }
    const int readable = platform::ReadableBytes(m_socket);
    if (readable > 0) {
        Notice notice = Announce(FD_READ, 0);
        notice.readable = readable;
        return notice;
    }
    // Readable with nothing to read: the end of the stream.
    if (!m_peerGone && (readiness & platform::kReadable)) notePeerGone();
    if (!m_peerGone) return {};
    m_phase = Phase::Ended;
    return Announce(FD_CLOSE, m_closeError);
}
