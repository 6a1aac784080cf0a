#pragma once
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <mutex>
#include <string>

#include "log/ConsoleTrace.h"

// Record directions.
constexpr int kTraceEvent = 0;
constexpr int kTraceTransmit = 1;
constexpr int kTraceReceive = 2;

// The per-day trace log of one session object (client or server): each record
// is time-stamped, echoed to the console when enabled, and appended to
// "<path><name>YYMMDD.log" under the object's own lock.
//
// Per record the text is formatted once, straight into a buffer of the
// calling thread that is kept for its next record, and the file is appended
// to with one open, write and close; the day file's name is built again only
// when the date, the folder or the name changed.
class CTraceLog {
public:
    CTraceLog();
    virtual ~CTraceLog() = default;
    CTraceLog(const CTraceLog&) = delete;
    CTraceLog& operator=(const CTraceLog&) = delete;

    void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void WriteLogEx(int direction, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void WriteLogV(int direction, const char* format, va_list args);
    void WriteLogRecord(int direction, const std::string& text);

    // Null arguments are ignored.
    void SetLogName(const char* name);
    void SetLogPath(const char* path);
    void SetLogScramble(int value) { m_nLogScramble = value; }
    // Full name of today's file (for hosts and tests that want to read it).
    std::string CurrentLogFile() const;

    std::atomic<int> m_nMaskLog{0};
    std::atomic<int> m_nLogScramble{0};
    // "TraceEscapes" 1: the texts of TRANSMIT and RECEIVE records (and of the
    // read traces that show a peer's bytes) are escaped (EscapeTraceText).
    std::atomic<int> m_nTraceEscapes{0};
    CConsoleTrace m_console;

protected:
    // Title of the console this object opens ("Client(...)", "Server(...)").
    virtual std::string ConsoleTitle() const { return std::string(); }

private:
    class RecordBuffer;
    // Each thread builds its records in a buffer of its own that it keeps.
    static RecordBuffer& ThreadRecord();
    bool EscapesText(int direction) const;
    // Echoes the finished record and appends it to the day file.
    void Dispatch(RecordBuffer& record);

    mutable std::mutex m_logLock;  // guards the names and the file append
    std::string m_strLogName;
    std::string m_strLogPath;
    std::string m_fileName;  // the day file of m_fileDate; empty when stale
    int m_fileDate = 0;      // year * 10000 + month * 100 + day
};

// Shared routines of the trace writer.
std::string DayFileName(const std::string& path, const std::string& name, int year, int month, int day);

// Appends `text` up to its first zero byte (after scrambling, when
// `scramble` is not 0) to the file at `path`; `mode` is an append mode
// ("a+b"). 0 written, -1 open failed, -2 write failed, -3 close failed.
int AppendToFile(std::string text, std::string path, std::string mode, int scramble);
char ScrambleChar(char c);
void ScrambleLogText(std::string& text);
// Scrambles `len` bytes in place; the length up to the first zero byte.
size_t ScrambleBytes(char* data, size_t len);
// Masks len - 8 bytes from index 5 with '*' when enabled and len >= 11.
void MaskLogData(int enable, unsigned char* buffer, int len);
