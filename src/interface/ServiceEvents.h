#pragma once
#include "common/HostEvents.h"
#include "interface/Tolvane.h"

// Hands the sessions' notifications to the host's service object.
class CServiceEvents final : public CHostEvents {
public:
    explicit CServiceEvents(CITolvane* service) : m_pService(service) {}
    void OnConnect(int error) override { m_pService->OnConnect(error); }
    void OnClose(int error) override { m_pService->OnClose(error); }
    void OnReceive(const unsigned char* data, unsigned long length, int error) override {
        m_pService->OnReceive(data, length, error);
    }

private:
    CITolvane* const m_pService;
};
