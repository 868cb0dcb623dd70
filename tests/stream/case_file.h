// Case tables kept as text files under tests/data/lib: one case a line,
// fields separated by tabs, '#' lines and blank lines skipped. Fields take
// the C escapes \xHH, \r, \n, \t and \\, so any byte can be written.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

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

inline void PrintTo(const CaseRow& row, std::ostream* os) {
  *os << row.file << ":" << row.line;
}

// The field's text with its escapes undone.
inline std::string Unescape(const std::string& field) {
  std::string bytes;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      bytes += field[i];
      continue;
    }
    const char c = field[++i];
    if (c == 'x' && i + 2 < field.size()) {
      bytes += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
  }
  return bytes;
}

// The rows of tests/data/lib/`name` whose first field is `kind` (every row
// when `kind` is empty), their fields unescaped.
inline std::vector<CaseRow> ReadCases(const std::string& name, const std::string& kind = "") {
  std::ifstream in(std::string(LIB_DATA_DIR) + "/" + name);
  std::vector<CaseRow> rows;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (text.empty() || text[0] == '#') continue;
    CaseRow row{name, line, {}};
    for (std::size_t start = 0;;) {
      const std::size_t tab = text.find('\t', start);
      row.fields.push_back(Unescape(text.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (kind.empty() || row.fields[0] == kind) rows.push_back(row);
  }
  return rows;
}

// Test names from the line numbers.
inline std::string LineName(const testing::TestParamInfo<CaseRow>& info) {
  return "line" + std::to_string(info.param.line);
}
