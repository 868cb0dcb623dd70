#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "char_stream_contract.h"
#include "frame/memory.h"
#include "stream/abs_file_mem.h"
#include "stream/mem_buf.h"

namespace {

using mz::CharStream;

constexpr int32_t kRoom = 16;

// Each stream wraps its own block, the bytes followed by kRoom free bytes.
template <int32_t kScratch>
class AbsFileMemMaker : public StreamMaker {
 public:
  CharStream* Make(const std::string& bytes) override {
    const auto length = static_cast<int32_t>(bytes.size());
    blocks_.push_back(std::make_unique<char[]>(bytes.size() + kRoom));
    std::memcpy(blocks_.back().get(), bytes.data(), bytes.size());
    return mz::AbsFileMem_create(blocks_.back().get(), length + kRoom, length, kScratch);
  }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
};

// Each stream is filled through Write from a small buffer, so it grows.
template <int32_t kCapacity, int kDoubling, int32_t kScratch>
class MemBufMaker : public StreamMaker {
 public:
  CharStream* Make(const std::string& bytes) override {
    CharStream* s = mz::MemBuf_create(kCapacity, kScratch);
    if (s == nullptr) return nullptr;
    mz::MemBuf_setDoubling(s, kDoubling);
    const auto size = static_cast<int32_t>(bytes.size());
    if (s->Write(s, bytes.data(), size) != size || s->Seek(s, 0, 0) != 0) {
      s->Close(s);
      return nullptr;
    }
    return s;
  }
};

template <typename Maker>
std::unique_ptr<StreamMaker> New() {
  return std::make_unique<Maker>();
}

constexpr StreamDifferences kAbsFileMem = {.seekBeforeStart = mz::kStreamIoError,
                                           .seekPastEnd = mz::kStreamIoError,
                                           .unknownOrigin = mz::kStreamInvalidArgument,
                                           .negativeRead = 0,
                                           .printfRefusal = mz::kStreamNoScratch,
                                           .room = kRoom};
constexpr StreamDifferences kMemBuf = {.seekBeforeStart = mz::kStreamInvalidArgument,
                                       .seekPastEnd = mz::kStreamInvalidArgument,
                                       .unknownOrigin = mz::kStreamBadOrigin,
                                       .negativeRead = -5,
                                       .printfRefusal = mz::kStreamNoScratch,
                                       .room = std::nullopt};

StreamDifferences WithScratch(StreamDifferences differences) {
  differences.printfRefusal.reset();
  return differences;
}

INSTANTIATE_TEST_SUITE_P(
    MemoryStreams, CharStreamContract,
    ::testing::Values(CharStreamKind{"AbsFileMem", &New<AbsFileMemMaker<0>>, kAbsFileMem},
                      CharStreamKind{"AbsFileMemWithScratch", &New<AbsFileMemMaker<-1>>,
                                     WithScratch(kAbsFileMem)},
                      CharStreamKind{"MemBuf", &New<MemBufMaker<16, 0, 0>>, kMemBuf},
                      CharStreamKind{"DoublingMemBufWithScratch", &New<MemBufMaker<1, 1, 64>>,
                                     WithScratch(kMemBuf)}),
    [](const auto& info) { return std::string(info.param.name); });

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

TEST_F(MemoryStreamTest, MemBufGrowsToTheMultipleOfSixteenAboveOrByDoublingWhenThatIsEnough) {
  const struct {
    int32_t capacity;
    int doubling;  // the MemBuf_setDoubling mode
    int32_t putChars;
    int32_t writeBytes;  // written after the PutChar bytes
    std::vector<std::size_t> buffers;
  } cases[] = {
      {16, 0, 15, 0, {}},       {16, 1, 15, 0, {}},       {16, 0, 16, 0, {32}},
      {16, 1, 16, 0, {32}},     {16, 0, 33, 0, {32, 48}}, {16, 1, 33, 0, {32, 64}},
      {16, 2, 33, 0, {32, 48}}, {100, 0, 0, 200, {208}},  {100, 1, 0, 200, {208}},
      {100, 0, 0, 150, {160}},  {100, 1, 0, 150, {200}},  {1, 1, 1, 0, {2}},
      {1, 0, 1, 0, {16}},       {16, 0, 5, 10, {}},       {16, 0, 5, 11, {32}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "capacity " << c.capacity << " doubling " << c.doubling
                                      << " putChars " << c.putChars << " write " << c.writeBytes);
    CharStream* s = NewMemBuf(c.capacity);
    ASSERT_NE(s, nullptr);
    mz::MemBuf_setDoubling(s, c.doubling);
    g_sizes.clear();
    std::string expected;
    for (int32_t i = 0; i < c.putChars; ++i) {
      expected.push_back(static_cast<char>('a' + i % 26));
      ASSERT_EQ(s->PutChar(s, expected.back()), expected.back());
    }
    const std::string block(c.writeBytes, '#');
    EXPECT_EQ(s->Write(s, block.data(), c.writeBytes), c.writeBytes);
    expected += block;
    EXPECT_EQ(g_sizes, c.buffers);
    EXPECT_EQ(Data(s), expected);
    if (c.writeBytes == 0) {
      EXPECT_EQ(mz::MemBuf_data(s)[c.putChars], '\0') << "terminated";
    }
  }
}

TEST_F(MemoryStreamTest, AFixedMemBufRefusesWhatExceedsItsCapacityAndKeepsItsData) {
  CharStream* s = NewMemBuf(16);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->Write(s, "0123456789", 10), 10);
  mz::MemBuf_fixSize(s);
  mz::MemBuf_setDoubling(s, 1);
  g_sizes.clear();
  EXPECT_EQ(s->Write(s, "abcdef", 6), mz::kStreamNoRoom) << "needs 17 bytes";
  EXPECT_EQ(s->Write(s, "abcde", 5), 5);
  EXPECT_EQ(s->PutChar(s, 'z'), mz::kStreamNoRoom);
  EXPECT_EQ(s->Write(s, "", 0), 0) << "the terminator's byte is still there";
  EXPECT_EQ(Data(s), "0123456789abcde");
  EXPECT_TRUE(g_sizes.empty());
}

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

