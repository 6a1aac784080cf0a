#include "log/TraceLog.h"

#include <cassert>
#include <cstdarg>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/ModuleDir.h"
#include "common/PathText.h"
#include "common/XStringTools.h"
#include "log/TraceEscape.h"
#include "platform/FileAppend.h"
#include "platform/Paths.h"
#include "platform/Time.h"

// One record being built: time stamp, direction prefix, text, line end.
class CTraceLog::RecordBuffer {
public:
    void Begin(int direction, const platform::LocalTime& t) {
        m_size = 0;
        AppendNumber(t.year, 4);
        Append("-", 1);
        AppendNumber(t.month, 2);
        Append("-", 1);
        AppendNumber(t.day, 2);
        Append(" ", 1);
        AppendNumber(t.hour, 2);
        Append(":", 1);
        AppendNumber(t.minute, 2);
        Append(":", 1);
        AppendNumber(t.second, 2);
        Append(".", 1);
        AppendNumber(t.millisecond, 3);
        switch (direction) {
            case kTraceTransmit: Append(" \r\nTRANSMIT:", 12); break;
            case kTraceReceive: Append(" \r\nRECEIVE:", 11); break;
            default: Append(" :", 2); break;
        }
        m_textAt = m_size;
    }
    void Append(const char* data, size_t len) {
        Reserve(m_size + len);
        std::memcpy(m_data.get() + m_size, data, len);
        m_size += len;
    }
    void AppendFormat(const char* format, va_list args) {
        Reserve(m_size + 256);
        va_list copy;
        va_copy(copy, args);
        int n = std::vsnprintf(m_data.get() + m_size, m_capacity - m_size, format, copy);
        va_end(copy);
        if (n <= 0) return;
        if (static_cast<size_t>(n) >= m_capacity - m_size) {
            Reserve(m_size + static_cast<size_t>(n) + 1);
            std::vsnprintf(m_data.get() + m_size, static_cast<size_t>(n) + 1, format, args);
        }
        m_size += static_cast<size_t>(n);
    }
    // The text ends at its first zero byte, as a "%s" of it would.
    void End(bool escapeText) {
        const void* zero = std::memchr(m_data.get() + m_textAt, 0, m_size - m_textAt);
        if (zero) m_size = static_cast<size_t>(static_cast<const char*>(zero) - m_data.get());
        if (escapeText) EscapeText();
        Append("\r\n", 2);
    }
    // Escapes the text but for the line end that closes it.
    void EscapeText() {
        size_t end = m_size;
        if (end - m_textAt >= 2 && m_data[end - 2] == '\r' && m_data[end - 1] == '\n') end -= 2;
        const std::string escaped = EscapeTraceText(m_data.get() + m_textAt, end - m_textAt);
        const std::string lineEnd(m_data.get() + end, m_size - end);
        m_size = m_textAt;
        Append(escaped.data(), escaped.size());
        Append(lineEnd.data(), lineEnd.size());
    }
    char* data() { return m_data.get(); }
    size_t size() const { return m_size; }

private:
    // Like "%0*d" for the non-negative fields of a time stamp.
    void AppendNumber(int value, int width) {
        char digits[16];
        int n = 0;
        unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 16);
        for (int i = n; i < width; ++i) Append("0", 1);
        while (n > 0) Append(&digits[--n], 1);
    }
    void Reserve(size_t needed) {
        if (needed <= m_capacity) return;
        const size_t capacity = std::max(needed, 2 * m_capacity);
        std::unique_ptr<char[]> larger(new char[capacity]);
        if (m_size) std::memcpy(larger.get(), m_data.get(), m_size);
        m_data.swap(larger);
        m_capacity = capacity;
    }

    std::unique_ptr<char[]> m_data;
    size_t m_size = 0, m_capacity = 0, m_textAt = 0;
};

CTraceLog::RecordBuffer& CTraceLog::ThreadRecord() {
    thread_local RecordBuffer buffer;
    return buffer;
}

