// SPDX-License-Identifier: Apache-2.0
#ifndef _WIN32
#include "support/hostile_inputs.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace hostile {
void bytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), long(data.size()));
}
void text(const std::string& path, const std::string& data) {
    bytes(path, std::vector<uint8_t>(data.begin(), data.end()));
}
void folder(const std::string& path) { std::filesystem::create_directories(path); }
void fifo(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}
void socket(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path) << path;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    ::close(fd);  // the socket file stays
}
void link(const std::string& path, const std::string& target) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::create_symlink(target, path);
}
void sparse(const std::string& path, uint64_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, off_t(size)), 0);
    ::close(fd);
}
}  // namespace hostile

int Hostile_ForkLimited(const std::function<int()>& child) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
#ifndef __SANITIZE_ADDRESS__
    rlimit limit{1ull << 30, 1ull << 30};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
    ::_exit(child());
}

void Hostile_RunTable(const std::vector<HostileRow>& rows,
                      const std::function<int(const std::vector<std::string>&)>& cli) {
    for (const HostileRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        std::string base = dir.path + "/";
        if (row.make) row.make(base);
        // The row's folder is the current one too (the Config folder is found there).
        std::string oldDir = std::filesystem::current_path().string();
        std::filesystem::current_path(dir.path);
        std::vector<std::string> words;
        for (const std::string& w : row.command)
            words.push_back(!w.empty() && w[0] == '@' ? base + w.substr(1) : w);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        // A hang is the fault some rows look for: the default action of SIGALRM ends the run.
        ::alarm(30);
        int status = cli(words);
        ::alarm(0);
        std::filesystem::current_path(oldDir);
        std::string out =
            testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, row.status) << out;
        EXPECT_NE(out.find(row.message), std::string::npos)
            << "expected \"" << row.message << "\" in:\n"
            << out;
        if (row.after) row.after(base);
    }
}
#endif
