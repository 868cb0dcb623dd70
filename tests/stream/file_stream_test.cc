#include "stream/file_stream.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "char_stream_contract.h"
#include "frame/memory.h"

namespace {

namespace fs = std::filesystem;
using mz::CharStream;

// A fresh temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "file_stream_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Each stream is a new file, filled the way the exports fill the scratch
// file: opened "w+", written, flushed and rewound.
class FileStreamMaker : public StreamMaker {
 public:
  CharStream* Make(const std::string& bytes) override {
    CharStream* s = mz::FileStream_open(folder_.File(std::to_string(count_++)).c_str(), "w+");
    if (s == nullptr) return nullptr;
    if (s->Write(s, bytes.data(), static_cast<int32_t>(bytes.size())) !=
            static_cast<int32_t>(bytes.size()) ||
        s->Flush(s) != 0 || s->Seek(s, 0, 0) != 0) {
      s->Close(s);
      return nullptr;
    }
    return s;
  }

 private:
  TempFolder folder_;
  int count_ = 0;
};

std::unique_ptr<StreamMaker> NewFileStreamMaker() {
  return std::make_unique<FileStreamMaker>();
}

INSTANTIATE_TEST_SUITE_P(FileStream, CharStreamContract,
                         ::testing::Values(CharStreamKind{"FileStream", &NewFileStreamMaker, {}}));

int g_allocations = 0;

bool CountAndRefuse(std::size_t) {
  ++g_allocations;
  return false;
}

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

class FileStreamTest : public ::testing::Test {
 protected:
  void TearDown() override { mz::SetAllocationGate(nullptr); }

  TempFolder folder_;
};

TEST_F(FileStreamTest, AFileThatCannotBeOpenedGivesNullAndAllocatesNothing) {
  g_allocations = 0;
  mz::SetAllocationGate(&CountAndRefuse);
  EXPECT_EQ(mz::FileStream_open(folder_.File("missing/temp.txt").c_str(), "w+"), nullptr);
  EXPECT_EQ(mz::FileStream_open(folder_.File("absent.txt").c_str(), "r"), nullptr);
  EXPECT_EQ(g_allocations, 0);
}

TEST_F(FileStreamTest, AStreamThatCannotBeAllocatedClosesTheFileAgain) {
  const std::size_t before = OpenDescriptors();
  g_allocations = 0;
  mz::SetAllocationGate(&CountAndRefuse);
  EXPECT_EQ(mz::FileStream_open(folder_.File("temp.txt").c_str(), "w+"), nullptr);
  EXPECT_EQ(g_allocations, 1);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(FileStreamTest, ReadingAWriteOnlyFileIsAnIoErrorWhileGetCharSeesTheEnd) {
  CharStream* s = mz::FileStream_open(folder_.File("temp.txt").c_str(), "w");
  ASSERT_NE(s, nullptr);
  char into[8];
  EXPECT_EQ(s->Read(s, into, sizeof into), mz::kStreamIoError);
  EXPECT_EQ(s->GetChar(s), mz::kStreamEnd);
  s->Close(s);
}

TEST_F(FileStreamTest, WritingAReadOnlyFileIsAnIoErrorAndTheStreamStaysUsable) {
  const std::string path = folder_.File("temp.txt");
  CharStream* w = mz::FileStream_open(path.c_str(), "w");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Write(w, "abc", 3), 3);
  w->Close(w);
  CharStream* s = mz::FileStream_open(path.c_str(), "r");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->PutChar(s, 'x'), mz::kStreamIoError);
  EXPECT_EQ(s->Printf(s, "%d", 1), mz::kStreamIoError);
  EXPECT_EQ(s->Seek(s, 0, 0), 0);
  EXPECT_EQ(s->GetChar(s), 'a');
  s->Close(s);
}

struct HardErrorCase {
  int32_t code;
  int expected;
};

TEST(IsHardErrorTest, OnlyTheFiveHardCodesAbortReading) {
  const HardErrorCase cases[] = {{-5, 1},   {-7, 1}, {-12, 1},  {-71, 1}, {-92, 1},
                                 {-202, 0}, {0, 0},  {257, 0},  {-1, 0},  {-9, 0},
                                 {-23, 0},  {5, 0},  {-201, 0}, {92, 0}};
  for (const HardErrorCase& c : cases) EXPECT_EQ(mz::IsHardError(c.code), c.expected) << c.code;
}

}  // namespace
