#pragma once
#include <string>

// Conversions between a code page, wide text and UTF-8. Raw buffers are
// allocated with new[] and freed by the caller with delete[].

// Null text gives null; the result is zero-terminated.
wchar_t* MultiByteToWide(const char* text, unsigned codePage);
wchar_t* MultiByteToWide(const char* text);  // ANSI code page
char* WideToMultiByte(const wchar_t* text, unsigned codePage);
char* WideToMultiByte(const wchar_t* text);  // ANSI code page

std::wstring Utf8ToWide(const std::string& text);
// The UTF-8 bytes followed by two zero bytes, both counted in the length.
std::string WideToUtf8(const std::wstring& text);
std::string CodePageToUtf8(const std::string& text, unsigned codePage);
// Ends at the first zero of the converted text.
std::string Utf8ToCodePage(const std::string& text, unsigned codePage);
