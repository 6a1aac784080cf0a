#pragma once
#include <string>

#include "common/XStringTools.h"
#include "platform/IniFile.h"

// Reads the keys of one numbered section ("TcpClientSession-%d", ...) of
// NetWork.ini; text values are read into 256-byte buffers.
class SectionReader {
public:
    SectionReader(const char* file, const char* format, int n) : m_file(file) { StringFormat(m_section, format, n); }
    int Int(const char* key, int def) const {
        return platform::GetPrivateProfileIntA(m_section.c_str(), key, def, m_file);
    }
    std::string Text(const char* key) const {
        char buf[256] = {0};
        platform::GetPrivateProfileStringA(m_section.c_str(), key, "", buf, sizeof buf, m_file);
        return buf;
    }

private:
    const char* m_file;
    stringx m_section;
};
