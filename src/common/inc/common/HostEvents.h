#pragma once

// The host's notifications as the sessions make them: a connection made, a
// connection closed (with the error of the event), a complete message. The
// library interface implements it on top of the host's own object; the
// calls run on the library's threads and hold them up while they run.
class CHostEvents {
public:
    virtual ~CHostEvents() = default;
    virtual void OnConnect(int error) = 0;
    virtual void OnClose(int error) = 0;
    virtual void OnReceive(const unsigned char* data, unsigned long length, int error) = 0;
};
