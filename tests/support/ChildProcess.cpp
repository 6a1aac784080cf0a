#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#ifdef _WIN32
// Programs are not started on Windows (the tests that need one are left out
// there): the process never runs and has no output.
namespace testsupport {
ChildProcess::ChildProcess(const std::string&, const std::vector<std::string>&) {}
ChildProcess::~ChildProcess() = default;
bool ChildProcess::WaitForOutput(const std::string&, int) { return false; }
void ChildProcess::Write(const std::string&) {}
void ChildProcess::CloseInput() {}
bool ChildProcess::WaitForExit(int) { return true; }
}  // namespace testsupport
#else

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[1], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[1]);
    close(out[1]);
    m_input = in[0];
    m_outputFd = out[0];
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !WaitForExit(0)) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    CloseInput();
    if (m_outputFd >= 0) close(m_outputFd);
}

bool ChildProcess::WaitForOutput(const std::string& text, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (m_output.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_outputFd < 0) return false;
        pollfd p{m_outputFd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        ssize_t n = read(m_outputFd, buf, sizeof buf);
        if (n <= 0) return m_output.find(text) != std::string::npos;  // the process closed its output
        m_output.append(buf, static_cast<size_t>(n));
    }
    return true;
}

void ChildProcess::Write(const std::string& text) {
    if (m_input >= 0) send(m_input, text.data(), text.size(), MSG_NOSIGNAL);
}

void ChildProcess::CloseInput() {
    if (m_input >= 0) close(m_input);
    m_input = -1;
}

bool ChildProcess::WaitForExit(int ms) {
    int status = 0;
    if (m_pid <= 0) return true;
    if (!WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, std::chrono::milliseconds(ms)))
        return false;
    m_pid = -1;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

}  // namespace testsupport

#endif  // _WIN32
