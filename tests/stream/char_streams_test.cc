// The CharStream implementations. CharStreamContract: the behaviour every
// CharStream shares, run over each implementation (FileStream, AbsFileMem,
// MemBuf, with and without a scratch buffer for Printf), on a fresh device;
// a StreamDifferences says where they may differ, and the suite always seeks
// between writing and reading, as standard I/O asks. Then what is each
// stream's own: the memory streams' growth, scratch and allocation failures,
// the file stream's opening and modes.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/memory.h"
#include "case_file.h"
#include "device_fixture.h"
#include "stream/abs_file_mem.h"
#include "stream/char_stream.h"
#include "stream/file_stream.h"
#include "stream/mem_buf.h"

namespace {

using mz::CharStream;
using mz::kStreamEnd;

// Where implementations may differ; the defaults are those of FileStream.
struct StreamDifferences {
  int32_t seekBeforeStart = mz::kStreamIoError;
  int32_t seekPastEnd = 0;  // 0: allowed, and Tell then gives the target
  int32_t unknownOrigin = mz::kStreamIoError;
  int32_t negativeRead = mz::kStreamIoError;  // Read of -5 bytes in the data
  // Set when Printf refuses (with this code) and writes nothing.
  std::optional<int32_t> printfRefusal;
  // Set when the stream takes only this many bytes past its data (at least
  // 16): PutChar beyond gives kStreamNoRoom and Write is cut short.
  std::optional<int32_t> room;
};

struct CharStreamKind {
  const char* name;
  // A stream holding the bytes of `block` (which it may keep), positioned at
  // 0; or null.
  CharStream* (*make)(std::vector<char>& block);
  StreamDifferences differences;
};

// `s` (null or not) filled with `bytes` through Write, flushed and rewound;
// null, and closed, when that fails.
CharStream* Filled(CharStream* s, const std::vector<char>& bytes) {
  const auto size = static_cast<int32_t>(bytes.size());
  if (s == nullptr ||
      (s->Write(s, bytes.data(), size) == size && s->Flush(s) == 0 && s->Seek(s, 0, 0) == 0)) {
    return s;
  }
  s->Close(s);
  return nullptr;
}

// A new file, filled the way the exports fill the scratch file: opened "w+",
// written, flushed and rewound.
CharStream* MakeFileStream(std::vector<char>& block) {
  return Filled(mz::FileStream_open("\\Temp\\contract", "w+"), block);
}

constexpr int32_t kRoom = 16;

// Over the block itself, grown by exactly kRoom free bytes.
template <int32_t kScratch>
CharStream* MakeAbsFileMem(std::vector<char>& block) {
  const auto length = static_cast<int32_t>(block.size());
  block.resize(block.size() + kRoom);
  return mz::AbsFileMem_create(block.data(), length + kRoom, length, kScratch);
}

// Filled through Write from a small buffer, so it grows.
template <int32_t kCapacity, int kDoubling, int32_t kScratch>
CharStream* MakeMemBuf(std::vector<char>& block) {
  CharStream* s = mz::MemBuf_create(kCapacity, kScratch);
  if (s != nullptr) mz::MemBuf_setDoubling(s, kDoubling);
  return Filled(s, block);
}

// In the order of StreamDifferences' fields.
constexpr StreamDifferences kAbsFileMem = {mz::kStreamIoError,         mz::kStreamIoError,
                                           mz::kStreamInvalidArgument, 0,
                                           mz::kStreamNoScratch,       kRoom};
constexpr StreamDifferences kMemBuf = {mz::kStreamInvalidArgument, mz::kStreamInvalidArgument,
                                       mz::kStreamBadOrigin,       -5,
                                       mz::kStreamNoScratch,       std::nullopt};

StreamDifferences WithScratch(StreamDifferences differences) {
  differences.printfRefusal.reset();
  return differences;
}

class CharStreamContract : public DeviceTest, public testing::WithParamInterface<CharStreamKind> {
 protected:
  void TearDown() override {
    if (stream_ != nullptr) stream_->Close(stream_);
    DeviceTest::TearDown();
  }

  // A stream holding `bytes`, closed with the next or after the test.
  CharStream* Open(const std::string& bytes) {
    if (stream_ != nullptr) stream_->Close(stream_);
    block_.assign(bytes.begin(), bytes.end());
    return stream_ = GetParam().make(block_);
  }
  const StreamDifferences& differences() const { return GetParam().differences; }

