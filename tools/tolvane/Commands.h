#pragma once
#include <string>

// Options of `tolvane client` and `tolvane server`.
struct HostOptions {
    std::string config;  // empty: NetWork.ini in the current folder
    std::string log;     // empty: Log/ in the current folder
    int session = 0;
    bool hex = false;
    bool echo = false;  // server only: every received message goes back to the peer
};

// Each returns the process exit code.
int RunHost(const HostOptions& options, bool server);
// `keep`: the scratch folder with its trace files stays.
int RunDemo(bool keep);
// `tolvane trace`: prints the trace file, unscrambling scrambled records.
int RunTrace(const std::string& file, bool descrambleAll);
// The trace file's bytes as the library would have written them unscrambled.
std::string ReadableTrace(const std::string& bytes, bool descrambleAll);
