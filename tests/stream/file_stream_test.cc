#include "stream/file_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>

#include "device_fixture.h"
#include "frame/memory.h"
#include "platform/emulator.h"
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

TEST_F(FileStreamTest, ReadingAWriteOnlyOrWritingAReadOnlyFileIsAnIoErrorAndTheStreamStaysUsable) {
  CharStream* w = mz::FileStream_open(kPath, "w");
  ASSERT_NE(w, nullptr);
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

// The scratch file's round trip (write, flush, rewind, read back) with one
// transfer of the phone's C runtime failing: the stream remembers it
// whichever step it hit, also where the step's own result looks fine.
TEST_F(FileStreamTest, AFailedTransferAnywhereInTheRoundTripIsRemembered) {
  const struct {
    const char* point;
    int nth;
  } cases[] = {{nullptr, 0}, {"fwrite", 1}, {"fseek", 1}, {"fseek", 2}, {"fread", 1}};
  for (const auto& c : cases) {
    if (c.point != nullptr) emulator::InjectFault(c.point, c.nth, ENOSPC);
    CharStream* s = mz::FileStream_open(kPath, "w+");
    ASSERT_NE(s, nullptr);
    // Stepping back from the start is no failure.
    EXPECT_EQ(s->UngetChar(s), mz::kStreamCannotStepBack);
    s->Write(s, "BEGIN:VCARD\r\n", 13);
    s->Flush(s);
    s->Seek(s, 0, 0);
    std::string back;
    for (int32_t b; (b = s->GetChar(s)) >= 0;) back.push_back(static_cast<char>(b));
    EXPECT_EQ(mz::FileStream_failed(s), c.point != nullptr) << (c.point ? c.point : "none");
    if (!mz::FileStream_failed(s)) {
      EXPECT_EQ(back, "BEGIN:VCARD\r\n");
    }
    s->Close(s);
    if (c.point != nullptr) {
      EXPECT_GE(emulator::CallCount(c.point), c.nth) << c.point;
    }
  }
}

}  // namespace
