// SPDX-License-Identifier: Apache-2.0
// Export, import and the Config folder: names, sizes, messages and refusals.
#include <filesystem>
#include <fstream>

#include "app/console.h"
#include "app/param_files.h"
#include "console_support.h"
#include "support/product_internals.h"

namespace fs = std::filesystem;

namespace {

using Boxes = std::vector<std::string>;

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class FilesTest : public ConsoleTest {
  protected:
    void start(bool withConfig) {
        if (withConfig) {
            fs::create_directories(work.path + "/Config");
            std::vector<uint8_t> r = sampleRecord();
            r[3] = 99;
            writeBytes(work.path + "/Config/Para_0101_0101.dat", r);
        }
        fake_clock::setLocalTime({2026, 12, 6, 9, 5, 0});
        storePrinterRecord(sampleRecord().data());
        startConsole();
        DialogModel_ClearBoxes();
    }
    std::string record56() {
        return std::string(reinterpret_cast<const char*>(consoleState()->currentRecord), 56);
    }
};

TEST_F(FilesTest, ExportProposesUnpaddedNameAndWritesSixtyBytes) {
    start(false);
    consoleState()->currentRecord[59] = 0x77;
    std::string path = work.path + "/Para_126_95.dat";
    DialogModel_QueueFile(path);
    DialogModel_Command(ID_EXPORT);
    std::vector<DialogModelFileRequest> requests = DialogModel_FileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, FILE_DIALOG_SAVE);
    EXPECT_EQ(requests[0].initialName, "Para_126_95.dat");
    EXPECT_EQ(requests[0].title, "选择保存文件位置```");
    ASSERT_EQ(requests[0].filters.size(), 4u);
    EXPECT_EQ(requests[0].filters[0].second, "*.dat");
    std::string bytes = readFileBytes(path);
    ASSERT_EQ(bytes.size(), 60u);
    EXPECT_EQ(bytes.substr(0, 56), record56());
    EXPECT_EQ(static_cast<uint8_t>(bytes[59]), 0x77);
    EXPECT_EQ(boxTexts(), Boxes{"Parameters Save(" + path + ") OK!"});
    EXPECT_FALSE(fileExists(path + ".part"));
}

TEST_F(FilesTest, ExportCancelledOrTooLongWritesNothing) {
    start(false);
    DialogModel_QueueFileCancel();
    DialogModel_Command(ID_EXPORT);
    EXPECT_TRUE(DialogModel_Boxes().empty());

    std::string longPath = work.path;
    while (longPath.size() < 256) longPath += "/" + std::string(40, 'a');
    fs::create_directories(longPath);  // the folders exist: only the length refuses the path
    longPath += "/x.dat";
    DialogModel_QueueFile(longPath);
    DialogModel_Command(ID_EXPORT);
    EXPECT_EQ(boxTexts(), Boxes{"Parameters Save(" + longPath + ") Fail!\n" + longPath +
                                ": the path is " + std::to_string(longPath.size()) +
                                " characters, more than the 255 this route holds"});
    EXPECT_FALSE(fileExists(longPath));
}

// The route's limit is in characters: a path of 130 of them in Chinese (over 300 UTF-8
// bytes) is written.
TEST_F(FilesTest, ExportPathLimitCountsCharactersNotBytes) {
    start(false);
    std::string folder;
    for (int i = 0; i < 50; ++i) folder += "桌";
    std::string path = work.path + "/" + folder + "/" + folder;
    fs::create_directories(path);
    path += "/参数.dat";
    ASSERT_GT(path.size(), 255u);
    DialogModel_QueueFile(path);
    DialogModel_Command(ID_EXPORT);
    EXPECT_EQ(boxTexts(), Boxes{"Parameters Save(" + path + ") OK!"});
    EXPECT_TRUE(fileExists(path));
}

