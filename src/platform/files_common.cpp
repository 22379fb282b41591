// SPDX-License-Identifier: Apache-2.0
// What every platform's files share: numbered names for files that must not overwrite an
// earlier one.
#include <string>

#include "platform/files.h"

std::string File_NumberedName(const std::string& path, int n) {
    if (n <= 1) return path;
    size_t slash = path.find_last_of("/\\");
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(n) + path.substr(dot);
}

FileResult File_CreateUnique(const std::string& path, const uint8_t* data, size_t size,
                             std::string* created, int* chosen, int firstChoice) {
    constexpr int CHOICES = 999;
    const int first = firstChoice < 1 ? 1 : firstChoice;
    for (int n = first; n < first + CHOICES; ++n) {
        std::string name = File_NumberedName(path, n);
        FileResult made = File_CreateNew(name, data, size);
        if (made.status == FILE_EXISTS) continue;
        if (made.ok() && created) *created = name;
        if (made.ok() && chosen) *chosen = n;
        return made;
    }
    return FileResult{FILE_EXISTS, File_NumberedName(path, first) + ": this name and the next " +
                                       std::to_string(CHOICES - 1) +
                                       " numbered ones are all taken"};
}
