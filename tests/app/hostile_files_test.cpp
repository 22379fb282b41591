// SPDX-License-Identifier: Apache-2.0
// Hostile files on the command line: what is not a regular file of a sensible size where a
// parameter file, a Config file or a state file of the virtual printer is expected. Each ends
// with status 1 and a message naming the file and what is wrong with it, never a hang or a
// signal, and never changes the stored record.
#include <sys/stat.h>

#include <filesystem>

#include "cli/params_cmd.h"
#include "console_support.h"
#include "support/hostile_inputs.h"
#include "vprinter.h"

namespace {

using namespace hostile;

class HostileFiles : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        storePrinterRecord(sampleRecord().data());
        options.virtualPrinterDir = work.path + "/printer";
    }
    // The command line as main dispatches it; --virtual-printer moves the printer's folder.
    int cli(const std::vector<std::string>& words) {
        CliOptions o = options;
        std::vector<std::string> args;
        for (size_t i = 0; i < words.size(); ++i) {
            if (words[i] == "--virtual-printer" && i + 1 < words.size())
                o.virtualPrinterDir = words[++i];
            else if (words[i] == "--log-dir" && i + 1 < words.size())
                o.logDir = words[++i];
            else
                args.push_back(words[i]);
        }
        std::string command = args.front();
        args.erase(args.begin());
        if (command == "params") return Cli_ParamsCommand(args, o);
        if (command == "config") return Cli_ConfigCommand(args, o);
        return Cli_RunJob(command, args, o);
    }
    void run(const std::vector<HostileRow>& rows) {
        Hostile_RunTable(rows, [this](const std::vector<std::string>& w) { return cli(w); });
        VPrinter_Attach(options.virtualPrinterDir);
        EXPECT_EQ(printerRecord(), sampleRecord());
    }
    CliOptions options;
};

std::vector<uint8_t> zeros(size_t n) { return std::vector<uint8_t>(n, 0); }

// What the file is: only a regular file is read, and a pipe or device never blocks.
TEST_F(HostileFiles, NotARegularFileOrTooLarge) {
    const std::vector<std::string> import = {"params", "import", "--yes", "@in.dat"};
    const std::vector<std::string> load = {"config", "load", "x.dat"};
    run({
        {"import a folder", [](auto d) { folder(d + "in.dat"); }, import, 1,
         "in.dat: is a folder, not a file"},
        {"import a pipe", [](auto d) { fifo(d + "in.dat"); }, import, 1,
         "in.dat: is a pipe (FIFO)"},
        {"import a link to a pipe",
         [](auto d) {
             fifo(d + "p");
             link(d + "in.dat", d + "p");
         },
         import, 1, "is a pipe"},
        {"import a socket", [](auto d) { socket(d + "in.dat"); }, import, 1, "in.dat: is a socket"},
        {"import a device",
         nullptr,
         {"params", "import", "--yes", "/dev/zero"},
         1,
         "/dev/zero: is a device"},
        {"import a link to a device", [](auto d) { link(d + "in.dat", "/dev/zero"); }, import, 1,
         "is a device"},
        {"import a missing file", nullptr, import, 1, "in.dat: cannot open"},
        {"import 1 GB", [](auto d) { sparse(d + "in.dat", 1ull << 30); }, import, 1,
         "more than the 60 this kind"},
        {"load a pipe", [](auto d) { fifo(d + "Config/x.dat"); }, load, 1,
         "x.dat: is a pipe (FIFO)"},
        {"load a link to a device", [](auto d) { link(d + "Config/x.dat", "/dev/zero"); }, load, 1,
         "is a device"},
        {"load a folder (never listed)", [](auto d) { folder(d + "Config/x.dat"); }, load, 1,
         "no Config file named x.dat"},
        {"load 1 GB", [](auto d) { sparse(d + "Config/x.dat", 1ull << 30); }, load, 1,
         "more than the 60 this kind"},
    });
}

// What the file holds: parameter records of the wrong length.
TEST_F(HostileFiles, RecordFiles) {
    const std::vector<std::string> import = {"params", "import", "--yes", "@in.dat"};
    const std::vector<std::string> load = {"config", "load", "x.dat"};
    run({
        {"import 10 bytes", [](auto d) { bytes(d + "in.dat", zeros(10)); }, import, 1,
         "is 10 bytes; a parameter file to import has 60"},
        {"import an empty file", [](auto d) { bytes(d + "in.dat", {}); }, import, 1, "is 0 bytes"},
        {"import 4097 bytes", [](auto d) { bytes(d + "in.dat", zeros(4097)); }, import, 1,
         "4097 bytes, more than"},
        {"load 55 bytes", [](auto d) { bytes(d + "Config/x.dat", zeros(55)); }, load, 1,
         "is 55 bytes; a parameter file has 56 or 60"},
    });
}

