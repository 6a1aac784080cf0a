#include "TraceFloor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr size_t kLibraryReadBytes = 102398;

// The 4-byte big-endian length header of mode 5.
std::string Header(size_t len) {
    const char h[4] = {static_cast<char>(len >> 24), static_cast<char>(len >> 16), static_cast<char>(len >> 8),
                       static_cast<char>(len)};
    return std::string(h, 4);
}
}  // namespace

TraceFloor::TraceFloor(const std::string& folder) : m_path(folder + "/TraceFloor.log") {
    std::filesystem::create_directories(folder);
    m_record.reserve(4096);
    m_text.reserve(4096);
}

void TraceFloor::Write(int direction, const char* text, size_t len) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    char stamp[64];
    const int n = std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.tm_year + 1900,
                                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                                static_cast<int>(ts.tv_nsec / 1000000));
    m_record.assign(stamp, static_cast<size_t>(n));
    m_record += direction == 1 ? "\r\nTRANSMIT:" : direction == 2 ? "\r\nRECEIVE:" : ":";
    m_record.append(text, len);
    m_record += "\r\n";
    const int fd = open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        // A floor that writes nothing would flatter the library's ratios.
        std::perror(m_path.c_str());
        std::exit(1);
    }
    if (write(fd, m_record.data(), m_record.size()) < 0) std::perror("trace floor");
    close(fd);
}

void TraceFloor::Reads(size_t bytes, const std::string& body) {
    std::string& frame = m_frame;
    frame.assign(Header(body.size()));
    frame += body;
    // As the library shows a read: its first two bytes in hex, then the bytes
    // from the third on as text, up to the first zero byte.
    const size_t zero = frame.find('\0', 2);
    const size_t shown = (zero == std::string::npos ? frame.size() : zero) - 2;
    for (size_t left = bytes; left > 0; left -= std::min(left, kLibraryReadBytes)) {
        char head[64];
        const int h = std::snprintf(head, sizeof head, "[OnReceive(0). recvLen(%d)]:[%02X%02X]",
                                    static_cast<int>(std::min(left, kLibraryReadBytes)),
                                    static_cast<unsigned char>(frame[0]), static_cast<unsigned char>(frame[1]));
        m_text.assign(head, static_cast<size_t>(h));
        m_text.append(frame, 2, shown);
        Write(0, m_text);
    }
}

void TraceFloor::Transmit(const std::string& body) {
    char head[64];
    const int h = std::snprintf(head, sizeof head, "[SLen:%d|RLen:%d,0][0000]", static_cast<int>(body.size()),
                                static_cast<int>(body.size() + 4));
    m_text.assign(head, static_cast<size_t>(h));
    const size_t at = m_text.size();
    m_text += body;
    if (body.size() >= 11) std::fill(m_text.begin() + static_cast<long>(at) + 5, m_text.end() - 3, '*');
    m_text += "\r\n";
    Write(1, m_text);
}

void TraceFloor::Receive(const std::string& body) {
    m_text.assign(body);
    m_text += "\r\n";
    Write(2, m_text);
}
