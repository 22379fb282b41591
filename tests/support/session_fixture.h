// SPDX-License-Identifier: Apache-2.0
// Every test case runs in a session of its own: a listener installed in every test program
// creates a fresh Session before each case and ends it after, so cases see the program as it
// is at start whatever ran before them in the same process. A case that needs module state
// set up in a particular way sets the fields of its session.
#pragma once
#include <gtest/gtest.h>

#include "app/session.h"
#include "support/restart_state.h"

// The session of the running case.
Session& testSession();

// A fixture for cases that reach into their session; `session` is the case's own.
class SessionTest : public ::testing::Test {
  protected:
    Session& session = testSession();
};
