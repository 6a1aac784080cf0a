#include "common/XStringTools.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <memory>

stringx& StringFormat(stringx& target, const char* format, ...) {
    va_list args;
    va_start(args, format);
    StringFormatV(target, format, args, 1);
    va_end(args);
    return target;
}

stringx& StringFormatV(stringx& target, const char* format, va_list args, int mode) {
    assert(format != nullptr && "lpszFormat != NULL");
    if (!format) return target;
    // Measure exactly; short texts use a stack buffer, long ones the heap.
    char local[4097];
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(local, sizeof local, format, copy);
    va_end(copy);
    if (needed < 0) needed = 0;
    std::string text;
    if (static_cast<size_t>(needed) < sizeof local) {
        text.assign(local, static_cast<size_t>(needed));
    } else {
        std::unique_ptr<char[]> heap(new char[static_cast<size_t>(needed) + 1]);
        std::vsnprintf(heap.get(), static_cast<size_t>(needed) + 1, format, args);
        text.assign(heap.get(), static_cast<size_t>(needed));
    }
    if (mode == 1) target.assign(text); else target.append(text);
    return target;
}

void StringTrimLeft(stringx& target, const char* set) {
    assert(set != nullptr && "lpszTaget != NULL");
    if (!set || target.empty()) return;
    size_t b = target.find_first_not_of(set);
    target.erase(0, b == std::string::npos ? target.size() : b);
}

void StringTrimRight(stringx& target, const char* set) {
    assert(set != nullptr && "lpszTaget != NULL");
    if (!set || target.empty()) return;
    size_t e = target.find_last_not_of(set);
    target.erase(e == std::string::npos ? 0 : e + 1);
}

void StringTrim(stringx& target, const char* set) {
    StringTrimLeft(target, set);
    StringTrimRight(target, set);
}

bool StringReplaceAll(stringx& target, const char* from, const char* to) {
    if (!from || !*from) return false;
    const size_t fromLen = std::strlen(from);
    const std::string replacement = to ? to : "";
    size_t pos = target.find(from);
    if (pos == std::string::npos) return false;
    while (pos != std::string::npos) {
        target.replace(pos, fromLen, replacement);
        pos = target.find(from, pos + replacement.size());
    }
    return true;
}

std::vector<stringx> StringSplit(const stringx& source, const char* separator) {
    std::vector<stringx> parts;
    if (!separator || !*separator) {
        parts.push_back(source);
        return parts;
    }
    const size_t sepLen = std::strlen(separator);
    size_t start = 0;
    for (;;) {
        size_t hit = source.find(separator, start);
        if (hit == std::string::npos) {
            parts.emplace_back(source.substr(start));
            return parts;
        }
        parts.emplace_back(source.substr(start, hit - start));
        start = hit + sepLen;
    }
}
