// SPDX-License-Identifier: Apache-2.0
// Stand-in for the printing front end on Windows: creates the named shared area and its mutex,
// puts a record at offset 4, optionally holds the mutex for a while, then waits to be told to
// end (a named event) and reports the area's first 60 bytes in hex on standard output.
//   front_end_host AREA MUTEX|- HOLD_MS RECORD_BYTE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: front_end_host AREA MUTEX|- HOLD_MS RECORD_BYTE\n", stderr);
        return 2;
    }
    const std::string area = argv[1], lock = argv[2];
    const DWORD holdMs = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
    const int recordByte = std::atoi(argv[4]);

    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, area.c_str());
    if (!mapping) return 3;
    auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return 4;
    for (int i = 0; i < 56; ++i) view[4 + i] = static_cast<unsigned char>(recordByte + i);
    HANDLE mutex = lock == "-" ? nullptr : CreateMutexA(nullptr, FALSE, lock.c_str());
    if (lock != "-" && !mutex) return 5;
    if (mutex && holdMs) WaitForSingleObject(mutex, INFINITE);

    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (area + "_ready").c_str());
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, (area + "_quit").c_str());
    SetEvent(ready);
    if (mutex && holdMs) {
        Sleep(holdMs);
        ReleaseMutex(mutex);
    }
    WaitForSingleObject(quit, 30000);
    for (int i = 0; i < 60; ++i) std::printf("%02X", view[i]);
    std::printf("\n");
    std::fflush(stdout);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    if (mutex) CloseHandle(mutex);
    return 0;
}
