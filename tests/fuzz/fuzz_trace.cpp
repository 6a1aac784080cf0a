// The trace reader of `tolvane trace`. The input describes records, each
// plain or scrambled, written the way the trace log writes them (a scrambled
// record, and a plain one at a zero byte, ends at the first byte it cannot
// carry); the file may then be cut short. The reader must give back every
// record as written, unscrambled, as long as each record it has to recognise
// starts after a CR LF with a whole time stamp and no text in between looks
// like one; it always gives one byte per byte, and with --descramble every
// byte unscrambled.
//
// Input: per record a byte c (bit 0 scrambled, bits 1-2 the direction, bits
// 3-7 the text's length), 17 bytes for the digits of its time stamp, the
// text; the last two bytes say where the file is cut.
#include <string>
#include <vector>

#include "Commands.h"
#include "FuzzInput.h"
#include "log/TraceLog.h"

namespace {

bool StampAt(const std::string& bytes, size_t at, bool scrambled) {
    static const char pattern[] = "dddd-dd-dd dd:dd:dd.ddd ";
    if (bytes.size() < at + 24) return false;
    for (size_t i = 0; i < 24; ++i) {
        const char raw = bytes[at + i];
        const char c = scrambled && raw >= 1 && raw <= 126 ? static_cast<char>(127 - raw) : raw;
        if (pattern[i] == 'd' ? c < '0' || c > '9' : c != pattern[i]) return false;
    }
    return true;
}

struct Record {
    size_t start;  // in the file
    bool scrambled;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    std::string file, expected;  // as written, and as the reader must give it back
    std::vector<Record> records;
    while (in.Left() > 2) {
        const uint8_t c = in.Byte();
        std::string stamp;
        for (const char* p = "dddd-dd-dd dd:dd:dd.ddd "; *p; ++p) stamp += *p == 'd' ? static_cast<char>('0' + in.Byte() % 10) : *p;
        const int direction = (c >> 1) & 3;
        const char* prefix = direction == 1 ? "\r\nTRANSMIT:" : direction == 2 ? "\r\nRECEIVE:" : ":";
        std::string record = stamp + prefix + in.Take(c >> 3) + "\r\n";
        const bool scrambled = c & 1;
        std::string written = record;
        const size_t kept = scrambled ? ScrambleBytes(&written[0], written.size()) : written.find('\0');
        written.resize(std::min(kept, written.size()));
        records.push_back({file.size(), scrambled});
        file += written;
        expected += record.substr(0, written.size());
    }
    const size_t cut = std::min<size_t>(file.size(), in.Byte() << 8 | in.Byte());

    const std::string all = ReadableTrace(file, true);
    FUZZ_CHECK(all.size() == file.size());
    for (size_t i = 0; i < file.size(); ++i) {
        const signed char v = static_cast<signed char>(file[i]);
        FUZZ_CHECK(all[i] == (v >= 1 && v <= 126 ? static_cast<char>(127 - v) : file[i]));
    }

    // Where the reader can tell records apart, it must get every one right.
    bool decidable = true;
    size_t next = 0;
    for (size_t i = 0; i < file.size() && decidable; ++i) {
        const bool afterLine = i == 0 || (i >= 2 && expected.compare(i - 2, 2, "\r\n") == 0);
        const bool starts = next < records.size() && records[next].start == i;
        if (starts) {
            const bool modeChanges = next == 0 ? records[0].scrambled : records[next].scrambled != records[next - 1].scrambled;
            if (modeChanges && !afterLine) decidable = false;
            // Several records may start here when some wrote nothing.
            while (next < records.size() && records[next].start == i) ++next;
        } else if (afterLine && (StampAt(file, i, false) || StampAt(file, i, true))) {
            decidable = false;  // text that reads like the start of a record
        }
    }
    const std::string out = ReadableTrace(file, false);
    FUZZ_CHECK(out.size() == file.size());
    if (decidable) FUZZ_CHECK(out == expected);

    // A file cut short reads the same up to the record whose stamp was cut.
    const std::string shortOut = ReadableTrace(file.substr(0, cut), false);
    FUZZ_CHECK(shortOut.size() == cut);
    size_t sure = cut;
    for (const Record& r : records)
        if (r.start < cut && r.start + 24 > cut) sure = std::min(sure, r.start);
    if (decidable) FUZZ_CHECK(shortOut.compare(0, sure, expected, 0, sure) == 0);
    return 0;
}
