#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reads the records the library appends to its day files "<name>YYMMDD.log"
// in a trace folder, so that the command can tell its user what only the
// trace says (why a connect or a listen failed). Records written before the
// watch began are skipped.
class TraceWatch {
public:
    TraceWatch(std::string folder, std::string name);
    // The complete records appended since the last call, without their
    // line ends.
    std::vector<std::string> NewRecords();

private:
    std::string NewestFile() const;

    std::string m_folder, m_name;
    std::string m_file;       // the day file being followed
    std::uintmax_t m_offset = 0;  // bytes of it already read
};

// The reason in a record "... LastError=<n>" after `marker` ("Connect
// Fail."), or empty when the record is no such failure. `where` receives
// the text between the marker and ", LastError".
std::string FailureOf(const std::string& record, const std::string& marker, std::string* where);
