// SPDX-License-Identifier: Apache-2.0
// POSIX paths are bytes: UTF-8 passes through unchanged.
#include "platform/paths.h"

std::vector<std::string> Path_Arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}
