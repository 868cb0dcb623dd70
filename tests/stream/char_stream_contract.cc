#include "char_stream_contract.h"

#include <string>
#include <vector>

using mz::CharStream;
using mz::kStreamEnd;

void CharStreamContract::SetUp() {
  maker_ = GetParam().newMaker();
}

void CharStreamContract::TearDown() {
  for (CharStream* stream : streams_) stream->Close(stream);
  streams_.clear();
  maker_.reset();
}

CharStream* CharStreamContract::Open(const std::string& bytes) {
  CharStream* stream = maker_->Make(bytes);
  if (stream != nullptr) streams_.push_back(stream);
  return stream;
}

namespace {

// 300 bytes that cover every byte value, 0 and 255 included.
std::string Bytes300() {
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<char>((i * 7 + 255) % 256));
  return bytes;
}

std::string ReadAll(CharStream* s) {
  std::string text;
  for (int32_t byte; (byte = s->GetChar(s)) >= 0;) text.push_back(static_cast<char>(byte));
  return text;
}

}  // namespace

TEST_P(CharStreamContract, GetCharGivesEachByteUnsignedAndAfterUngetCharTheSameByteAgain) {
  CharStream* s = Open(std::string{'\0', '\xff', 'a'});
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->UngetChar(s), mz::kStreamCannotStepBack) << "at the start";
  EXPECT_EQ(s->Tell(s), 0);
  EXPECT_EQ(s->GetChar(s), 0);
  EXPECT_EQ(s->GetChar(s), 255);
  EXPECT_EQ(s->UngetChar(s), 0);
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(s->GetChar(s), 255);
  EXPECT_EQ(s->GetChar(s), 'a');
  EXPECT_EQ(s->GetChar(s), kStreamEnd);
  EXPECT_EQ(s->GetChar(s), kStreamEnd) << "the end stays";
  EXPECT_EQ(s->UngetChar(s), 0) << "after the end";
  EXPECT_EQ(s->GetChar(s), 'a');
  EXPECT_EQ(s->GetChar(s), kStreamEnd);
}

TEST_P(CharStreamContract, ReadGivesWhatIsLeftThenZeroAndANegativeCountCopiesNothing) {
  const std::string bytes = Bytes300();
  CharStream* s = Open(bytes);
  ASSERT_NE(s, nullptr);
  std::vector<char> into(1024, '-');
  EXPECT_EQ(s->Read(s, into.data(), -5), differences().negativeRead);
  EXPECT_EQ(into[0], '-');
  EXPECT_EQ(s->Tell(s), 0);
  EXPECT_EQ(s->Read(s, into.data(), 10), 10);
  EXPECT_EQ(s->Read(s, into.data() + 10, 1024), 290);
  EXPECT_EQ(std::string(into.data(), 300), bytes);
  EXPECT_EQ(s->Read(s, into.data(), 1024), 0);
  EXPECT_EQ(s->Tell(s), 300);
}

TEST_P(CharStreamContract, SizeGivesTheLengthWithoutMovingThePosition) {
  const std::string bytes = Bytes300();
  CharStream* s = Open(bytes);
  ASSERT_NE(s, nullptr);
  for (int i = 0; i < 10; ++i) s->GetChar(s);
  EXPECT_EQ(s->Size(s), 300);
  EXPECT_EQ(s->Tell(s), 10);
  EXPECT_EQ(s->GetChar(s), static_cast<unsigned char>(bytes[10]));
}

TEST_P(CharStreamContract, WrittenBytesReadBackAfterSeekingToTheStartAndPutCharReplacesInPlace) {
  CharStream* s = Open("");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Write(s, "BEGIN:", 6), 6);
  EXPECT_EQ(s->PutChar(s, 0xE9), 0xE9);
  EXPECT_EQ(s->Write(s, "x", 0), 0);
  EXPECT_EQ(s->PutChar(s, 'y'), 'y');
  EXPECT_EQ(s->Tell(s), 8);
  EXPECT_EQ(s->Flush(s), 0);
  EXPECT_EQ(s->Seek(s, -1, 1), 0);
  EXPECT_EQ(s->PutChar(s, 'z'), 'z');
  EXPECT_EQ(s->Size(s), 8);
  EXPECT_EQ(s->Seek(s, 0, 0), 0);
  EXPECT_EQ(ReadAll(s), "BEGIN:\xe9z");
}

TEST_P(CharStreamContract, PrintfWritesTheFormattedBytes) {
  CharStream* s = Open("");
  ASSERT_NE(s, nullptr);
  if (differences().printfRefusal) {
    EXPECT_EQ(s->Printf(s, "TEL:%d", 42), *differences().printfRefusal);
    EXPECT_EQ(s->Size(s), 0);
    return;
  }
  EXPECT_EQ(s->Printf(s, "%s:%u\r\n", "X-IRMC-LUID", 7u), 15);
  EXPECT_EQ(s->Tell(s), 15);
  EXPECT_EQ(s->Seek(s, 0, 0), 0);
  EXPECT_EQ(ReadAll(s), "X-IRMC-LUID:7\r\n");
}

TEST_P(CharStreamContract, SeekMovesFromEachOriginAndOnlyWithinWhatTheStreamAllows) {
  CharStream* s = Open("0123456789");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Seek(s, 3, 0), 0);
  EXPECT_EQ(s->Tell(s), 3);
  EXPECT_EQ(s->Seek(s, 2, 1), 0);
  EXPECT_EQ(s->GetChar(s), '5');
  EXPECT_EQ(s->Seek(s, -4, 2), 0);
  EXPECT_EQ(s->GetChar(s), '6');
  EXPECT_EQ(s->Seek(s, 0, 2), 0);
  EXPECT_EQ(s->GetChar(s), kStreamEnd);
  ASSERT_EQ(s->Seek(s, 1, 0), 0);
  EXPECT_EQ(s->Seek(s, -1, 0), differences().seekBeforeStart);
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(s->Seek(s, 0, 3), differences().unknownOrigin);
  EXPECT_EQ(s->Tell(s), 1);
  EXPECT_EQ(s->Seek(s, 15, 0), differences().seekPastEnd);
  EXPECT_EQ(s->Tell(s), differences().seekPastEnd == 0 ? 15 : 1);
  EXPECT_EQ(s->Size(s), 10);
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
