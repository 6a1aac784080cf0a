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
