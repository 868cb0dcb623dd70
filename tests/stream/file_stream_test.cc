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
    const auto size = static_cast<int32_t>(bytes.size());
    if (s->Write(s, bytes.data(), size) != size || s->Flush(s) != 0 || s->Seek(s, 0, 0) != 0) {
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

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A file that cannot be opened allocates nothing; a stream that cannot be
// allocated closes its file again.
TEST(FileStreamTest, OpeningGivesNullWhenTheFileOrTheStreamCannotBeHad) {
  TempFolder folder;
  const std::size_t before = OpenDescriptors();
  g_allocations = 0;
  mz::SetAllocationGate([](std::size_t) { return ++g_allocations, false; });
  EXPECT_EQ(mz::FileStream_open(folder.File("missing/temp.txt").c_str(), "w+"), nullptr);
  EXPECT_EQ(mz::FileStream_open(folder.File("absent.txt").c_str(), "r"), nullptr);
  EXPECT_EQ(g_allocations, 0);
  EXPECT_EQ(mz::FileStream_open(folder.File("temp.txt").c_str(), "w+"), nullptr);
  EXPECT_EQ(g_allocations, 1);
  EXPECT_EQ(OpenDescriptors(), before);
  mz::SetAllocationGate(nullptr);
}

TEST(FileStreamTest, ReadingAWriteOnlyOrWritingAReadOnlyFileIsAnIoErrorAndTheStreamStaysUsable) {
  TempFolder folder;
  const std::string path = folder.File("temp.txt");
  CharStream* w = mz::FileStream_open(path.c_str(), "w");
  ASSERT_NE(w, nullptr);
  char into[8];
  EXPECT_EQ(w->Read(w, into, sizeof into), mz::kStreamIoError);
  EXPECT_EQ(w->GetChar(w), mz::kStreamEnd);
  EXPECT_EQ(w->Write(w, "abc", 3), 3);
  w->Close(w);
  CharStream* r = mz::FileStream_open(path.c_str(), "r");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->PutChar(r, 'x'), mz::kStreamIoError);
  EXPECT_EQ(r->Printf(r, "%d", 1), mz::kStreamIoError);
  EXPECT_EQ(r->Seek(r, 0, 0), 0);
  EXPECT_EQ(r->GetChar(r), 'a');
  r->Close(r);
}

TEST(IsHardErrorTest, OnlyTheFiveHardCodesAbortReading) {
  for (int32_t code : {-5, -7, -12, -71, -92}) EXPECT_EQ(mz::IsHardError(code), 1) << code;
  for (int32_t code : {-202, 0, 257, -1, -9, -23, 5, -201, 92}) {
    EXPECT_EQ(mz::IsHardError(code), 0) << code;
  }
}

}  // namespace
