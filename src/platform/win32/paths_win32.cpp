// SPDX-License-Identifier: Apache-2.0
// Windows paths: opened through the wide functions, arguments taken from the wide command line.
#include <windows.h>

#include <shellapi.h>

#include "platform/paths.h"
#include "platform/win32/win32_text.h"

std::vector<std::string> Path_Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    // The wide list stands for argv only when it has as many words (it always should).
    if (wide && count == argc) {
        for (int i = 0; i < count; ++i) args.push_back(Win32_FromWide(wide[i]));
    } else {
        for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    }
    if (wide) LocalFree(wide);
    return args;
}