 private:
  std::vector<char> block_;
  CharStream* stream_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(
    Streams, CharStreamContract,
    testing::Values(
        CharStreamKind{"FileStream", &MakeFileStream, {}},
        CharStreamKind{"AbsFileMem", &MakeAbsFileMem<0>, kAbsFileMem},
        CharStreamKind{"AbsFileMemWithScratch", &MakeAbsFileMem<-1>, WithScratch(kAbsFileMem)},
        CharStreamKind{"MemBuf", &MakeMemBuf<16, 0, 0>, kMemBuf},
        CharStreamKind{"DoublingMemBufWithScratch", &MakeMemBuf<1, 1, 64>, WithScratch(kMemBuf)}),
    [](const auto& info) { return std::string(info.param.name); });

// UngetChar refuses at the start and works after the end was met. (Bytes
// coming back unsigned and the end staying the end are in the string model.)
TEST_P(CharStreamContract, GetCharAndUngetCharAtTheEdgesOfTheData) {
  CharStream* s = Open(std::string{'\0', '\xff', 'a'});
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->UngetChar(s), mz::kStreamCannotStepBack) << "at the start";
  EXPECT_EQ(s->Tell(s), 0);
  EXPECT_EQ(s->Seek(s, 2, 0), 0);
  EXPECT_EQ(s->GetChar(s), 'a');
  EXPECT_EQ(s->GetChar(s), kStreamEnd);
  EXPECT_EQ(s->UngetChar(s), 0) << "after the end";
  EXPECT_EQ(s->GetChar(s), 'a');
}

// What each stream refuses, and that a refusal leaves the position: a
// negative Read, seeks outside the data or from an unknown origin, Printf
// without scratch.
TEST_P(CharStreamContract, RefusalsLeaveThePosition) {
  CharStream* s = Open("0123456789");
  ASSERT_NE(s, nullptr);
  std::vector<char> into(16, '-');
  EXPECT_EQ(s->Read(s, into.data(), -5), differences().negativeRead);
  EXPECT_EQ(into[0], '-');
  EXPECT_EQ(s->Tell(s), 0);
  ASSERT_EQ(s->Seek(s, 1, 0), 0);
  EXPECT_EQ(s->Seek(s, -1, 0), differences().seekBeforeStart);
  EXPECT_EQ(s->Seek(s, 0, 3), differences().unknownOrigin);
  EXPECT_EQ(s->Seek(s, 0, -1), differences().unknownOrigin);
  EXPECT_EQ(s->Seek(s, -11, 2), differences().seekBeforeStart);
  if (differences().seekPastEnd != 0) {  // also where the sum overflows
    EXPECT_EQ(s->Seek(s, INT32_MAX, 1), differences().seekPastEnd);
    EXPECT_EQ(s->Seek(s, INT32_MIN, 2), differences().seekBeforeStart);
  }
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(s->Seek(s, 15, 0), differences().seekPastEnd);
  EXPECT_EQ(s->Tell(s), differences().seekPastEnd == 0 ? 15 : 1);
  EXPECT_EQ(s->Size(s), 10);
  if (differences().printfRefusal) {
    EXPECT_EQ(s->Printf(s, "TEL:%d", 42), *differences().printfRefusal);
    EXPECT_EQ(s->Size(s), 10);
  }
}

// Seeded random sequences of every operation against a std::string model of
// the data and the position. Seeks stay inside the data; the stream is
// positioned (Seek by 0 from the current position) between writing and
// reading, as standard I/O asks, writes flushed first; UngetChar only
// follows a GetChar that gave a byte; a stream with room takes bytes only up
// to it, PutChar beyond giving kStreamNoRoom and Write cut short.
TEST_P(CharStreamContract, RandomOperationsMatchAStringModel) {
  enum Op { kGet, kUnget, kRead, kPut, kWrite, kPrintf, kSeek, kTell, kFlush, kOps };
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 random(seed);
    auto next = [&](std::size_t n) { return static_cast<int32_t>(random() % n); };
    std::string model;
    for (int32_t n = next(40); n > 0; --n) model += static_cast<char>(next(256));
    CharStream* s = Open(model);
    ASSERT_NE(s, nullptr);
    const std::size_t limit = differences().room ? model.size() + *differences().room : SIZE_MAX;
    std::size_t pos = 0;
    bool afterByte = false;  // the last operation was a GetChar that gave a byte
    int direction = 0;       // 1 after reading, 2 after writing, 0 after a seek
    // Writes `bytes` at the position the way the stream must: cut at the room.
    auto written = [&](const std::string& bytes) {
      const std::size_t n = std::min(bytes.size(), limit - std::min(limit, pos));
      model.replace(pos, std::min(n, model.size() - pos), bytes.substr(0, n));
      pos += n;
      return static_cast<int32_t>(n);
    };
    for (int step = 0; step < 400; ++step) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " step " << step);
      const int op = next(kOps);
      const int wants = op <= kRead ? 1 : op <= kPrintf ? 2 : 0;
      // Writes are flushed before any seek: the phone's files lose the
      // position when a seek from the current position follows unflushed
      // writes.
      if (direction == 2 && (op == kSeek || wants == 1)) {
        ASSERT_EQ(s->Flush(s), 0);
      }
      if (wants != 0 && direction != 0 && wants != direction) {
        ASSERT_EQ(s->Seek(s, 0, 1), 0);
      }
      if (wants != 0) direction = wants;
      const bool mayUnget = afterByte;
      afterByte = false;
      switch (op) {
        case kGet: {
          const int32_t byte = s->GetChar(s);
          afterByte = pos < model.size();
          ASSERT_EQ(byte, afterByte ? static_cast<unsigned char>(model[pos++]) : kStreamEnd);
          break;
        }
        case kUnget:
          if (mayUnget) {
            ASSERT_EQ(s->UngetChar(s), 0);
            --pos;
          }
          break;
        case kRead: {
          const int32_t count = next(24) + 1;
          std::string into(count, '\0');
          const auto n = static_cast<int32_t>(std::min<std::size_t>(count, model.size() - pos));
          ASSERT_EQ(s->Read(s, into.data(), count), n);
          ASSERT_EQ(into.substr(0, n), model.substr(pos, n));
          pos += n;
          break;
        }
        case kPut: {
          const int byte = next(256);
          ASSERT_EQ(s->PutChar(s, byte), written(std::string(1, static_cast<char>(byte))) == 1
                                             ? byte
                                             : mz::kStreamNoRoom);
          break;
        }
        case kWrite: {
          std::string bytes;
          for (int32_t n = next(24); n > 0; --n) bytes += static_cast<char>(next(256));
          ASSERT_EQ(s->Write(s, bytes.data(), static_cast<int32_t>(bytes.size())), written(bytes));
          break;
        }
        case kPrintf:
          if (!differences().printfRefusal) {
            const int32_t number = next(100000);
            ASSERT_EQ(s->Printf(s, "N%d;", number), written("N" + std::to_string(number) + ";"));
          }
          break;
        case kSeek: {
          const auto target = static_cast<std::size_t>(next(model.size() + 1));
          const int32_t origin = next(3);
          const std::size_t base = origin == 0 ? 0 : origin == 1 ? pos : model.size();
          ASSERT_EQ(s->Seek(s, static_cast<int32_t>(target - base), origin), 0);
          pos = target;
          direction = 0;
          break;
        }
        case kTell:
          ASSERT_EQ(s->Tell(s), static_cast<int32_t>(pos));
          ASSERT_EQ(s->Size(s), static_cast<int32_t>(model.size()));
          break;
        case kFlush:
          ASSERT_EQ(s->Flush(s), 0);
          break;
      }
    }
    ASSERT_EQ(s->Seek(s, 0, 0), 0);
    std::string back;
    for (int32_t byte; (byte = s->GetChar(s)) >= 0;) back.push_back(static_cast<char>(byte));
    EXPECT_EQ(back, model);
  }
}

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
    CharStream* s = Keep(mz::MemBuf_create(row.Int(1), 0));
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
    g_refusedSize = row.Int(2) == 1 ? row.Int(3) : 0;
    g_sizes.clear();
    char block[300];
    CharStream* streams[] = {Keep(mz::AbsFileMem_create(block, 300, 0, row.Int(1))),
                             Keep(mz::MemBuf_create(64, row.Int(1)))};
    EXPECT_EQ(std::count(g_sizes.begin(), g_sizes.end(), static_cast<std::size_t>(row.Int(3))), 2)
        << "one per stream";
    const std::string text(printed, 'v');
    for (CharStream* s : streams) {
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->Printf(s, "%s", text.c_str()), result);
      ASSERT_EQ(s->Seek(s, 0, 0), 0);
      std::string back(printed + 1, '-');
      EXPECT_EQ(s->Read(s, back.data(), printed + 1), result < 0 ? 0 : printed);
      EXPECT_EQ(back, result < 0 ? std::string(printed + 1, '-') : text + '-');
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, MemoryStreamCase, Cases("memory_streams.tsv"), LineName);

