// The server's pieces without a network: card names as path segments, the
// helpers of authentication, and the change log against a simple model.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>

#include "serve/carddav.h"
#include "serve/dav_state.h"
#include "serve/http_server.h"
#include "table.h"

namespace {

using namespace mzhost;

// Rows: what, input, second input, expected (\xNN bytes; "-" for none).
TEST(ServeHelpers, EachRowGivesItsResult) {
  for (const TableRow& row : ReadTable(TEST_DATA_DIR "/carddav/helpers.tsv")) {
    const std::string in = Unescape(row[1]);
    const std::string expected = Unescape(row[3]);
    if (row[0] == "name") {
      const auto name = CardName(in);
      EXPECT_EQ(name.value_or("-"), expected) << row[1];
      // A name goes out as a segment that reads back as itself.
      if (name) {
        EXPECT_EQ(CardName(EncodeSegment(*name)).value_or("-"), *name) << row[1];
      }
    } else if (row[0] == "secret") {
      EXPECT_EQ(SameSecret(in, Unescape(row[2])), in == Unescape(row[2])) << row[1];
    } else if (row[0] == "base64") {
      const std::string decoded = Base64Decode(in);
      EXPECT_EQ(decoded.empty() ? "-" : decoded, expected) << row[1];
    } else if (row[0] == "loopback") {
      EXPECT_EQ(IsLoopback(in), expected == "yes") << row[1];
    } else {
      ADD_FAILURE() << "unknown row " << row[0];
    }
  }
}

TEST(ServeHelpers, ANameOf256BytesIsRefused) {
  EXPECT_TRUE(CardName(std::string(255, 'a')));
  EXPECT_FALSE(CardName(std::string(256, 'a')));
}

// Changes since each token, against a model that remembers every change.
TEST(DavStateLog, ChangedSinceEachTokenIsWhatChangedAfterIt) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("dav-state-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "carddav.db").string();
  std::vector<std::string> changed;       // the model: every name changed, in order
  std::map<int64_t, std::size_t> tokens;  // token -> changes before it
  std::mt19937 random(17);
  std::string id;
  for (int session = 0; session < 2; ++session) {
    DavState state(path);
    if (session == 0) id = state.Id();
    EXPECT_EQ(state.Id(), id);  // tokens outlive the server
    for (int step = 0; step < 200; ++step) {
      const std::string name = "c" + std::to_string(random() % 12) + ".vcf";
      if (random() % 3 == 0) {
        state.Remove(name);
        EXPECT_FALSE(state.ByName(name));
      } else {
        state.Save({name, "id-" + name, "uid-" + name, std::to_string(step)});
        EXPECT_EQ(state.ByName(name)->hash, std::to_string(step));
      }
      changed.push_back(name);
      tokens[state.Latest()] = changed.size();
    }
    for (const auto& [token, before] : tokens) {
      const auto names = state.ChangedSince(token);
      ASSERT_TRUE(names);
      const std::set<std::string> got(names->begin(), names->end());
      const std::set<std::string> want(changed.begin() + static_cast<long>(before), changed.end());
      EXPECT_EQ(got, want) << token;
    }
    EXPECT_FALSE(state.ChangedSince(state.Latest() + 1));
    EXPECT_FALSE(state.ChangedSince(-1));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
