// SPDX-License-Identifier: Apache-2.0
// UTF-8 <-> code page 936 through UTF-16, with the system's conversion functions.
#include "platform/win32/win32_text.h"

#include <windows.h>

namespace {

std::wstring toWide(const std::string& text, unsigned codePage) {
    if (text.empty()) return std::wstring();
    int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string fromWide(const std::wstring& wide, unsigned codePage) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                        nullptr, nullptr);
    return text;
}

bool isAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

std::string Win32_ToGbk(const std::string& utf8) {
    if (isAscii(utf8)) return utf8;
    return fromWide(toWide(utf8, CP_UTF8), WIN32_TEXT_CODE_PAGE);
}

std::string Win32_FromGbk(const std::string& gbk) {
    if (isAscii(gbk)) return gbk;
    return fromWide(toWide(gbk, WIN32_TEXT_CODE_PAGE), CP_UTF8);
}

std::wstring Win32_ToWide(const std::string& utf8) { return toWide(utf8, CP_UTF8); }
std::string Win32_FromWide(const std::wstring& wide) { return fromWide(wide, CP_UTF8); }