// The virtual printer's state folder: a state file that is there but unusable stops the
// command before anything is asked of the printer (carrying on with defaults would let the
// next SAVE overwrite the stored record); a missing one is a fresh folder.
TEST_F(HostileFiles, VirtualPrinterStateFolder) {
    const std::vector<std::string> show = {"--virtual-printer", "@vp", "params", "show"};
    const std::vector<std::string> job = {"--virtual-printer", "@vp", "pattern", "nozzle"};
    run({
        {"record a folder", [](auto d) { folder(d + "vp/record.bin"); }, show, 1,
         "vp/record.bin: is a folder, not a file"},
        {"record a folder, job", [](auto d) { folder(d + "vp/record.bin"); }, job, 1,
         "vp/record.bin: is a folder"},
        {"record a pipe", [](auto d) { fifo(d + "vp/record.bin"); }, show, 1,
         "vp/record.bin: is a pipe"},
        {"record a device", [](auto d) { link(d + "vp/record.bin", "/dev/zero"); }, show, 1,
         "is a device"},
        {"record short", [](auto d) { bytes(d + "vp/record.bin", zeros(30)); }, show, 1,
         "has 30 bytes; a stored record has 56"},
        {"record long", [](auto d) { bytes(d + "vp/record.bin", zeros(57)); }, job, 1,
         "57 bytes, more than the 56"},
        {"model a folder", [](auto d) { folder(d + "vp/printer.cfg"); }, show, 1,
         "vp/printer.cfg: is a folder"},
        {"model a pipe", [](auto d) { fifo(d + "vp/printer.cfg"); }, job, 1,
         "vp/printer.cfg: is a pipe"},
        {"model 2 MB", [](auto d) { sparse(d + "vp/printer.cfg", 2 << 20); }, show, 1,
         "more than the 1048576"},
        {"model bad line", [](auto d) { text(d + "vp/printer.cfg", "head_flags = 9\n"); }, show, 1,
         "printer.cfg: line 1: bad entry \"head_flags = 9\""},
        {"jobs a file", [](auto d) { text(d + "vp/jobs", "x"); }, job, 1,
         "vp/jobs: is not a folder"},
        {"folder a file", [](auto d) { text(d + "vp", "x"); }, show, 1,
         "vp: cannot be made a folder"},
        {"fresh folder", nullptr, show, 0, "bidirTextHigh"},
        {"record a dangling link",
         [](auto d) {
             folder(d + "vp");
             link(d + "vp/record.bin", d + "gone");
         },
         show, 0, ""},
    });
}