TEST_F(FilesTest, ExportNeverFollowsAPlantedTemporaryAndKeepsModeAndLinks) {
    start(false);
    std::string path = work.path + "/keep.dat", victim = work.path + "/victim.txt";
    writeBytes(path, std::vector<uint8_t>(60, 0x11));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    writeBytes(victim, {'v'});
    fs::create_symlink(victim, path + ".part");  // the old fixed temporary name
    DialogModel_QueueFile(path);
    DialogModel_Command(ID_EXPORT);
    EXPECT_EQ(boxTexts(), Boxes{"Parameters Save(" + path + ") OK!"});
    EXPECT_EQ(readFileBytes(path).substr(0, 56), record56());
    EXPECT_EQ(readFileBytes(victim), "v");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // Exported onto a link: the file it names gets the record, the link stays a link.
    std::string link = work.path + "/link.dat";
    fs::create_symlink(path, link);
    consoleState()->currentRecord[3] = 77;
    DialogModel_QueueFile(link);
    DialogModel_Command(ID_EXPORT);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFileBytes(path)[3], 77);
}

TEST_F(FilesTest, ImportAsksThenReadsSixtyBytesAndShowsThem) {
    start(false);
    std::vector<uint8_t> r = sampleRecord();
    r[3] = 42;
    r.resize(60, 0);
    r[58] = 5;
    std::string path = work.path + "/in.dat";
    writeBytes(path, r);
    DialogModel_QueueFile(path);
    DialogModel_QueueAnswer(1);  // OK
    DialogModel_Command(ID_IMPORT);
    std::vector<DialogModelBox> boxes = DialogModel_Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Tip");
    EXPECT_EQ(boxes[0].buttons, 1);  // OK and Cancel
    EXPECT_NE(boxes[0].text.find(path), std::string::npos);
    EXPECT_EQ(boxes[1].text, "Parameters'file(" + path + ") import OK!");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "42");
    EXPECT_EQ(consoleState()->currentRecord[58], 5);
    EXPECT_EQ(DialogModel_FileRequests()[0].kind, FILE_DIALOG_OPEN);
    EXPECT_EQ(DialogModel_FileRequests()[0].initialName, "");
    EXPECT_EQ(printerTransactions(65), 0);  // nothing is sent before the next SAVE
}

TEST_F(FilesTest, ImportCancelledAtTheQuestionReadsNothing) {
    start(false);
    std::vector<uint8_t> r(60, 1);
    std::string path = work.path + "/in.dat";
    writeBytes(path, r);
    DialogModel_QueueFile(path);
    DialogModel_QueueAnswer(2);  // Cancel
    DialogModel_Command(ID_IMPORT);
    EXPECT_EQ(DialogModel_Boxes().size(), 1u);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "10");
    EXPECT_EQ(consoleState()->currentRecord[3], 10);
}

TEST_F(FilesTest, ImportOfA56ByteFileFailsAndChangesNothing) {
    start(false);
    std::vector<uint8_t> r(56, 3);
    std::string path = work.path + "/Para_1206_0905.dat";
    writeBytes(path, r);
    DialogModel_QueueFile(path);
    DialogModel_Command(ID_IMPORT);
    EXPECT_EQ(boxTexts().back(), "Parameters'file(" + path + ") import Fail!\n" + path +
                                     ": is 56 bytes; a parameter file to import has 60");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "10");
    EXPECT_EQ(consoleState()->currentRecord[3], 10);
    // A folder (what a multiple selection yields) fails the same way.
    DialogModel_ClearBoxes();
    DialogModel_QueueFile(work.path);
    DialogModel_Command(ID_IMPORT);
    EXPECT_EQ(boxTexts().back(), "Parameters'file(" + work.path + ") import Fail!\n" + work.path +
                                     ": is a folder, not a file");
}

