// SPDX-License-Identifier: Apache-2.0
// The per-case session of every test program (linked into each as an object, so the listener
// registers itself without being named).
#include "support/session_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "support/fakes.h"

namespace {

std::unique_ptr<Session>& caseSession() {
    static std::unique_ptr<Session> session;
    return session;
}

class SessionPerCase : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        caseSession().reset();
        caseSession() = std::make_unique<Session>();
    }
    void OnTestEnd(const ::testing::TestInfo&) override { caseSession().reset(); }
};

// Locks the programs of one user share (one per printer) go to a folder of this test program's
// own: parallel test programs never wait for each other's printer.
std::string& runtimeDir() {
    static std::string dir;
    return dir;
}

// Every test program keeps its printers' histories in a data folder of its own, never in the
// user's: the programs it starts inherit it.
const bool privateDataFolder = [] {
    static TempDir folder;
#ifdef _WIN32
    _putenv_s("LOCALAPPDATA", folder.path.c_str());
#else
    setenv("XDG_DATA_HOME", folder.path.c_str(), 1);
#endif
    return true;
}();

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new SessionPerCase);
#ifndef _WIN32
    char folder[] = "/tmp/headalign-test-run-XXXXXX";
    if (mkdtemp(folder)) {
        runtimeDir() = folder;
        setenv("XDG_RUNTIME_DIR", folder, 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(runtimeDir(), ec);
        });
    }
#endif
    return true;
}();

}  // namespace

Session& testSession() {
    if (!caseSession()) {
        std::fprintf(stderr, "testSession() outside a test case\n");
        std::abort();
    }
    return *caseSession();
}
