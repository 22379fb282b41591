// SPDX-License-Identifier: Apache-2.0
// Paths as the program holds them (UTF-8 text) and as the standard library opens them. On
// Windows a std::filesystem::path made from a narrow string reads it in the ANSI code page, so
// a folder named in Chinese on an English system (or any name outside GBK) would not open:
// every path crosses over here as UTF-8 instead. Files themselves are opened only through
// platform/files.h.
#pragma once
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

inline std::filesystem::path Path_FromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Path_ToUtf8(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The program's arguments as UTF-8: on Windows read again from the wide command line (argv
// holds them in the ANSI code page, with '?' for what it lacks); elsewhere argv as it is.
// Main thread, at start; never blocks.
std::vector<std::string> Path_Arguments(int argc, char** argv);
