#include "char_stream_contract.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using mz::CharStream;
using mz::kStreamEnd;

CharStream* Filled(CharStream* s, const std::string& bytes) {
  const auto size = static_cast<int32_t>(bytes.size());
  if (s == nullptr ||
      (s->Write(s, bytes.data(), size) == size && s->Flush(s) == 0 && s->Seek(s, 0, 0) == 0)) {
    return s;
  }
  s->Close(s);
  return nullptr;
}

void CharStreamContract::TearDown() {
  for (CharStream* stream : streams_) stream->Close(stream);
  streams_.clear();
  store_ = {};
}

CharStream* CharStreamContract::Open(const std::string& bytes) {
  CharStream* stream = GetParam().make(store_, bytes);
  if (stream != nullptr) streams_.push_back(stream);
  return stream;
}

namespace {

std::string ReadAll(CharStream* s) {
  std::string text;
  for (int32_t byte; (byte = s->GetChar(s)) >= 0;) text.push_back(static_cast<char>(byte));
  return text;
}

}  // namespace

// Bytes come back unsigned; UngetChar refuses at the start and works after
// the end was met, which stays the end.
TEST_P(CharStreamContract, GetCharAndUngetCharAtTheEdgesOfTheData) {
  CharStream* s = Open(std::string{'\0', '\xff', 'a'});
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->UngetChar(s), mz::kStreamCannotStepBack) << "at the start";
  EXPECT_EQ(s->Tell(s), 0);
  EXPECT_EQ(s->Seek(s, 2, 0), 0);
  EXPECT_EQ(s->GetChar(s), 'a');
  EXPECT_EQ(s->GetChar(s), kStreamEnd);
  EXPECT_EQ(s->GetChar(s), kStreamEnd) << "the end stays";
  EXPECT_EQ(s->UngetChar(s), 0) << "after the end";
  EXPECT_EQ(s->GetChar(s), 'a');
  EXPECT_EQ(s->GetChar(s), kStreamEnd);
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
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(s->Seek(s, 0, 3), differences().unknownOrigin);
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(s->Seek(s, 15, 0), differences().seekPastEnd);
  EXPECT_EQ(s->Tell(s), differences().seekPastEnd == 0 ? 15 : 1);
  EXPECT_EQ(s->Size(s), 10);
  if (differences().printfRefusal) {
    EXPECT_EQ(s->Printf(s, "TEL:%d", 42), *differences().printfRefusal);
    EXPECT_EQ(s->Size(s), 10);
  }
}

TEST_P(CharStreamContract, WritingAtTheEndGrowsTheDataOrIsCutAtTheRoom) {
  CharStream* s = Open("head");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->Seek(s, 0, 2), 0);
  const std::string tail(5000, 'z');
  if (!differences().room) {
    EXPECT_EQ(s->Write(s, tail.data(), 5000), 5000);
    EXPECT_EQ(s->Size(s), 5004);
    return;
  }
  const int32_t room = *differences().room;
  EXPECT_EQ(s->Write(s, tail.data(), room + 6), room);
  EXPECT_EQ(s->Write(s, tail.data(), 10), 0);
  EXPECT_EQ(s->PutChar(s, 'z'), mz::kStreamNoRoom);
  EXPECT_EQ(s->Size(s), 4 + room);
}

// Seeded random sequences of every operation against a std::string model of
// the data and the position. Seeks stay inside the data; the stream is
// positioned (Seek by 0 from the current position) between writing and
// reading, as standard I/O asks, writes flushed first; UngetChar only follows a GetChar that gave
// a byte; a stream with room takes bytes only up to it.
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
    EXPECT_EQ(ReadAll(s), model);
  }
}