TEST_F(MemoryStreamTest, AMemBufWithoutCapacityHasNoBufferAndRefusesEveryWrite) {
  for (int32_t capacity : {0, -1, INT32_MIN}) {
    SCOPED_TRACE(capacity);
    g_sizes.clear();
    CharStream* s = Keep(mz::MemBuf_create(capacity, 0));
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

// PutChar stores the low byte, in a MemBuf with a terminator while Write
// stores none; AbsFileMem takes a negative Write or no memory as no room.
// Rewriting and seeking back are in the contract's string model.
TEST_F(MemoryStreamTest, PutCharStoresTheLowByteAndBadWritesAreRefused) {
  CharStream* s = Keep(mz::MemBuf_create(16, 0));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->PutChar(s, 'a'), 'a');
  EXPECT_EQ(s->PutChar(s, 0x163), 0x163) << "the argument comes back as given";
  EXPECT_STREQ(mz::MemBuf_data(s), "ac");
  ASSERT_EQ(s->Seek(s, 0, 0), 0);
  EXPECT_EQ(s->Write(s, "1", 1), 1);
  EXPECT_EQ(s->Write(s, "!", -1), mz::kStreamInvalidArgument);
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(Data(s), "1c");
  // AbsFileMem: writes cut at the capacity are the contract's; the bytes
  // beyond stay.
  char block[] = "ab|";
  s = Keep(mz::AbsFileMem_create(block, 2, 2, 0));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->PutChar(s, 0x158), 0x158) << "the argument comes back as given";
  EXPECT_EQ(s->Write(s, "x", -1), mz::kStreamNoRoom);
  EXPECT_STREQ(block, "Xb|");
  s = Keep(mz::AbsFileMem_create(nullptr, 100, 100, 0));  // empty whatever it is told
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(s), 0);
  EXPECT_EQ(s->PutChar(s, 'x'), mz::kStreamNoRoom);
}

