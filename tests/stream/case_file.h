// Case tables kept as text files under tests/data/lib, in the format of
// tests/support/table.h (tab-separated fields with \xNN escapes), each row
// knowing its line for the test's name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "table.h"

struct CaseRow {
  std::string file;
  int line = 0;
  std::vector<std::string> fields;

  const std::string& operator[](std::size_t i) const { return fields.at(i); }
  int32_t Int(std::size_t i) const {
    return static_cast<int32_t>(std::strtoll(fields.at(i).c_str(), nullptr, 0));
  }
  bool Has(std::size_t i) const { return i < fields.size() && !fields[i].empty(); }
};

// The rows of tests/data/lib/`name`, their fields unescaped, as test
// parameters.
inline auto Cases(const std::string& name) {
  std::vector<CaseRow> rows;
  for (auto& [line, fields] : ReadNumberedTable(std::string(LIB_DATA_DIR) + "/" + name)) {
    rows.push_back({name, line, std::move(fields)});
  }
  return testing::ValuesIn(rows);
}

inline void PrintTo(const CaseRow& row, std::ostream* os) {
  *os << row.file << ":" << row.line;
}

// Test names from the line numbers.
inline std::string LineName(const testing::TestParamInfo<CaseRow>& info) {
  return "line" + std::to_string(info.param.line);
}