TEST_F(MemoryStreamTest, MemBufPutCharStoresTheLowByteAndATerminatorWhileWriteStoresNone) {
  CharStream* s = NewMemBuf(16);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->PutChar(s, 'a'), 'a');
  EXPECT_EQ(s->PutChar(s, 'b'), 'b');
  EXPECT_EQ(s->PutChar(s, 0x163), 0x163) << "the argument comes back as given";
  EXPECT_STREQ(mz::MemBuf_data(s), "abc");
  // The soft-break step of the folded-value reader: back one, then put.
  ASSERT_EQ(s->Seek(s, -1, 1), 0);
  EXPECT_EQ(s->PutChar(s, 'x'), 'x');
  EXPECT_STREQ(mz::MemBuf_data(s), "abx");
  // Further back, the following bytes survive.
  ASSERT_EQ(s->Seek(s, 0, 0), 0);
  EXPECT_EQ(s->Write(s, "12", 2), 2);
  EXPECT_STREQ(mz::MemBuf_data(s), "12x");
  EXPECT_EQ(s->Write(s, "!", -1), mz::kStreamInvalidArgument);
  EXPECT_EQ(s->Tell(s), 2);
  EXPECT_EQ(Data(s), "12x");
}

// Both streams are seeded with "abc" and positioned at `from`.
TEST_F(MemoryStreamTest, SeeksOutsideTheDataOrFromAnUnknownOriginAreRefusedWithoutMoving) {
  const struct {
    int32_t from, offset, origin;
    int32_t absFileMem, memBuf;  // results
  } cases[] = {
      {1, 0, -1, mz::kStreamInvalidArgument, mz::kStreamBadOrigin},
      {1, -4, 2, mz::kStreamIoError, mz::kStreamInvalidArgument},
      {3, 1, 1, mz::kStreamIoError, mz::kStreamInvalidArgument},
      {3, INT32_MAX, 1, mz::kStreamIoError, mz::kStreamInvalidArgument},
      {3, INT32_MIN, 2, mz::kStreamIoError, mz::kStreamInvalidArgument},
      {1, 3, 0, 0, 0},
      {3, -3, 2, 0, 0},
      {2, -2, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.from << " by " << c.offset << " from " << c.origin);
    char text[] = "abc";
    CharStream* streams[] = {NewAbsFileMem(text, 3, 3), NewMemBuf(16)};
    ASSERT_EQ(streams[1]->Write(streams[1], "abc", 3), 3);
    const int32_t expected[] = {c.absFileMem, c.memBuf};
    for (int i = 0; i < 2; ++i) {
      CharStream* s = streams[i];
      ASSERT_EQ(s->Seek(s, c.from, 0), 0);
      EXPECT_EQ(s->Seek(s, c.offset, c.origin), expected[i]) << i;
      const int32_t base = c.origin == 0 ? 0 : c.origin == 1 ? c.from : 3;
      EXPECT_EQ(s->Tell(s), expected[i] == 0 ? base + c.offset : c.from);
    }
  }
}