CTraceLog::CTraceLog()
    : m_strLogName("Tolvane"),
      m_strLogPath(PathInFolder(GetModuleDirString(1000), "Log") + platform::PathSeparator()) {}

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
    RecordBuffer& record = ThreadRecord();
    record.Begin(direction, platform::GetLocalTime());
    record.AppendFormat(format, args);
    record.End(EscapesText(direction));
    Dispatch(record);
}

void CTraceLog::WriteLogRecord(int direction, const std::string& text) {
    RecordBuffer& record = ThreadRecord();
    record.Begin(direction, platform::GetLocalTime());
    record.Append(text.data(), text.size());
    record.End(EscapesText(direction));
    Dispatch(record);
}

bool CTraceLog::EscapesText(int direction) const {
    return m_nTraceEscapes != 0 && (direction == kTraceTransmit || direction == kTraceReceive);
}

void CTraceLog::Dispatch(RecordBuffer& record) {
    if (m_console.m_nTraceConsole != 0)
        m_console.WriteTraceConsole(std::string(record.data(), record.size()), ConsoleTitle());
    // The date is read again here, so a record stamped just before midnight
    // lands in the new day's file.
    const platform::LocalTime t = platform::GetLocalTime();
    const int date = t.year * 10000 + t.month * 100 + t.day;
    std::lock_guard<std::mutex> lock(m_logLock);
    if (m_fileName.empty() || date != m_fileDate) {
        m_fileName = DayFileName(m_strLogPath, m_strLogName, t.year, t.month, t.day);
        m_fileDate = date;
    }
    const size_t len = m_nLogScramble != 0 ? ScrambleBytes(record.data(), record.size()) : record.size();
    platform::AppendBytes(m_fileName.c_str(), record.data(), len);
}

void CTraceLog::SetLogName(const char* name) {
    if (!name) return;
    std::lock_guard<std::mutex> lock(m_logLock);
    m_strLogName = name;
    m_fileName.clear();
}

void CTraceLog::SetLogPath(const char* path) {
    if (!path) return;
    std::lock_guard<std::mutex> lock(m_logLock);
    m_strLogPath = path;
    m_fileName.clear();
}

std::string CTraceLog::CurrentLogFile() const {
    platform::LocalTime t = platform::GetLocalTime();
    std::lock_guard<std::mutex> lock(m_logLock);
    return DayFileName(m_strLogPath, m_strLogName, t.year, t.month, t.day);
}

std::string DayFileName(const std::string& path, const std::string& name, int year, int month, int day) {
    stringx s;
    return StringFormat(s, "%s%s%02d%02d%02d.log", path.c_str(), name.c_str(), year - 2000, month, day);
}

char ScrambleChar(char c) {
    signed char v = static_cast<signed char>(c);
    return (v >= 1 && v <= 126) ? static_cast<char>(127 - v) : '\0';
}

size_t ScrambleBytes(char* data, size_t len) {
    size_t end = len;
    for (size_t i = 0; i < len; ++i) {
        data[i] = ScrambleChar(data[i]);
        if (data[i] == '\0' && end == len) end = i;
    }
    return end;
}

void ScrambleLogText(std::string& text) { ScrambleBytes(&text[0], text.size()); }

int AppendToFile(std::string text, std::string path, std::string /*mode: always an append*/, int scramble) {
    size_t len = text.size();
    if (scramble != 0) {
        len = ScrambleBytes(&text[0], len);
    } else if (const void* zero = std::memchr(text.data(), 0, len)) {
        len = static_cast<size_t>(static_cast<const char*>(zero) - text.data());
    }
    return platform::AppendBytes(path.c_str(), text.data(), len);
}

void MaskLogData(int enable, unsigned char* buffer, int len) {
    if (enable == 0 || !buffer || len < 11) return;
    for (int i = 5; i < 5 + (len - 8); ++i) buffer[i] = '*';
}
