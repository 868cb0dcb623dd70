#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "case_file.h"
#include "frame/memory.h"
#include "stream/abs_file_mem.h"
#include "stream/mem_buf.h"

namespace {

using mz::CharStream;

// The allocation gate records every size asked for and refuses one size, or
// all of them.
std::vector<std::size_t> g_sizes;
std::size_t g_refusedSize = 0;
bool g_refuseAll = false;

bool RecordAllocation(std::size_t bytes) {
  g_sizes.push_back(bytes);
  return !g_refuseAll && bytes != g_refusedSize;
}

class MemoryStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_sizes.clear();
    g_refusedSize = 0;
    g_refuseAll = false;
    mz::SetAllocationGate(&RecordAllocation);
  }
  void TearDown() override {
    mz::SetAllocationGate(nullptr);
    for (CharStream* s : streams_) s->Close(s);
  }

  CharStream* Keep(CharStream* s) {
    if (s != nullptr) streams_.push_back(s);
    return s;
  }
  CharStream* NewMemBuf(int32_t capacity, int32_t scratch = 0) {
    return Keep(mz::MemBuf_create(capacity, scratch));
  }
  CharStream* NewAbsFileMem(char* data, int32_t capacity, int32_t length, int32_t scratch = 0) {
    return Keep(mz::AbsFileMem_create(data, capacity, length, scratch));
  }
  static std::string Data(CharStream* s) { return std::string(mz::MemBuf_data(s), s->Size(s)); }

 private:
  std::vector<CharStream*> streams_;
};

// Each row of memory_streams.tsv: a MemBuf's growth, or Printf through a
// scratch buffer.
class MemoryStreamCase : public MemoryStreamTest, public ::testing::WithParamInterface<CaseRow> {};

TEST_P(MemoryStreamCase, BehavesAsTheRowSays) {
  const CaseRow& row = GetParam();
  if (row[0] == "growth") {
    CharStream* s = NewMemBuf(row.Int(1));
    ASSERT_NE(s, nullptr);
    mz::MemBuf_setDoubling(s, row.Int(2));
    g_sizes.clear();
    const std::string put(row.Int(3), 'p'), written(row.Int(4), 'w');
    for (char c : put) ASSERT_EQ(s->PutChar(s, c), c);
    EXPECT_EQ(s->Write(s, written.data(), row.Int(4)), row.Int(4));
    std::string sizes;
    for (std::size_t size : g_sizes) sizes += (sizes.empty() ? "" : ",") + std::to_string(size);
    EXPECT_EQ(sizes, row.Has(5) ? row[5] : "");
    EXPECT_EQ(Data(s), put + written);
    if (row.Int(4) == 0) {
      EXPECT_EQ(mz::MemBuf_data(s)[row.Int(3)], '\0') << "terminated";
    }
  } else {
    ASSERT_EQ(row[0], "printf");
    const int32_t printed = row.Int(4), result = row.Int(5);
    const auto allocated = static_cast<std::size_t>(row.Int(3));
    g_refusedSize = row.Int(2) == 1 ? allocated : 0;
    g_sizes.clear();
    std::vector<char> block(300, '.');
    CharStream* streams[] = {NewAbsFileMem(block.data(), 300, 0, row.Int(1)),
                             NewMemBuf(64, row.Int(1))};
    EXPECT_EQ(std::count(g_sizes.begin(), g_sizes.end(), allocated), 2) << "one per stream";
    for (CharStream* s : streams) {
      ASSERT_NE(s, nullptr);
      const std::string text(printed, 'v');
      EXPECT_EQ(s->Printf(s, "%s", text.c_str()), result);
      EXPECT_EQ(s->Size(s), result < 0 ? 0 : printed);
      ASSERT_EQ(s->Seek(s, 0, 0), 0);
      std::string back(printed + 1, '-');
      EXPECT_EQ(s->Read(s, back.data(), printed + 1), result < 0 ? 0 : printed);
      if (result >= 0) {
        EXPECT_EQ(back, text + '-');
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, MemoryStreamCase,
                         ::testing::ValuesIn(ReadCases("memory_streams.tsv")), LineName);

TEST_F(MemoryStreamTest, AMemBufWithoutCapacityHasNoBufferAndRefusesEveryWrite) {
  for (int32_t capacity : {0, -1, INT32_MIN}) {
    SCOPED_TRACE(capacity);
    g_sizes.clear();
    CharStream* s = NewMemBuf(capacity);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(g_sizes.size(), 1u) << "only the stream itself";
    EXPECT_EQ(mz::MemBuf_data(s), nullptr);
    EXPECT_EQ(s->PutChar(s, 'a'), mz::kStreamNoRoom);
    EXPECT_EQ(s->Write(s, "abc", 3), mz::kStreamNoRoom);
    EXPECT_EQ(s->Write(s, "", 0), mz::kStreamNoRoom);
    EXPECT_EQ(s->GetChar(s), mz::kStreamEnd);
    EXPECT_EQ(s->Seek(s, 0, 2), 0);
    EXPECT_EQ(s->Size(s), 0);
    EXPECT_EQ(g_sizes.size(), 1u);
  }
}

// Rewriting and seeking back are in the contract's string model.
TEST_F(MemoryStreamTest, MemBufPutCharStoresTheLowByteAndATerminatorWhileWriteStoresNone) {
  CharStream* s = NewMemBuf(16);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->PutChar(s, 'a'), 'a');
  EXPECT_EQ(s->PutChar(s, 0x163), 0x163) << "the argument comes back as given";
  EXPECT_STREQ(mz::MemBuf_data(s), "ac");
  ASSERT_EQ(s->Seek(s, 0, 0), 0);
  EXPECT_EQ(s->Write(s, "1", 1), 1);
  EXPECT_EQ(s->Write(s, "!", -1), mz::kStreamInvalidArgument);
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(Data(s), "1c");
}

// Writes cut at the capacity are the contract's; the bytes beyond stay.
TEST_F(MemoryStreamTest, AbsFileMemPutCharStoresTheLowByteAndANegativeWriteOrNoMemoryIsNoRoom) {
  char block[] = "ab|";
  CharStream* s = NewAbsFileMem(block, 2, 2);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->PutChar(s, 0x158), 0x158) << "the argument comes back as given";
  EXPECT_EQ(s->Write(s, "x", -1), mz::kStreamNoRoom);
  EXPECT_STREQ(block, "Xb|");
  s = NewAbsFileMem(nullptr, 100, 100);  // empty whatever it is told
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(s), 0);
  EXPECT_EQ(s->PutChar(s, 'x'), mz::kStreamNoRoom);
}

