#include "stream/file_stream.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "device_fixture.h"
#include "frame/memory.h"
#include "stream/char_stream.h"

namespace {

using mz::CharStream;

// The streams' files are phone paths on the fixture's fresh device.
class FileStreamTest : public DeviceTest {};
constexpr char kPath[] = "\\Temp\\temp.txt";

int g_allocations = 0;

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

// A file that cannot be opened allocates nothing; a stream that cannot be
// allocated closes its file again.
TEST_F(FileStreamTest, OpeningGivesNullWhenTheFileOrTheStreamCannotBeHad) {
  const std::size_t before = OpenDescriptors();
  g_allocations = 0;
  mz::SetAllocationGate([](std::size_t) { return ++g_allocations, false; });
  EXPECT_EQ(mz::FileStream_open("\\Missing\\temp.txt", "w+"), nullptr);
  EXPECT_EQ(mz::FileStream_open("\\Temp\\absent.txt", "r"), nullptr);
  EXPECT_EQ(g_allocations, 0);
  EXPECT_EQ(mz::FileStream_open(kPath, "w+"), nullptr);
  EXPECT_EQ(g_allocations, 1);
  EXPECT_EQ(OpenDescriptors(), before);
  mz::SetAllocationGate(nullptr);
}

// A failed transfer is remembered whatever step of the scratch file's round
// trip it hits: the fwrite, fseek and fread points of the e2e fault table.
TEST_F(FileStreamTest, ReadingAWriteOnlyOrWritingAReadOnlyFileIsAnIoErrorAndTheStreamStaysUsable) {
  CharStream* w = mz::FileStream_open(kPath, "w");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->UngetChar(w), mz::kStreamCannotStepBack);
  EXPECT_FALSE(mz::FileStream_failed(w)) << "stepping back from the start is no failure";
  char into[8];
  EXPECT_EQ(w->Read(w, into, sizeof into), mz::kStreamIoError);
  EXPECT_EQ(w->GetChar(w), mz::kStreamEnd);
  EXPECT_EQ(w->Write(w, "abc", 3), 3);
  w->Close(w);
  CharStream* r = mz::FileStream_open(kPath, "r");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->PutChar(r, 'x'), mz::kStreamIoError);
  EXPECT_EQ(r->Printf(r, "%d", 1), mz::kStreamIoError);
  EXPECT_EQ(r->Seek(r, 0, 0), 0);
  EXPECT_EQ(r->GetChar(r), 'a');
  EXPECT_TRUE(mz::FileStream_failed(r));
  r->Close(r);
}

}  // namespace
