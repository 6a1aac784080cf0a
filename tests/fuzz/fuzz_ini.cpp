// The INI reader against its rules: [section] and key=value lines ending in
// LF or CR LF, a UTF-8 byte-order mark skipped, names compared without regard
// to case with blanks around them ignored, the first matching section and key
// winning, the value trimmed of blanks and tabs and then stripped of one pair
// of matching quotes, strings cut to the buffer, integers read as blanks, a
// sign and decimal digits (32-bit wrap), defaults when anything is missing.
//
// Input: a line "section<TAB>key<TAB>size" to look up, then the file. Every
// section and key name the file holds is looked up as well.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "platform/IniFile.h"

namespace {

std::string Trim(const std::string& s) { return fuzz::Trim(s, " \t"); }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Entry {
    size_t header;  // index of its section header
    std::string key, value;
};

struct Ini {
    std::vector<std::string> headers;  // section names in file order
    std::vector<Entry> entries;        // every key line under a header
};

Ini ReadIni(std::string text) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    Ini ini;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string t = Trim(line);
        if (!t.empty() && t[0] == '[') {
            ini.headers.push_back(Trim(t.substr(1, t.find(']') == std::string::npos ? std::string::npos : t.find(']') - 1)));
            continue;
        }
        const size_t eq = line.find('=');
        if (ini.headers.empty() || eq == std::string::npos) continue;
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        ini.entries.push_back({ini.headers.size() - 1, Trim(line.substr(0, eq)), value});
    }
    return ini;
}

// The value the rules give, or false when the section (its first occurrence) lacks the key.
bool LookUp(const Ini& ini, const std::string& section, const std::string& key, std::string* value) {
    const std::string s = Lower(Trim(section)), k = Lower(Trim(key));
    size_t header = 0;
    while (header < ini.headers.size() && Lower(ini.headers[header]) != s) ++header;
    for (const Entry& e : ini.entries) {
        if (e.header != header || Lower(e.key) != k) continue;
        *value = e.value;
        return true;
    }
    return false;
}

int ReadInt(const std::string& v) { return fuzz::LeadingNumber(v, " \t"); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/dev/shm/tolvane-fuzz-ini-" + std::to_string(getpid()) + ".ini";
    static const struct Remover {
        ~Remover() { unlink(path.c_str()); }
    } remover;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nl = input.find('\n');
    const std::string query = nl == std::string::npos ? input : input.substr(0, nl);
    const std::string file = nl == std::string::npos ? std::string() : input.substr(nl + 1);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;

    const Ini ini = ReadIni(file);
    std::vector<std::pair<std::string, std::string>> lookups;
    const size_t tab = query.find('\t'), tab2 = query.find('\t', tab == std::string::npos ? query.size() : tab + 1);
    const unsigned size1 = tab2 == std::string::npos ? 256 : 1 + static_cast<unsigned>(ReadInt(query.substr(tab2 + 1)) & 0x1FF);
    lookups.emplace_back(query.substr(0, tab), tab == std::string::npos ? "" : query.substr(tab + 1, tab2 - tab - 1));
    for (size_t i = 0; i < ini.entries.size() && i < 8; ++i)
        lookups.emplace_back(ini.headers[ini.entries[i].header], ini.entries[i].key);

    // A missing file gives the defaults.
    char missing[8];
    FUZZ_CHECK(platform::GetPrivateProfileStringA("s", "k", "dflt", missing, sizeof missing, "/nonexistent/NetWork.ini") == 4);
    FUZZ_CHECK(std::string(missing) == "dflt" && platform::GetPrivateProfileIntA("s", "k", 7, "/nonexistent/NetWork.ini") == 7);
    for (const auto& [section, key] : lookups) {
        if (section.find('\0') != std::string::npos || key.find('\0') != std::string::npos) continue;
        std::string value;
        const bool found = LookUp(ini, section, key, &value);
        if (!found) value = "default";
        for (const unsigned bufferSize : {256u, size1}) {
            std::vector<char> buffer(bufferSize + 1, '\x7F');
            const unsigned n = platform::GetPrivateProfileStringA(section.c_str(), key.c_str(), "default",
                                                                   buffer.data(), bufferSize, path.c_str());
            const std::string expected = value.substr(0, bufferSize - 1);
            FUZZ_CHECK(n == expected.size() && std::string(buffer.data(), n) == expected && buffer[n] == '\0');
            FUZZ_CHECK(buffer[bufferSize] == '\x7F');  // nothing past the buffer
        }
        const int number = platform::GetPrivateProfileIntA(section.c_str(), key.c_str(), -12345, path.c_str());
        FUZZ_CHECK(number == (found ? ReadInt(value) : -12345));
    }
    return 0;
}