// Files that are not parameter files: refused with the first reason, nothing taken or shown.
TEST_F(FilesTest, ImportRefusesWhatNoSaveCouldHaveWritten) {
    start(false);
    struct Row {
        const char* what;
        int offset;  // -1: the bytes as given
        std::vector<uint8_t> bytes;
        std::string reason;
    };
    auto with = [](int offset, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> r = sampleRecord();
        r.resize(60, 0);
        std::copy(bytes.begin(), bytes.end(), r.begin() + offset);
        return r;
    };
    const Row rows[] = {
        {"zeros", -1, std::vector<uint8_t>(60, 0),
         "stepPass4 is 0; a feed-step correction is 1 to 65535"},
        {"61 bytes", -1, std::vector<uint8_t>(61, 1),
         "is 61 bytes, more than the 60 this kind of file may have"},
        {"step 3 zero", -1, with(0x10, {0, 0}), "stepPass3 is 0"},
        {"step 2 zero", -1, with(0x30, {0, 0}), "stepPass2 is 0"},
        {"ink twice", -1, with(0x16, {6}), "inkOrder names slot 6 twice"},
        {"ink slot 8", -1, with(0x1d, {8}), "inkOrder is 8; the ink slots are 0 to 7"},
        {"feather mode", -1, with(0x21, {5}), "featherMode is 5; the feather modes are 0 to 4"},
        {"feather depth", -1, with(0x22, {101}), "featherDepth is 101"},
        {"skip flag", -1, with(0x26, {2}), "skipLrBlank is 2"},
        {"band on", -1, with(0x27, {0x32}), "colorBandOn is 2"},
        {"band sides", -1, with(0x27, {0x41}), "colorBandSides is 4"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string path = work.path + "/bad.dat";
        writeBytes(path, row.bytes);
        DialogModel_ClearBoxes();
        DialogModel_QueueFile(path);
        DialogModel_Command(ID_IMPORT);
        std::string text = boxTexts().back();
        EXPECT_EQ(text.substr(0, text.find('\n')), "Parameters'file(" + path + ") import Fail!");
        EXPECT_NE(text.find(path + ": " + row.reason), std::string::npos) << text;
        EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "10");
        EXPECT_EQ(consoleState()->currentRecord[0x0a], 100);
    }
    // A device is never read, however much it would give.
    DialogModel_ClearBoxes();
    DialogModel_QueueFile("/dev/zero");
    DialogModel_Command(ID_IMPORT);
    EXPECT_EQ(
        boxTexts().back(),
        "Parameters'file(/dev/zero) import Fail!\n/dev/zero: is a device, not a regular file");
    // The bytes without an entry are not judged: mark, head flags, free bytes, the tail.
    std::vector<uint8_t> odd = with(0x00, {0x00, 0x09, 0xFF});
    odd[0x23] = odd[0x3b] = 0xEE;
    writeBytes(work.path + "/odd.dat", odd);
    DialogModel_QueueFile(work.path + "/odd.dat");
    DialogModel_Command(ID_IMPORT);
    EXPECT_EQ(boxTexts().back(), "Parameters'file(" + work.path + "/odd.dat) import OK!");
    EXPECT_EQ(printerTransactions(65), 0);
}

TEST_F(FilesTest, EmptyConfigFolderHidesListLabelAndStoreButton) {
    fs::create_directories(work.path + "/Config");
    start(false);
    for (int id : {ID_CONFIG_LIST, ID_CONFIG_LABEL, ID_CONFIG_STORE})
        EXPECT_FALSE(DialogModel_Visible(id)) << id;
    EXPECT_FALSE(DialogModel_Click(ID_CONFIG_STORE));
}

TEST_F(FilesTest, ConfigStoreWritesPaddedNameAndRefreshesTheList) {
    start(true);
    EXPECT_TRUE(DialogModel_Visible(ID_CONFIG_LIST));
    EXPECT_EQ(DialogModel_ListEntries(ID_CONFIG_LIST), Boxes{"Para_0101_0101.dat"});
    DialogModel_Click(ID_CONFIG_STORE);
    std::string path = work.path + "/Config/Para_1206_0905.dat";
    EXPECT_EQ(readFileBytes(path), record56());
    EXPECT_EQ(boxTexts(), Boxes{"Parameters Save(Para_1206_0905.dat) OK!"});
    EXPECT_EQ(DialogModel_ListEntries(ID_CONFIG_LIST),
              (Boxes{"Para_0101_0101.dat", "Para_1206_0905.dat"}));
    // Within the same minute the earlier file is kept and the new one numbered.
    const std::string first = record56();
    consoleState()->currentRecord[3] = 1;
    DialogModel_Click(ID_CONFIG_STORE);
    EXPECT_EQ(readFileBytes(path), first);
    EXPECT_EQ(readFileBytes(work.path + "/Config/Para_1206_0905_2.dat")[3], 1);
    EXPECT_EQ(boxTexts().back(), "Parameters Save(Para_1206_0905_2.dat) OK!");
    EXPECT_EQ(DialogModel_ListEntries(ID_CONFIG_LIST),
              (Boxes{"Para_0101_0101.dat", "Para_1206_0905.dat", "Para_1206_0905_2.dat"}));
}

