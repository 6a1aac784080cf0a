#include "platform/CodePage.h"

#include <climits>

#include "platform/win32/Windows.h"

// wchar_t holds UTF-16 units on Windows.
namespace platform {

unsigned GetACP() { return ::GetACP(); }

bool MultiByteToWide(unsigned codePage, const char* data, size_t len, std::wstring* out) {
    out->clear();
    if (!::IsValidCodePage(codePage) && codePage != CP_UTF8) return false;
    if (len == 0) return true;
    if (len > static_cast<size_t>(INT_MAX)) return false;
    const int inLen = static_cast<int>(len);
    // Without MB_ERR_INVALID_CHARS invalid sequences become U+FFFD.
    int n = ::MultiByteToWideChar(codePage, 0, data, inLen, nullptr, 0);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    n = ::MultiByteToWideChar(codePage, 0, data, inLen, &(*out)[0], n);
    out->resize(n > 0 ? static_cast<size_t>(n) : 0);
    return n > 0;
}

bool WideToMultiByte(unsigned codePage, const wchar_t* data, size_t len, std::string* out) {
    out->clear();
    if (!::IsValidCodePage(codePage) && codePage != CP_UTF8) return false;
    if (len == 0) return true;
    if (len > static_cast<size_t>(INT_MAX)) return false;
    const int inLen = static_cast<int>(len);
    // UTF-8 and UTF-7 take no flags and no default character; the others
    // replace what they cannot hold with '?' (no "best fit" look-alikes).
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const char* replacement = unicode ? nullptr : "?";
    const DWORD flags = unicode ? 0 : WC_NO_BEST_FIT_CHARS;
    int n = ::WideCharToMultiByte(codePage, flags, data, inLen, nullptr, 0, replacement, nullptr);
    if (n <= 0) return false;
    out->resize(static_cast<size_t>(n));
    n = ::WideCharToMultiByte(codePage, flags, data, inLen, &(*out)[0], n, replacement, nullptr);
    out->resize(n > 0 ? static_cast<size_t>(n) : 0);
    return n > 0;
}

}  // namespace platform
