#include "TraceWatch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "SocketErrorText.h"

namespace fs = std::filesystem;

TraceWatch::TraceWatch(std::string folder, std::string name) : m_folder(std::move(folder)), m_name(std::move(name)) {
    m_file = NewestFile();
    std::error_code ec;
    if (!m_file.empty()) m_offset = fs::file_size(m_file, ec);
    if (ec) m_offset = 0;
}

// Day files are named by date, so the greatest name is today's.
std::string TraceWatch::NewestFile() const {
    std::string newest;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_folder, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.size() == m_name.size() + 10 && file.compare(0, m_name.size(), m_name) == 0 &&
            file.compare(file.size() - 4, 4, ".log") == 0 && entry.path().string() > newest)
            newest = entry.path().string();
    }
    return newest;
}

std::vector<std::string> TraceWatch::NewRecords() {
    std::vector<std::string> records;
    const std::string newest = NewestFile();
    if (newest.empty()) return records;
    if (newest != m_file) {
        m_file = newest;
        m_offset = 0;
    }
    std::ifstream in(m_file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(m_offset));
    std::string line;
    while (in && std::getline(in, line)) {
        if (in.eof()) break;  // a record still being written
        m_offset += line.size() + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) records.push_back(line);
    }
    return records;
}

std::string FailureOf(const std::string& record, const std::string& marker, std::string* where) {
    const size_t at = record.find(marker);
    const size_t error = record.find(", LastError=", at);
    if (at == std::string::npos || error == std::string::npos) return std::string();
    *where = record.substr(at + marker.size(), error - at - marker.size());
    return SocketErrorText(std::atoi(record.c_str() + error + 12));
}
