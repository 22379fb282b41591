// SPDX-License-Identifier: Apache-2.0
// Files from outside and replaced files: what is refused, and what a replacement keeps.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/files.h"

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("headalign_files_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string put(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    }
    std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    fs::path dir;
};

TEST_F(FilesTest, OnlyRegularFilesWithinTheCapAreRead) {
    std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string socketPath = (dir / "sock").string();
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::string longName = (dir / std::string(300, 'a')).string();
    struct Row {
        std::string path;
        size_t cap;
        FileStatus status;
        const char* says;
    } rows[] = {
        {put("ok.dat", "0123456789"), 10, FILE_OK, ""},
        {put("empty.dat", ""), 10, FILE_OK, ""},
        {put("big.dat", std::string(11, 'x')), 10, FILE_TOO_LARGE, "11 bytes"},
        {(dir / "absent.dat").string(), 10, FILE_MISSING, "absent.dat"},
        {dir.string(), 10, FILE_NOT_REGULAR, "folder"},
        {fifo, 10, FILE_NOT_REGULAR, "FIFO"},
        {"/dev/zero", 10, FILE_NOT_REGULAR, "device"},
        {socketPath, 10, FILE_NOT_REGULAR, "socket"},
        {longName, 10, FILE_IO_ERROR, "too long"},
        {"", 10, FILE_MISSING, "no file"},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> data{1, 2, 3};
        FileResult r = File_ReadRegular(row.path, row.cap, &data);
        EXPECT_EQ(r.status, row.status) << row.path << ": " << r.message;
        EXPECT_NE(r.message.find(row.says), std::string::npos) << r.message;
        if (r.ok()) {
            EXPECT_EQ(data.size(), slurp(row.path).size());
        } else {
            EXPECT_TRUE(data.empty());
            EXPECT_NE(r.message.find(row.path.empty() ? "(empty path)" : row.path.substr(0, 40)),
                      std::string::npos);
        }
    }
    close(s);
}

TEST_F(FilesTest, ReplacementKeepsModeAndLinksAndNeverFollowsAPlantedName) {
    const uint8_t record[4] = {0xAC, 1, 2, 3};
    std::string target = put("t.dat", "old");
    chmod(target.c_str(), 0640);
    // A link planted at the name of the old fixed temporary must not be written through.
    std::string victim = put("victim.txt", "precious");
    fs::create_symlink(victim, dir / "t.dat.part");
    ASSERT_TRUE(File_WriteReplace(target, record, 4).ok());
    EXPECT_EQ(slurp(target), std::string("\xAC\x01\x02\x03", 4));
    EXPECT_EQ(slurp(victim), "precious");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // Through the operator's own link: the file it names is replaced, the link stays.
    fs::create_symlink(target, dir / "link.dat");
    const uint8_t second[2] = {9, 9};
    ASSERT_TRUE(File_WriteReplace((dir / "link.dat").string(), second, 2).ok());
    EXPECT_TRUE(fs::is_symlink(dir / "link.dat"));
    EXPECT_EQ(slurp(target), "\x09\x09");

    // Failures leave the target and no temporary behind.
    EXPECT_EQ(File_WriteReplace((dir / "no" / "x.dat").string(), record, 4).status, FILE_MISSING);
    EXPECT_EQ(File_WriteReplace(dir.string(), record, 4).status, FILE_NOT_REGULAR);
    size_t files = 0;
    for (auto& e : fs::directory_iterator(dir))
        files += e.path().filename().string()[0] == '.' ? 100 : 1;
    EXPECT_EQ(files, 4u);  // t.dat, victim.txt, t.dat.part, link.dat
}

}  // namespace
