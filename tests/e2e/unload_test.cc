// The C host (tests/include/header_c_test.c) in processes of its own on a
// fresh device: calling every export, ending without MZ_Done, and unloading
// the library with or without it before a message arrives. Each must end
// cleanly, sanitizers' exit-time checks included, and report success.
#include <gtest/gtest.h>

#include <string>

#include "device_fixture.h"
#include "program.h"

namespace {

class UnloadTest : public DeviceTest {};

TEST_F(UnloadTest, HostsInProcessesOfTheirOwnEndCleanly) {
  // Every export once; return from main with the session open; dlclose with
  // the session open, or after MZ_Done, then a second load and session
  // hearing of a new message. Each first session has a callback registered.
  for (const char* mode : {"calls", "exit", "unload", "reload"}) {
    SCOPED_TRACE(mode);
    const ProgramRun run =
        RunProgram({HEADER_C_TEST, MZ_LIBRARY, mode, PHONECTL}, {"PHONE_DEVICE_DIR=" + dir()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