TEST_F(FilesTest, ConfigListLoadsA60ByteFileAndNoQuestionIsAsked) {
    fs::create_directories(work.path + "/Config");
    std::vector<uint8_t> r = sampleRecord();
    r[3] = 61;
    r.resize(60, 0xEE);
    writeBytes(work.path + "/Config/Para_126_95.dat", r);
    start(false);
    ASSERT_TRUE(DialogModel_Select(ID_CONFIG_LIST, 0));
    EXPECT_EQ(boxTexts(), Boxes{"Parameters'file(Para_126_95.dat) import OK!"});
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "61");
    EXPECT_EQ(consoleState()->currentRecord[56], 0);  // the tail is not touched
}

TEST_F(FilesTest, ConfigListShowsEveryFileAndTakesOnlyDatFiles) {
    fs::create_directories(work.path + "/Config/folder.dat");
    for (int i = 0; i < 20; ++i)
        writeBytes(work.path + "/Config/Para_" + std::to_string(100 + i) + ".dat", sampleRecord());
    writeBytes(work.path + "/Config/notes.txt", {1, 2});
    start(false);
    std::vector<std::string> entries = DialogModel_ListEntries(ID_CONFIG_LIST);
    ASSERT_EQ(entries.size(), 20u);
    EXPECT_EQ(configPaths().size(), 20u);
    ASSERT_TRUE(DialogModel_Select(ID_CONFIG_LIST, 19));
    EXPECT_EQ(boxTexts(), Boxes{"Parameters'file(Para_119.dat) import OK!"});
}

TEST_F(FilesTest, ShortConfigFileFailsAndKeepsTheRecord) {
    fs::create_directories(work.path + "/Config");
    writeBytes(work.path + "/Config/short.dat", std::vector<uint8_t>(20, 1));
    std::vector<uint8_t> badInk = sampleRecord();
    badInk[0x17] = badInk[0x16];
    writeBytes(work.path + "/Config/twice.dat", badInk);
    start(false);
    start(false);
    DialogModel_Select(ID_CONFIG_LIST, 0);
    std::string dir = work.path + "/Config/";
    EXPECT_EQ(boxTexts(), Boxes{"Parameters'file(short.dat) import Fail!\n" + dir +
                                "short.dat: is 20 bytes; a parameter file has 56 or 60"});
    DialogModel_ClearBoxes();
    DialogModel_Select(ID_CONFIG_LIST, 1);
    EXPECT_EQ(
        boxTexts(),
        Boxes{"Parameters'file(twice.dat) import Fail!\n" + dir +
              "twice.dat: inkOrder names slot 7 twice; it must place each of the eight inks once"});
    EXPECT_EQ(consoleState()->currentRecord[3], 10);
}

TEST_F(FilesTest, ChineseMessagesOfTheFileRoutes) {
    fake_locale::install(0x0804);
    start(true);
    DialogModel_Click(ID_CONFIG_STORE);
    EXPECT_EQ(boxTexts(), Boxes{"参数文件(Para_1206_0905.dat)保存成功"});
    DialogModel_ClearBoxes();
    DialogModel_Select(ID_CONFIG_LIST, 0);
    EXPECT_EQ(boxTexts(), Boxes{"参数文件(Para_0101_0101.dat)导入成功"});
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "99");
}

}  // namespace