TEST_F(MemoryStreamTest, StreamsThatCannotBeAllocatedAreNullAndAMemBufThatCannotGrowGrowsLater) {
  g_refuseAll = true;
  char text[] = "abc";
  EXPECT_EQ(Keep(mz::AbsFileMem_create(text, 3, 3, 0)), nullptr);
  EXPECT_EQ(Keep(mz::MemBuf_create(16, 0)), nullptr);
  g_refuseAll = false;
  g_refusedSize = 1000;
  EXPECT_EQ(Keep(mz::MemBuf_create(1000, -1)), nullptr) << "its buffer could not be had";

  CharStream* s = Keep(mz::MemBuf_create(16, 0));
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

// The streams' files are phone paths on the fixture's fresh device.
class FileStreamTest : public DeviceTest {};
constexpr char kPath[] = "\\Temp\\temp.txt";

auto OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// A file that cannot be opened allocates nothing; a stream that cannot be
// allocated closes its file again.
TEST_F(FileStreamTest, OpeningGivesNullWhenTheFileOrTheStreamCannotBeHad) {
  const auto before = OpenDescriptors();
  g_sizes.clear();
  g_refuseAll = true;
  mz::SetAllocationGate(&RecordAllocation);
  EXPECT_EQ(mz::FileStream_open("\\Missing\\temp.txt", "w+"), nullptr);
  EXPECT_EQ(mz::FileStream_open("\\Temp\\absent.txt", "r"), nullptr);
  EXPECT_TRUE(g_sizes.empty());
  EXPECT_EQ(mz::FileStream_open(kPath, "w+"), nullptr);
  EXPECT_EQ(g_sizes.size(), 1u);
  EXPECT_EQ(OpenDescriptors(), before);
  mz::SetAllocationGate(nullptr);
}

// Reading across the blocks the stream reads ahead: stepping back up to
// three bytes (past the start of a block too), Tell, Size and a write that
// follows reads with no seek between all keep to the stream's position.
TEST_F(FileStreamTest, ReadingAheadKeepsThePositionOfTheStream) {
  std::string model(10000, '\0');
  for (std::size_t i = 0; i < model.size(); ++i) model[i] = static_cast<char>(i * 7 % 251);
  CharStream* s = Filled(mz::FileStream_open(kPath, "w+"), {model.begin(), model.end()});
  ASSERT_NE(s, nullptr);
  for (int32_t pos = 0; pos < 9000;) {
    ASSERT_EQ(s->GetChar(s), static_cast<unsigned char>(model[pos++])) << pos;
    const int32_t back = pos > 3 && pos % 4095 < 3 ? 3 : pos % 1000 == 0 ? 1 : 0;
    if (back == 0) continue;
    for (int32_t i = 0; i < back; ++i) ASSERT_EQ(s->UngetChar(s), 0) << pos;
    ASSERT_EQ(s->Tell(s), pos - back);
    ASSERT_EQ(s->Size(s), 10000);
    for (int32_t i = back; i > 0; --i) {
      ASSERT_EQ(s->GetChar(s), static_cast<unsigned char>(model[pos - i])) << pos;
    }
    if (pos == 6000) {
      ASSERT_EQ(s->Write(s, "XYZ", 3), 3);
      model.replace(6000, 3, "XYZ");
      pos += 3;
      ASSERT_EQ(s->Seek(s, 0, 1), 0);
    }
  }
  ASSERT_EQ(s->Seek(s, 0, 0), 0);
  std::string back(model.size(), '\0');
  EXPECT_EQ(s->Read(s, back.data(), 10000), 10000);
  EXPECT_EQ(back, model);
  EXPECT_FALSE(mz::FileStream_failed(s));
  s->Close(s);
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
