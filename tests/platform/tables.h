// Case tables of the platform's tests, kept in tests/data/platform: one case
// a line, fields split by tabs, blank lines and lines starting with '#'
// skipped. Fields are ASCII; "\xNN" and "\uNNNN" stand for one code unit,
// "\t" for a tab and "\\" for a backslash.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace tables {

using Row = std::vector<std::string>;

inline std::vector<Row> Read(const std::string& name) {
  std::ifstream in(std::string(PLATFORM_DATA_DIR) + "/" + name);
  EXPECT_TRUE(in) << name;
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    Row row(1);
    for (char c : line) {
      if (c == '\t') {
        row.emplace_back();
      } else {
        row.back().push_back(c);
      }
    }
    rows.push_back(row);
  }
  return rows;
}

// The code units a field stands for.
inline std::u16string Units(const std::string& field) {
  std::u16string units;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    const char next = i + 1 < field.size() ? field[i + 1] : '\0';
    if (c == '\\' && (next == 'x' || next == 'u')) {
      const std::size_t digits = next == 'x' ? 2 : 4;
      units.push_back(static_cast<char16_t>(std::stoul(field.substr(i + 2, digits), nullptr, 16)));
      i += 1 + digits;
    } else if (c == '\\' && (next == 't' || next == '\\')) {
      units.push_back(next == 't' ? u'\t' : u'\\');
      ++i;
    } else {
      units.push_back(static_cast<unsigned char>(c));
    }
  }
  return units;
}

// The bytes a field stands for (units above 0xFF are a mistake in the table).
inline std::string Bytes(const std::string& field) {
  std::string bytes;
  for (char16_t unit : Units(field)) {
    EXPECT_LT(unit, 0x100) << field;
    bytes.push_back(static_cast<char>(unit));
  }
  return bytes;
}

// A number in C notation (decimal, 0x hex), kept to its low 32 bits.
inline std::int32_t Number(const std::string& field) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(std::stoll(field, nullptr, 0)));
}

}  // namespace tables
