// Hosts run as processes of their own on a fresh device: the C host calling
// every export, and hosts that end without MZ_Done or unload the library
// without it. Each must end cleanly, sanitizers' exit-time checks included,
// and report success.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_fixture.h"
#include "program.h"

namespace {

class UnloadTest : public DeviceTest {};

TEST_F(UnloadTest, HostsInProcessesOfTheirOwnEndCleanly) {
  const struct {
    const char* program;
    const char* mode;
  } cases[] = {
      {HEADER_C_TEST, "calls"},     // every export once
      {HEADER_C_TEST, "exit"},      // return from main with the session open
      {HEADER_C_TEST, "callback"},  // the same with a callback registered
      {HEADER_C_TEST, "unload"},    // dlclose with the session open
      {HEADER_C_TEST, "reload"},    // MZ_Done, dlclose, then a second load and session
      {UNLOAD_HOST, "unload"},      // dlclose, then a message arrives
      {UNLOAD_HOST, "callback"},    // the same with a callback registered
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
