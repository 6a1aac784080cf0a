#include "platform/SocketNotifier.h"

#include "platform/Sockets.h"
#include "platform/posix/SocketExWnd.h"

// Linux has no window messages: the notification window is a thread of the
// socket's own that works out the Windows event rules itself
// (CSocketExWnd, CSocketEventState).
namespace platform {

struct SocketNotifier::Backend {
    CSocketExWnd window;
};

SocketNotifier::SocketNotifier(SocketMessageTarget* target) : m_backend(std::make_unique<Backend>()) {
    m_backend->window.SetOwner(target);
}

SocketNotifier::~SocketNotifier() = default;  // the window ends its thread

uintptr_t SocketNotifier::Open(uint32_t readyLimitMs) {
    CSocketExWnd& window = m_backend->window;
    if (!window.GetWindowHandle() && window.Start(0, 0, nullptr) == 0) window.WaitReady(readyLimitMs);
    return window.GetWindowHandle();
}

uintptr_t SocketNotifier::GetWindowHandle() const { return m_backend->window.GetWindowHandle(); }

bool SocketNotifier::Select(SOCKET socket, int mask) {
    m_backend->window.UpdateEvents([socket, mask](CSocketEventState& events) { events.Select(socket, mask); });
    return true;
}

bool SocketNotifier::IsSelected(SOCKET socket) const { return m_backend->window.IsSelected(socket); }

void SocketNotifier::Close(SOCKET socket) {
    // Closed under the notification lock, so that the notification thread
    // never looks at a descriptor number that is already reused.
    m_backend->window.UpdateEvents([socket](CSocketEventState& events) {
        events.Forget(socket);
        closesocket(socket);
    });
}

void SocketNotifier::NoteListening(SOCKET socket) {
    m_backend->window.UpdateEvents([socket](CSocketEventState& events) { events.NoteListening(socket); });
}

void SocketNotifier::NoteConnecting(SOCKET socket) {
    m_backend->window.UpdateEvents([socket](CSocketEventState& events) { events.NoteConnecting(socket); });
}

void SocketNotifier::NoteConnected(SOCKET socket) {
    m_backend->window.UpdateEvents([socket](CSocketEventState& events) { events.NoteConnected(socket); });
}

bool SocketNotifier::IsNotificationThread() { return m_backend->window.IsWorkerThread(); }

void SocketNotifier::NoteAccepted(SOCKET socket) {
    m_backend->window.UpdateEvents([socket](CSocketEventState& events) { events.NoteAccepted(socket); });
}

void SocketNotifier::NoteSendBlocked(SOCKET socket) {
    m_backend->window.UpdateEvents([socket](CSocketEventState& events) { events.NoteSendBlocked(socket); });
}

void SocketNotifier::NoteConnectionError(SOCKET socket, int error) {
    m_backend->window.UpdateEvents(
        [socket, error](CSocketEventState& events) { events.NoteConnectionError(socket, error); });
}

// The notification thread sees the hang-up itself.
void SocketNotifier::NoteShutDown(SOCKET) {}

int64_t SocketNotifier::ReadableBytesSeen(SOCKET socket) { return CSocketExWnd::ReadableBytesSeen(socket); }

bool SocketNotifier::Post(unsigned int message, uintptr_t wParam, intptr_t lParam) {
    return m_backend->window.PostMessage(message, wParam, lParam) == 1;
}

void SocketNotifier::WaitForHandlers(uint32_t limitMs) { m_backend->window.WaitForHandlers(limitMs); }

int SocketNotifier::DestroySocketWindow() { return m_backend->window.DestroySocketWindow(); }

}  // namespace platform
