#pragma once
#include <string>

// Options of `tolvane client`.
struct ClientOptions {
    std::string config;  // empty: NetWork.ini beside the executable
    int session = 0;
    bool hex = false;
};

// Each returns the process exit code.
int RunClient(const ClientOptions& options);
int RunDemo();
// `tolvane trace`: prints the trace file, unscrambling scrambled records.
int RunTrace(const std::string& file, bool descrambleAll);
// The trace file's bytes as the library would have written them unscrambled.
std::string ReadableTrace(const std::string& bytes, bool descrambleAll);
