// tolvane: a command-line host for the library.
//   tolvane client [--config FILE] [--session N] [--hex]
//   tolvane server [--config FILE] [--session N] [--hex] [--echo]
//   tolvane demo
//   tolvane trace FILE [--descramble]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tolvane client [--config FILE] [--session N] [--hex]\n"
                 "       tolvane server [--config FILE] [--session N] [--hex] [--echo]\n"
                 "       tolvane demo\n"
                 "       tolvane trace FILE [--descramble]\n");
    return 2;
}

bool ParseNumber(const char* text, int* value) {
    char* end = nullptr;
    long n = std::strtol(text, &end, 10);
    if (!*text || *end || n < 0 || n > 1000000) return false;
    *value = static_cast<int>(n);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "demo") return argc == 2 ? RunDemo() : Usage();
    if (command == "trace") {
        if (argc == 3) return RunTrace(argv[2], false);
        if (argc == 4 && std::string(argv[2]) == "--descramble") return RunTrace(argv[3], true);
        if (argc == 4 && std::string(argv[3]) == "--descramble") return RunTrace(argv[2], true);
        return Usage();
    }
    const bool server = command == "server";
    if (command != "client" && !server) return Usage();
    HostOptions options;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--hex") {
            options.hex = true;
        } else if (arg == "--echo" && server) {
            options.echo = true;
        } else if (arg == "--config" && i + 1 < argc) {
            options.config = argv[++i];
        } else if (arg == "--session" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], &options.session)) return Usage();
        } else {
            return Usage();
        }
    }
    return RunHost(options, server);
}
