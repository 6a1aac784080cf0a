#pragma once
#include <cstdarg>
#include <string>
#include <vector>

// A std::string with no data of its own; the routines below work on it.
class stringx : public std::string {
public:
    using std::string::string;
    stringx() = default;
    stringx(const std::string& s) : std::string(s) {}
    stringx(std::string&& s) : std::string(std::move(s)) {}
};

// printf-style formatting; the text is never cut. Returns `target`.
stringx& StringFormat(stringx& target, const char* format, ...) __attribute__((format(printf, 2, 3)));
// mode 1 replaces the target's content, any other mode appends to it.
stringx& StringFormatV(stringx& target, const char* format, va_list args, int mode);

void StringTrimLeft(stringx& target, const char* set);
void StringTrimRight(stringx& target, const char* set);
void StringTrim(stringx& target, const char* set);

// Replaces every occurrence of `from` (not empty) left to right, never
// searching inserted text again; false when `from` does not occur.
bool StringReplaceAll(stringx& target, const char* from, const char* to);

// "a;b" on ";" gives a and b; "a;" gives a and an empty element.
std::vector<stringx> StringSplit(const stringx& source, const char* separator);
