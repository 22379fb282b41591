// Export, import and the Config folder: names, sizes, messages and refusals.
#include <filesystem>
#include <fstream>

#include "app/console.h"
#include "app/param_files.h"
#include "console_support.h"

namespace fs = std::filesystem;

namespace {

using Boxes = std::vector<std::string>;

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
    EXPECT_EQ(boxTexts(), Boxes{"Parameters Save(" + longPath + ") Fail!"});
    EXPECT_FALSE(fileExists(longPath));
}

TEST_F(FilesTest, FailedExportLeavesTheExistingFileWhole) {
    start(false);
    fs::create_directories(work.path + "/sub");
    std::string path = work.path + "/sub/keep.dat";
    writeBytes(path, std::vector<uint8_t>(60, 0x11));
    fs::create_directories(path + ".part");  // the temporary file cannot be created
    DialogModel_QueueFile(path);
    DialogModel_Command(ID_EXPORT);
    EXPECT_EQ(boxTexts(), Boxes{"Parameters Save(" + path + ") Fail!"});
    EXPECT_EQ(readFileBytes(path), std::string(60, '\x11'));
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
    EXPECT_EQ(DialogModel_Text(1056), "42");
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
    EXPECT_EQ(DialogModel_Text(1056), "10");
    EXPECT_EQ(consoleState()->currentRecord[3], 10);
}

TEST_F(FilesTest, ImportOfA56ByteFileFailsAndChangesNothing) {
    start(false);
    std::vector<uint8_t> r(56, 3);
    std::string path = work.path + "/Para_1206_0905.dat";
    writeBytes(path, r);
    DialogModel_QueueFile(path);
    DialogModel_Command(ID_IMPORT);
    EXPECT_EQ(boxTexts().back(), "Parameters'file(" + path + ") import Fail!");
    EXPECT_EQ(DialogModel_Text(1056), "10");
    EXPECT_EQ(consoleState()->currentRecord[3], 10);
    // A folder (what a multiple selection yields) fails the same way.
    DialogModel_ClearBoxes();
    DialogModel_QueueFile(work.path);
    DialogModel_Command(ID_IMPORT);
    EXPECT_EQ(boxTexts().back(), "Parameters'file(" + work.path + ") import Fail!");
}

TEST_F(FilesTest, EmptyConfigFolderHidesListLabelAndStoreButton) {
    fs::create_directories(work.path + "/Config");
    start(false);
    for (int id : {ID_CONFIG_LIST, ID_CONFIG_LABEL, ID_CONFIG_STORE}) EXPECT_FALSE(DialogModel_Visible(id)) << id;
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
    // Within the same minute the file is overwritten.
    consoleState()->currentRecord[3] = 1;
    DialogModel_Click(ID_CONFIG_STORE);
    EXPECT_EQ(readFileBytes(path)[3], 1);
    EXPECT_EQ(DialogModel_ListEntries(ID_CONFIG_LIST).size(), 2u);
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
    EXPECT_EQ(DialogModel_Text(1056), "61");
    EXPECT_EQ(consoleState()->currentRecord[56], 0);  // the tail is not touched
}

TEST_F(FilesTest, ConfigListShowsEveryFileAndTakesOnlyDatFiles) {
    fs::create_directories(work.path + "/Config/folder.dat");
    for (int i = 0; i < 20; ++i) writeBytes(work.path + "/Config/Para_" + std::to_string(100 + i) + ".dat", sampleRecord());
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
    start(false);
    DialogModel_Select(ID_CONFIG_LIST, 0);
    EXPECT_EQ(boxTexts(), Boxes{"Parameters'file(short.dat) import Fail!"});
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
    EXPECT_EQ(DialogModel_Text(1056), "99");
}

}  // namespace
