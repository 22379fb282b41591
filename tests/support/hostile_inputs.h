// SPDX-License-Identifier: Apache-2.0
// Tables of hostile inputs: each row makes something in a fresh folder (a pipe where a file is
// expected, a record of the wrong size, a picture that lies about its size), runs one command
// line on it and names the exit status and a piece of the message it must end with. Adding a
// case is adding a row. POSIX only (pipes, sockets, devices).
#pragma once
#ifndef _WIN32
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct HostileRow {
    const char* name;
    // Makes the input inside the row's folder (given with a trailing '/').
    std::function<void(const std::string& dir)> make;
    // The command line without the program; a word starting with '@' is a path in the folder.
    std::vector<std::string> command;
    int status;
    const char* message;  // found in standard output or standard error ("" for any)
    // Checks the folder afterwards (what must be left as it was, what must have been made).
    std::function<void(const std::string& dir)> after = nullptr;
};

// Runs every row in its own fresh folder with both outputs captured; `cli` is the command
// line's dispatch. A row that does not return within 30 s ends the test program (a hang).
void Hostile_RunTable(const std::vector<HostileRow>& rows,
                      const std::function<int(const std::vector<std::string>&)>& cli);

// Forks a child that runs `child` (its return value the exit status) under an address-space
// limit of 1 GB where the build allows one (not under AddressSanitizer, whose shadow memory
// alone is larger). Returns the child's pid (-1 when it could not be started).
int Hostile_ForkLimited(const std::function<int()>& child);

// Makers for rows.
namespace hostile {
void bytes(const std::string& path, const std::vector<uint8_t>& data);
void text(const std::string& path, const std::string& data);
void folder(const std::string& path);
void fifo(const std::string& path);
void socket(const std::string& path);
void link(const std::string& path, const std::string& target);
// A file of `size` bytes that takes no room (a hole), for size caps.
void sparse(const std::string& path, uint64_t size);
}  // namespace hostile
#endif
