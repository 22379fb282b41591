// Every test case runs in a session of its own: a listener installed in every test program
// creates a fresh Session before each case and ends it after, so cases see the program as it
// is at start whatever ran before them in the same process. A case that needs module state
// set up in a particular way sets the fields of its session.
#pragma once
#include <gtest/gtest.h>

#include <new>

#include "app/session.h"

// The session of the running case.
Session& testSession();

// Puts one module's state of the running case back to its start, for a case that runs several
// rounds (the other modules keep theirs).
template <typename State>
void restartState() {
    State& s = OwnedState<State>::get();
    s.~State();
    ::new (static_cast<void*>(&s)) State();
}

// A fixture for cases that reach into their session; `session` is the case's own.
class SessionTest : public ::testing::Test {
  protected:
    Session& session = testSession();
};
