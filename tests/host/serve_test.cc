// The server's pieces without a network: card names as path segments, the
// helpers of authentication, and the change log against a simple model.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "serve/carddav.h"
#include "serve/dav_state.h"
#include "serve/events.h"
#include "serve/http_server.h"
#include "serve/json_reader.h"
#include "serve/sessions.h"
#include "table.h"
#include "text.h"

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
    } else if (row[0] == "json") {
      std::string error;
      const auto value = ReadJson(in, &error);
      EXPECT_EQ(value.has_value(), expected != "-") << row[1] << ": " << error;
      EXPECT_EQ(error.empty(), value.has_value()) << row[1];
      if (value && row[2] != "-") {
        const std::string* member = value->String(row[2]);
        EXPECT_EQ(member ? *member : "-", expected) << row[1];
      }
    } else if (row[0] == "fold") {
      EXPECT_EQ(FoldCase(in), expected) << row[1];
    } else if (row[0] == "cookie") {
      EXPECT_EQ(CookieValue(in, row[2]).value_or("-"), expected) << row[1];
    } else {
      ADD_FAILURE() << "unknown row " << row[0];
    }
  }
}

TEST(ServeHelpers, ANameOf256BytesIsRefused) {
  EXPECT_TRUE(CardName(std::string(255, 'a')));
  EXPECT_FALSE(CardName(std::string(256, 'a')));
}

// A client that never reads loses what does not fit its queue, and is told
// how many; a client that keeps reading gets every event, in order.
TEST(EventHub, ASlowClientLosesItsOwnEventsOnly) {
  EventHub hub;
  const auto slow = hub.Join();
  const auto fast = hub.Join();
  ASSERT_TRUE(slow && fast);
  constexpr int kEvents = 1000;
  std::string received;
  std::atomic<int> seen{0};
  std::thread reader([&] {
    while (seen < kEvents) {
      const std::string bytes = fast->Next(std::chrono::seconds(60));
      if (bytes.empty()) break;
      for (std::size_t at = 0; (at = bytes.find("event: message", at)) != std::string::npos; ++at) {
        ++seen;
      }
      received += bytes;
    }
  });
  for (int i = 0; i < kEvents; ++i) {
    hub.Publish("message", "{\"n\":" + std::to_string(i) + "}");
    // In batches smaller than a queue: the fast client keeps up.
    while (i % 100 == 99 && seen < i + 1) std::this_thread::yield();
  }
  reader.join();
  EXPECT_NE(received.find("{\"n\":999}"), std::string::npos);
  EXPECT_EQ(received.find("event: dropped"), std::string::npos);
  const std::string late = slow->Next(std::chrono::seconds(0));
  EXPECT_EQ(late.rfind("event: dropped\ndata: {\"dropped\":744}\n\n", 0), 0U) << late.substr(0, 80);
  EXPECT_EQ(hub.Dropped(), 744U);
  hub.Stop();
  EXPECT_EQ(slow->Next(std::chrono::seconds(60)), "");
  EXPECT_FALSE(hub.Join());
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
