// SPDX-License-Identifier: Apache-2.0
// The per-case session of every test program (linked into each as an object, so the listener
// registers itself without being named).
#include "support/session_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

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
