#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// One run of a program with its standard input fed by the test and its
// standard output and error collected. The destructor ends the process
// (SIGKILL when it still runs) and reaps it.
class ChildProcess {
public:
    // Runs /usr/bin/openssl with `args`.
    explicit ChildProcess(const std::vector<std::string>& args) : ChildProcess("/usr/bin/openssl", args) {}
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads output until it holds `text` or `ms` passed; true when found.
    bool WaitForOutput(const std::string& text, int ms);
    const std::string& output() const { return m_output; }
    // Writes to the process's standard input (never raises SIGPIPE).
    void Write(const std::string& text);
    void CloseInput();
    // Waits up to `ms` for the process to end by itself.
    bool WaitForExit(int ms);
    // The exit status once the process has ended by itself, else -1.
    int exitCode() const { return m_exitCode; }

private:
    pid_t m_pid = -1;
    int m_exitCode = -1;
    int m_input = -1;   // our end of a socket pair on the child's stdin
    int m_outputFd = -1;
    std::string m_output;
};

}  // namespace testsupport
