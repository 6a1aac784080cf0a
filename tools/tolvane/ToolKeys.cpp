#include "ToolKeys.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/IniFile.h"

const char* const kToolKeys[3] = {"CleanFraming", "CloseOnPartialSend", "TraceEscapes"};

namespace {

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Where the lines of `section` begin in `text`: after its first header, the
// one the library's reader takes (names without regard to case, blanks
// around them and a leading byte order mark ignored); npos when it has none.
size_t SectionBody(const std::string& text, const std::string& section) {
    for (size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; at < text.size();) {
        size_t eol = text.find('\n', at);
        std::string line = text.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();  // one CR of a CR LF line end, as the reader
        line = Trim(line);
        if (!line.empty() && line[0] == '[' && SameName(Trim(line.substr(1, line.find(']') - 1)), Trim(section)))
            return eol == std::string::npos ? text.size() : eol + 1;
        if (eol == std::string::npos) break;
        at = eol + 1;
    }
    return std::string::npos;
}

}  // namespace

std::string TurnOnToolKeys(HostConfig* config, const std::string& folder, std::vector<std::string>* added) {
    added->clear();
    for (const char* key : kToolKeys) {
        char value[8] = {};
        const char* const unset = "\x01";  // a value no configuration holds: the key is missing
        platform::GetPrivateProfileStringA(config->section.c_str(), key, unset, value, sizeof value,
                                           config->file.c_str());
        if (std::string(value) == unset) added->push_back(key);
    }
    if (added->empty()) return std::string();

    std::ifstream in(config->file, std::ios::binary);
    std::ostringstream read;
    read << in.rdbuf();
    std::string text = read.str();
    const size_t body = SectionBody(text, config->section);
    if (body == std::string::npos) return "no section [" + config->section + "] in " + config->file;
    const bool crlf = body >= 2 && text.compare(body - 2, 2, "\r\n") == 0;
    std::string lines = body > 0 && text[body - 1] != '\n' ? (crlf ? "\r\n" : "\n") : "";
    for (const std::string& key : *added) lines += key + "=1" + (crlf ? "\r\n" : "\n");
    text.insert(body, lines);

    const std::string copy = (std::filesystem::path(folder) / ("NetWork-" + config->section + ".ini")).string();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::ofstream out(copy, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush()) return "cannot write the configuration copy " + copy;
    config->file = copy;
    return std::string();
}
