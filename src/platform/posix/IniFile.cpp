#include "platform/IniFile.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace platform {
namespace {

const char* const kBlanks = " \t";

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(kBlanks);
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

bool EqualNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

// Finds the raw value of section/key; false when file, section or key is missing.
bool LookUp(const char* file, const char* section, const char* key, std::string* value) {
    if (!file || !section || !key) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::stringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    std::string wantSection = Trim(section), wantKey = Trim(key);
    bool inSection = false, sectionSeen = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = Trim(line);
        if (!t.empty() && t.front() == '[') {
            size_t close = t.find(']');
            std::string name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            // Only the first section of that name counts.
            if (inSection) return false;
            inSection = !sectionSeen && EqualNoCase(name, wantSection.c_str());
            if (inSection) sectionSeen = true;
            continue;
        }
        if (!inSection) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (!EqualNoCase(Trim(line.substr(0, eq)), wantKey.c_str())) continue;
        std::string v = Trim(line.substr(eq + 1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        *value = v;
        return true;
    }
    return false;
}

}  // namespace

int GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file) {
    std::string v;
    if (!LookUp(file, section, key, &v)) return defaultValue;
    size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    uint32_t n = 0;  // 32-bit wrap-around, as the Windows call does
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(v[i] - '0');
    if (negative) n = 0u - n;
    return static_cast<int>(n);
}

unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, unsigned size, const char* file) {
    if (!buffer || size == 0) return 0;
    std::string v;
    if (!LookUp(file, section, key, &v)) v = defaultValue ? defaultValue : "";
    size_t n = v.size() < size - 1 ? v.size() : size - 1;
    std::memcpy(buffer, v.data(), n);
    buffer[n] = '\0';
    return static_cast<unsigned>(n);
}

}  // namespace platform
