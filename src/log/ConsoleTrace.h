#pragma once
#include <atomic>
#include <string>

// Mirror of a session's trace records on the process console. With
// "TraceConsole" 1 the first record opens and titles the console; any other
// nonzero value writes records to standard output without a title.
class CConsoleTrace {
public:
    void OpenTraceConsole(const std::string& title);
    void WriteTraceConsole(const std::string& record, const std::string& title);

    std::atomic<int> m_nTraceConsole{0};
    std::atomic<int> m_bConsoleOpen{0};
};
