// What the mzhost suites share: mzhost run on the test's fresh device, files
// in the device folder, and numbered cards whose stored form is known.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "program.h"

inline void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// `count` distinct cards, LF line ends: family PREFIX<i>, given name, mobile.
inline std::string NumberedCards(const std::string& prefix, int count, int first = 0) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    const std::string n = std::to_string(i);
    text += "BEGIN:VCARD\nVERSION:2.1\nN:" + prefix + n + ";Given" + n + "\nTEL;CELL:+1555" + n +
            "\nEND:VCARD\n";
  }
  return text;
}

// The properties a numbered card stores, by its family name.
inline std::map<std::string, std::string> NumberedContact(const std::string& family,
                                                          const std::string& prefix) {
  const std::string n = family.substr(prefix.size());
  return {{"LastName", family}, {"FirstName", "Given" + n}, {"MobileTelephoneNumber", "+1555" + n}};
}

// The first column of the first row `statement` gives on the database at
// `path`, or SQLite's error message.
inline std::string Sql(const std::string& path, const char* statement) {
  sqlite3* db = nullptr;
  sqlite3_stmt* prepared = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_prepare_v2(db, statement, -1, &prepared, nullptr);
  const unsigned char* text =
      sqlite3_step(prepared) == SQLITE_ROW ? sqlite3_column_text(prepared, 0) : nullptr;
  std::string result = text != nullptr ? reinterpret_cast<const char*>(text) : sqlite3_errmsg(db);
  sqlite3_finalize(prepared);
  sqlite3_close(db);
  return result;
}

class MzhostTest : public DeviceTest {
 protected:
  std::vector<std::string> Argv(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {MZHOST, "--device", dir()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  ProgramRun Mzhost(const std::vector<std::string>& args) { return RunProgram(Argv(args)); }
  std::string File(const std::string& name) const { return dir() + "/" + name; }
};

// `text` is one line, and holds `says`.
inline void ExpectOneLine(const std::string& text, const std::string& says) {
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  EXPECT_NE(text.find(says), std::string::npos) << text;
}
