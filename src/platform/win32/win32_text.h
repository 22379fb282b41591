// SPDX-License-Identifier: Apache-2.0
// Text at the Windows boundary: the program's UTF-8 texts as code page 936 (GBK) and as UTF-16.
#pragma once
#include <string>

constexpr unsigned WIN32_TEXT_CODE_PAGE = 936;

// UTF-8 -> GBK. Characters GBK lacks become '?', as the system's own conversion does.
std::string Win32_ToGbk(const std::string& utf8);
// UTF-8 <-> UTF-16 for the window system's wide functions.
std::wstring Win32_ToWide(const std::string& utf8);
std::string Win32_FromWide(const std::wstring& wide);
