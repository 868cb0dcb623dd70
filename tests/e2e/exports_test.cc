// The library's dynamic symbol table: the MZ_ exports and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

// The names `nm -D --defined-only` lists for the library, sorted.
std::vector<std::string> DefinedDynamicSymbols() {
  const std::string command = std::string("nm -D --defined-only '") + MZ_LIBRARY + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return {};
  }
  std::vector<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    // "<address> <type> <name>": the name is the last word.
    std::istringstream words(line);
    std::string word, last;
    while (words >> word) last = word;
    if (!last.empty()) names.push_back(last);
  }
  EXPECT_EQ(pclose(pipe), 0) << command << " failed";
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ExportsTest, LibraryExportsExactlyItsMzFunctions) {
  std::vector<std::string> expected = e2e::BuiltExports();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(DefinedDynamicSymbols(), expected);
}

}  // namespace