// Every file the program opens, with each thing that can be found at its name instead of the
// file it expects. Reads take regular files only; the program's own files are never written
// through a link; files it creates never replace what has their name but take the next free
// one; and nothing waits on a pipe.
TEST_F(HostileFiles, EveryFileTheProgramOpensTimesWhatCanBePlantedThere) {
    enum Role {
        READ,        // read; what is not a regular file within its cap is refused
        OWN,         // a state file appended to: anything but a regular file is refused
        LOG_APPEND,  // the error log: refused with a word, the job goes on
        CREATE,      // made new: what has the name is kept, the next name taken
        LOCK,        // the folder's lock
        CHOSEN,      // a file the operator names to be replaced: written through their link
    };
    struct Opened {
        const char* name;
        const char* path;
        Role role;
        std::vector<std::string> command;
        const char* next = "";  // CREATE: where the file goes instead
    };
    const std::vector<std::string> job = {"--virtual-printer", "@vp",   "--log-dir", "@log",
                                          "pattern",           "nozzle"};
    const std::vector<std::string> show = {"--virtual-printer", "@vp", "params", "show"};
    const Opened files[] = {
        {"error log", "log/err.txt", LOG_APPEND, job},
        {"trace file", "log/Y20261206_2103.txt", CREATE, job, "log/Y20261206_2103_2.txt"},
        {"job record", "vp/jobs/0001.jsonl", CREATE, job, "vp/jobs/0002.jsonl"},
        {"job picture", "vp/jobs/0001.png", CREATE, job, "vp/jobs/0002.png"},
        {"events between jobs", "vp/events.jsonl", OWN, show},
        {"stored record", "vp/record.bin", READ, show},
        {"model file", "vp/printer.cfg", READ, show},
        {"folder lock", "vp/lock", LOCK, show},
        {"parameter file", "in.dat", READ, {"params", "import", "--yes", "@in.dat"}},
        {"Config file", "Config/x.dat", READ, {"config", "load", "x.dat"}},
        {"Config store",
         "Config/Para_1206_2103.dat",
         CREATE,
         {"--virtual-printer", "@vp", "config", "store"},
         "Config/Para_1206_2103_2.dat"},
        {"export", "out.dat", CHOSEN, {"params", "export", "@out.dat"}},
    };
    enum Kind { PIPE, FOLDER, LINK, DEVICE, HUGE };
    struct Planted {
        const char* name;
        Kind kind;
        void (*make)(const std::string& path, const std::string& dir);
    };
    const Planted planted[] = {
        {"a pipe", PIPE, [](const std::string& p, const std::string&) { fifo(p); }},
        {"a folder", FOLDER, [](const std::string& p, const std::string&) { folder(p); }},
        {"a link to another file", LINK,
         [](const std::string& p, const std::string& d) { link(p, d + "victim"); }},
        {"a link to a device", DEVICE,
         [](const std::string& p, const std::string&) { link(p, "/dev/zero"); }},
        {"a huge file", HUGE,
         [](const std::string& p, const std::string&) { sparse(p, 2ull << 30); }},
    };
    // What each role makes of each kind: status and a piece of the message.
    auto expected = [](Role role, Kind kind, const char* name) -> std::pair<int, std::string> {
        std::string base = std::string(name).substr(std::string(name).rfind('/') + 1);
        switch (role) {
            case READ: {
                const char* says[] = {"is a pipe", "is a folder", "", "is a device", ""};
                // A folder in the Config folder is not listed as a Config file at all.
                if (kind == FOLDER && base == "x.dat") return {1, "no Config file named x.dat"};
                if (kind == HUGE) return {1, base + ": is 2147483648 bytes, more than"};
                return {1, kind == LINK ? "" : base + ": " + says[kind]};
            }
            case OWN:
            case LOG_APPEND: {
                const char* says[] = {"is a pipe", "is a folder", "is a symbolic link",
                                      "is a symbolic link", ""};
                int status = role == OWN && kind != HUGE ? 1 : 0;
                return {status, kind == HUGE ? "" : base + ": " + says[kind]};
            }
            case CREATE:
                return {0, ""};
            case LOCK: {
                const char* says[] = {"is not a regular file", "Is a directory", "symbolic links",
                                      "symbolic links", ""};
                return {kind == HUGE ? 0 : 1, says[kind]};
            }
            case CHOSEN: {
                const char* says[] = {"is a pipe", "is a folder", "", "is a device", ""};
                return {kind == PIPE || kind == FOLDER || kind == DEVICE ? 1 : 0, says[kind]};
            }
        }
        return {0, ""};
    };
    std::vector<std::string> names;  // the rows keep pointers to their names
    names.reserve(2 * std::size(files) * std::size(planted));
    std::vector<HostileRow> rows;
    for (const Opened& f : files) {
        for (const Planted& p : planted) {
            names.push_back(std::string(f.name) + ": " + p.name);
            auto [status, message] = expected(f.role, p.kind, f.path);
            names.push_back(message);
            std::string path = f.path;
            auto make = p.make;
            Role role = f.role;
            Kind kind = p.kind;
            std::string next = f.next;
            rows.push_back(HostileRow{names[names.size() - 2].c_str(),
                                      [path, make](const std::string& d) {
                                          folder(d + "log");
                                          folder(d + "vp/jobs");
                                          folder(d + "Config");
                                          bytes(d + "Config/x.dat", std::vector<uint8_t>(56, 0));
                                          text(d + "victim", "victim\n");
                                          std::filesystem::remove(d + path);
                                          make(d + path, d);
                                      },
                                      f.command, status, names.back().c_str(),
                                      [path, role, kind, next](const std::string& d) {
                                          // Nothing is ever written through a link the operator did
                                          // not choose.
                                          if (role != CHOSEN) {
                                              EXPECT_EQ(readFileBytes(d + "victim"), "victim\n");
                                          }
                                          struct stat st;
                                          if (kind == PIPE) {
                                              ASSERT_EQ(::lstat((d + path).c_str(), &st), 0);
                                              EXPECT_TRUE(S_ISFIFO(st.st_mode))
                                                  << "the pipe was replaced";
                                          }
                                          if (role == CREATE) {
                                              EXPECT_TRUE(fileExists(d + next)) << next;
                                              EXPECT_EQ(::lstat((d + path).c_str(), &st), 0)
                                                  << "what was there is kept";
                                          }
                                      }});
        }
    }
    run(rows);
}

}  // namespace
