#include "common/StringConvert.h"

#include <cstring>
#include <cwchar>
#include <memory>

#include "platform/CodePage.h"

namespace {
template <typename Char>
Char* CopyToBuffer(const Char* data, size_t len) {
    Char* buffer = new Char[len + 1];
    std::memcpy(buffer, data, len * sizeof(Char));
    buffer[len] = Char(0);
    return buffer;
}
}  // namespace

wchar_t* MultiByteToWide(const char* text, unsigned codePage) {
    if (!text) return nullptr;
    std::wstring wide;
    platform::MultiByteToWide(codePage, text, std::strlen(text), &wide);  // a failure leaves it empty
    return CopyToBuffer(wide.data(), wide.size());
}

wchar_t* MultiByteToWide(const char* text) { return MultiByteToWide(text, platform::GetACP()); }

char* WideToMultiByte(const wchar_t* text, unsigned codePage) {
    if (!text) return nullptr;
    std::string bytes;
    platform::WideToMultiByte(codePage, text, std::wcslen(text), &bytes);
    return CopyToBuffer(bytes.data(), bytes.size());
}

char* WideToMultiByte(const wchar_t* text) { return WideToMultiByte(text, platform::GetACP()); }

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring wide;
    if (text.empty() || !platform::MultiByteToWide(65001, text.data(), text.size(), &wide)) return std::wstring();
    return wide;
}

std::string WideToUtf8(const std::wstring& text) {
    std::string bytes;
    if (text.empty() || !platform::WideToMultiByte(65001, text.data(), text.size(), &bytes) || bytes.empty())
        return std::string();
    bytes.append(2, '\0');
    return bytes;
}

std::string CodePageToUtf8(const std::string& text, unsigned codePage) {
    std::unique_ptr<wchar_t[]> wide(MultiByteToWide(text.c_str(), codePage));
    return WideToUtf8(wide ? std::wstring(wide.get()) : std::wstring());
}

std::string Utf8ToCodePage(const std::string& text, unsigned codePage) {
    std::wstring wide = Utf8ToWide(text);
    std::unique_ptr<char[]> bytes(WideToMultiByte(wide.c_str(), codePage));
    return bytes ? std::string(bytes.get()) : std::string();
}
