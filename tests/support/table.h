// Test cases kept as data: one case a line, fields split by tabs, blank lines
// and lines starting with '#' skipped. In a field, \xNN stands for the byte
// NN (a tab, a line end, a zero byte, bytes that are not UTF-8); every other
// backslash is itself.
#pragma once

#include <cctype>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using TableRow = std::vector<std::string>;

// `name` as a test's name: what is not a letter or digit as '_'.
inline std::string TestName(std::string name) {
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

inline std::string Unescape(const std::string& field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field.compare(i, 2, "\\x") == 0 && i + 4 <= field.size()) {
      text += static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// The rows of the file at `path`, each with the number of its line.
inline std::vector<std::pair<int, TableRow>> ReadNumberedTable(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::vector<std::pair<int, TableRow>> rows;
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    TableRow row;
    for (std::size_t at = 0, tab;; at = tab + 1) {
      tab = line.find('\t', at);
      row.push_back(Unescape(line.substr(at, tab - at)));
      if (tab == std::string::npos) break;
    }
    rows.emplace_back(number, row);
  }
  return rows;
}

inline std::vector<TableRow> ReadTable(const std::string& path) {
  std::vector<TableRow> rows;
  for (auto& numbered : ReadNumberedTable(path)) rows.push_back(std::move(numbered.second));
  return rows;
}