TEST_F(MemoryStreamTest, StreamsThatCannotBeAllocatedAreNullAndAMemBufThatCannotGrowGrowsLater) {
  g_refuseAll = true;
  char text[] = "abc";
  EXPECT_EQ(NewAbsFileMem(text, 3, 3), nullptr);
  EXPECT_EQ(NewMemBuf(16), nullptr);
  g_refuseAll = false;
  g_refusedSize = 1000;
  EXPECT_EQ(NewMemBuf(1000, -1), nullptr) << "its buffer could not be had";

  CharStream* s = NewMemBuf(16);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->Write(s, "0123456789abcde", 15), 15);
  const char* before = mz::MemBuf_data(s);
  g_refusedSize = 32;
  EXPECT_EQ(s->PutChar(s, 'f'), mz::kStreamNoRoom);
  EXPECT_EQ(s->Write(s, "f", 1), mz::kStreamNoRoom);
  EXPECT_EQ(mz::MemBuf_data(s), before);
  EXPECT_EQ(Data(s), "0123456789abcde");
  g_refusedSize = 0;
  EXPECT_EQ(s->PutChar(s, 'f'), 'f');
  EXPECT_STREQ(mz::MemBuf_data(s), "0123456789abcdef");
}

// The fatal stop of MemBuf waits 16 seconds first, so only AbsFileMem's is
// run here. The child sends its standard output to the checked stderr; the
// stream sits in a global so the child's leak checker finds it reachable.
CharStream* g_dying = nullptr;

TEST(AbsFileMemDeathTest, PrintfOfATextThatDoesNotFitTheScratchBufferEndsTheProcess) {
  char block[64] = {};
  EXPECT_EXIT(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        g_dying = mz::AbsFileMem_create(block, 64, 0, 8);
        g_dying->Printf(g_dying, "%s", "12345678");
      },
      ::testing::ExitedWithCode(50), "^Fault err on AbsFileMem_printf\n$");
}

}  // namespace