TEST_F(MemoryStreamTest,
       AbsFileMemCutsWritesAtItsCapacityNeverTouchesTheBytesBeyondAndOverNoMemoryIsEmpty) {
  char block[] = "ab......|";
  CharStream* s = NewAbsFileMem(block, 6, 2);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->Seek(s, 0, 2), 0);
  EXPECT_EQ(s->Write(s, "0123456789", 10), 4);
  EXPECT_STREQ(block, "ab0123..|");
  ASSERT_EQ(s->Seek(s, 1, 0), 0);
  EXPECT_EQ(s->PutChar(s, 0x158), 0x158) << "the argument comes back as given";
  EXPECT_EQ(s->Write(s, "x", -1), mz::kStreamNoRoom);
  EXPECT_STREQ(block, "aX0123..|");
  EXPECT_EQ(s->Size(s), 6);
  // Over no memory it is empty whatever it is told.
  s = NewAbsFileMem(nullptr, 100, 100);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(s), 0);
  EXPECT_EQ(s->PutChar(s, 'x'), mz::kStreamNoRoom);
  EXPECT_EQ(s->GetChar(s), mz::kStreamEnd);
}

TEST_F(MemoryStreamTest, PrintfFormatsThroughAScratchBufferOfTheSizeAskedForOrRefuses) {
  const struct {
    int32_t scratchSize;
    bool refused;           // the scratch allocation fails
    std::size_t allocated;  // the scratch size asked for
    int32_t printed;        // characters the format produces
    int32_t result;
  } cases[] = {
      {-1, false, 256, 255, 255},
      {INT32_MIN, false, 256, 1, 1},
      {8, false, 8, 7, 7},
      {1, false, 1, 0, 0},
      {8, true, 8, 3, mz::kStreamScratchLost},
      {-1, true, 256, 3, mz::kStreamScratchLost},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "scratch " << c.scratchSize << " refused " << c.refused);
    g_refusedSize = c.refused ? c.allocated : 0;
    g_sizes.clear();
    std::vector<char> block(300, '.');
    CharStream* streams[] = {NewAbsFileMem(block.data(), 300, 0, c.scratchSize),
                             NewMemBuf(64, c.scratchSize)};
    EXPECT_EQ(std::count(g_sizes.begin(), g_sizes.end(), c.allocated), 2) << "one per stream";
    for (CharStream* s : streams) {
      ASSERT_NE(s, nullptr);
      const std::string text(c.printed, 'v');
      EXPECT_EQ(s->Printf(s, "%s", text.c_str()), c.result);
      EXPECT_EQ(s->Size(s), c.result < 0 ? 0 : c.printed);
      ASSERT_EQ(s->Seek(s, 0, 0), 0);
      std::string back(c.printed + 1, '-');
      EXPECT_EQ(s->Read(s, back.data(), c.printed + 1), c.result < 0 ? 0 : c.printed);
      if (c.result >= 0) {
        EXPECT_EQ(back, text + '-');
      }
    }
  }
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
