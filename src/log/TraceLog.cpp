#include "log/TraceLog.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>

#include "common/ModuleDir.h"
#include "common/XStringTools.h"
#include "platform/Paths.h"
#include "platform/Time.h"

CTraceLog::CTraceLog() : m_strLogName("Tolvane"), m_strLogPath(GetModuleDirString(1000) + "/Log/") {}

void CTraceLog::WriteLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(kTraceEvent, format, args);
    va_end(args);
}

void CTraceLog::WriteLogEx(int direction, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLogV(direction, format, args);
    va_end(args);
}

void CTraceLog::WriteLogV(int direction, const char* format, va_list args) {
    assert(format != nullptr && "lpszFormat != NULL");
    if (!format) return;
    stringx text;
    StringFormatV(text, format, args, 1);
    WriteLogRecord(direction, text);
}

void CTraceLog::WriteLogRecord(int direction, const std::string& text) {
    platform::LocalTime t = platform::GetLocalTime();
    std::string record = BuildTraceRecord(
        direction, FormatTimeStamp(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond), text);
    if (m_console.m_nTraceConsole != 0) m_console.WriteTraceConsole(record, ConsoleTitle());
    std::lock_guard<std::mutex> lock(m_logLock);
    WriteLogFile(record);
}

void CTraceLog::WriteLogFile(const std::string& record) {
    // The date is read again here, so a record stamped just before midnight
    // lands in the new day's file.
    platform::LocalTime t = platform::GetLocalTime();
    AppendToFile(record, DayFileName(m_strLogPath, m_strLogName, t.year, t.month, t.day), "a+b",
                 m_nLogScramble);
}

void CTraceLog::SetLogName(const char* name) {
    if (!name) return;
    std::lock_guard<std::mutex> lock(m_logLock);
    m_strLogName = name;
}

void CTraceLog::SetLogPath(const char* path) {
    if (!path) return;
    std::lock_guard<std::mutex> lock(m_logLock);
    m_strLogPath = path;
}

std::string CTraceLog::CurrentLogFile() const {
    platform::LocalTime t = platform::GetLocalTime();
    std::lock_guard<std::mutex> lock(m_logLock);
    return DayFileName(m_strLogPath, m_strLogName, t.year, t.month, t.day);
}

std::string FormatTimeStamp(int year, int month, int day, int hour, int minute, int second, int ms) {
    stringx s;
    return StringFormat(s, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", year, month, day, hour, minute, second, ms);
}

std::string BuildTraceRecord(int direction, const std::string& stamp, const std::string& text) {
    stringx s;
    switch (direction) {
        case kTraceTransmit: return StringFormat(s, "%s\r\nTRANSMIT:%s\r\n", stamp.c_str(), text.c_str());
        case kTraceReceive: return StringFormat(s, "%s\r\nRECEIVE:%s\r\n", stamp.c_str(), text.c_str());
        default: return StringFormat(s, "%s:%s\r\n", stamp.c_str(), text.c_str());
    }
}

std::string DayFileName(const std::string& path, const std::string& name, int year, int month, int day) {
    stringx s;
    return StringFormat(s, "%s%s%02d%02d%02d.log", path.c_str(), name.c_str(), year - 2000, month, day);
}

char ScrambleChar(char c) {
    signed char v = static_cast<signed char>(c);
    return (v >= 1 && v <= 126) ? static_cast<char>(127 - v) : '\0';
}

void ScrambleLogText(std::string& text) {
    for (char& c : text) c = ScrambleChar(c);
}

int AppendToFile(std::string text, std::string path, std::string mode, int scramble) {
    platform::MakeSureDirectoryPathExists(path);
    FILE* f = std::fopen(path.c_str(), mode.c_str());
    if (!f) return -1;
    if (scramble != 0) ScrambleLogText(text);
    int written = std::fprintf(f, "%s", text.c_str());
    int closed = std::fclose(f);
    if (written < 0) return -2;
    if (closed != 0) return -3;
    return 0;
}

void MaskLogData(int enable, unsigned char* buffer, int len) {
    if (enable == 0 || !buffer || len < 11) return;
    for (int i = 5; i < 5 + (len - 8); ++i) buffer[i] = '*';
}
