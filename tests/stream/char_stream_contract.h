// CharStreamContract: the behaviour every CharStream shares, run once per
// implementation.
//
// To run it for a stream, describe the stream with a CharStreamKind and
// instantiate the suite in that stream's test file:
//
//   CharStream* MakeMemBuf(StreamStore&, const std::string& bytes) { ... }
//   INSTANTIATE_TEST_SUITE_P(MemBuf, CharStreamContract,
//                            ::testing::Values(CharStreamKind{
//                                "MemBuf", &MakeMemBuf,
//                                {.seekBeforeStart = mz::kStreamInvalidArgument,
//                                 .seekPastEnd = mz::kStreamInvalidArgument,
//                                 .unknownOrigin = mz::kStreamBadOrigin,
//                                 .negativeRead = -5,
//                                 .printfRefusal = mz::kStreamNoScratch}}));
//
// A stream over caller-owned memory of fixed size sets `room` and leaves
// exactly that many bytes free after the data. The suite always
// seeks between writing and reading, as standard I/O asks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "stream/char_stream.h"

// What the streams of one test keep until they are closed: the memory they
// wrap, or the device their files are on.
struct StreamStore {
  std::deque<std::vector<char>> blocks;
  std::shared_ptr<void> device;
  int files = 0;
};

// `s` (null or not) filled with `bytes` through Write, flushed and rewound;
// null, and closed, when that fails.
mz::CharStream* Filled(mz::CharStream* s, const std::string& bytes);

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
  // A stream holding `bytes`, positioned at 0, or null.
  mz::CharStream* (*make)(StreamStore& store, const std::string& bytes);
  StreamDifferences differences;
};

inline void PrintTo(const CharStreamKind& kind, std::ostream* out) {
  *out << kind.name;
}

class CharStreamContract : public ::testing::TestWithParam<CharStreamKind> {
 protected:
  void TearDown() override;

  // A stream holding `bytes`, closed after the test.
  mz::CharStream* Open(const std::string& bytes);
  const StreamDifferences& differences() const { return GetParam().differences; }

 private:
  StreamStore store_;
  std::vector<mz::CharStream*> streams_;
};
