#include "SocketErrorText.h"

namespace {

struct Known {
    int number;
    const char* words;
};

// The numbers the library's traces show most; README.md lists the same.
const Known kKnown[] = {
    {10004, "interrupted"},
    {10013, "permission denied"},
    {10022, "invalid argument or address"},
    {10035, "would block (no data or room yet)"},
    {10038, "not a socket (no connection open)"},
    {10048, "address already in use"},
    {10049, "address not available on this machine"},
    {10050, "network down"},
    {10051, "network unreachable"},
    {10053, "connection aborted"},
    {10054, "connection reset by peer"},
    {10057, "not connected"},
    {10060, "timed out"},
    {10061, "connection refused"},
    {10065, "host unreachable"},
};

}  // namespace

std::string SocketErrorText(int error) {
    for (const Known& k : kKnown) {
        if (k.number == error) return std::string(k.words) + " (" + std::to_string(error) + ")";
    }
    return "socket error " + std::to_string(error);
}
