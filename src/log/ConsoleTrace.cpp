#include "log/ConsoleTrace.h"

#include "platform/Console.h"

void CConsoleTrace::OpenTraceConsole(const std::string& title) {
    if (m_nTraceConsole != 1 || m_bConsoleOpen) return;
    platform::AllocConsole();
    platform::SetConsoleTitleA(title.substr(0, 127).c_str());
    m_bConsoleOpen = 1;
}

void CConsoleTrace::WriteTraceConsole(const std::string& record, const std::string& title) {
    if (m_nTraceConsole == 0) return;
    if (!m_bConsoleOpen) OpenTraceConsole(title);
    platform::WriteConsoleStdout(record.data(), record.size());
}
