// Hosts that end without MZ_Done, or unload the library without it, each run
// as a process of its own on a fresh device: the process must end cleanly,
// sanitizers' exit-time checks included, and report success.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_fixture.h"
#include "program.h"

namespace {

class UnloadTest : public DeviceTest {};

TEST_F(UnloadTest, HostsThatSkipMzDoneEndCleanly) {
  const struct {
    const char* program;
    const char* mode;
  } cases[] = {
      {EXIT_HOST, "exit"},        // return from main with the session open
      {EXIT_HOST, "callback"},    // the same with a callback registered
      {EXIT_HOST, "unload"},      // dlclose with the session open
      {EXIT_HOST, "reload"},      // MZ_Done, dlclose, then a second load and session
      {UNLOAD_HOST, "unload"},    // dlclose, then a message arrives
      {UNLOAD_HOST, "callback"},  // the same with a callback registered
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + c.mode);
    const ProgramRun run =
        RunProgram({c.program, MZ_LIBRARY, c.mode}, {"PHONE_DEVICE_DIR=" + dir()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
