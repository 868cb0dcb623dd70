// The JSON API of mzhost serve: requests from data/api/cases.tsv on a
// fresh phone holding one known contact, and openapi.json against the
// server's routes.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "carddav_fixture.h"
#include "serve/api.h"
#include "serve/json_reader.h"
#include "table.h"

namespace {

const std::string kKnown =
    R"({"fields":{"name":{"family":"Lee","given":"Ann"},"mobile":"+15551234",)"
    R"("email":"ann@example.org"}})";

// {aN}: N letters a.
std::string Fill(std::string field, const std::string& etag) {
  const std::regex run(R"(\{a(\d+)\})");
  std::smatch found;
  while (std::regex_search(field, found, run)) {
    field.replace(found.position(), found.length(), std::string(std::stoul(found[1]), 'a'));
  }
  for (auto at = field.find("{etag}"); at != std::string::npos; at = field.find("{etag}")) {
    field.replace(at, 6, etag);
  }
  return field;
}

std::vector<std::string> Headers(const std::string& list) {
  std::vector<std::string> headers;
  for (std::size_t at = 0; list != "-" && at <= list.size();) {
    const auto bar = std::min(list.find(" | ", at), list.size());
    headers.push_back(list.substr(at, bar - at));
    at = bar + 3;
  }
  return headers;
}

class ApiCaseTest : public CarddavTest, public testing::WithParamInterface<TableRow> {
 protected:
  // What a refused request must leave as it was.
  std::string PhoneState() {
    return Request("GET", "/api/messages").body + Request("GET", "/api/contacts").body +
           Request("GET", "/api/sounds?event=sms").body;
  }
};

TEST_P(ApiCaseTest, AnswersAsTheRowSays) {
  const TableRow& row = GetParam();
  Start();
  const HttpReply known =
      Request("POST", "/api/contacts", {"Content-Type: application/json"}, kKnown);
  ASSERT_EQ(known.status, 201) << known.body;
  const std::string etag = known.headers.at("etag");
  const std::string before = PhoneState();

  const HttpReply reply = Request(row[1], Fill(row[2], etag), Headers(Fill(row[3], etag)),
                                  row[4] == "-" ? "" : Fill(row[4], etag));
  EXPECT_EQ(reply.status, std::stoi(row[5])) << reply.body;
  if (row[6] != "-") {
    EXPECT_NE(reply.body.find(row[6]), std::string::npos) << reply.body;
  }
  if (reply.status >= 400) {
    EXPECT_EQ(reply.headers.at("content-type"), "application/json");
    std::string error;
    const auto body = mzhost::ReadJson(reply.body, &error);
    ASSERT_TRUE(body) << error << reply.body;
    EXPECT_TRUE(body->String("error"));
    EXPECT_TRUE(body->Member("export") && body->Member("code"));
    EXPECT_EQ(PhoneState(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ApiCaseTest,
                         testing::ValuesIn(ReadTable(TEST_DATA_DIR "/api/cases.tsv")),
                         [](const auto& info) { return TestName(info.param[0]); });

// A documented path with its parameters filled in.
std::string Path(std::string path) {
  for (const auto& [name, value] :
       {std::pair<std::string, std::string>{"{folder}", "inbox"}, {"{id}", "1"}}) {
    if (const auto at = path.find(name); at != std::string::npos)
      path.replace(at, name.size(), value);
  }
  return path;
}

// The document and the routing table say the same, and the server routes
// every documented path and method, and answers 405 to the methods the
// document leaves out.
TEST_F(CarddavTest, OpenApiDocumentsEveryRouteAndNoOther) {
  std::ifstream file(OPENAPI_JSON);
  std::stringstream text;
  text << file.rdbuf();
  std::string error;
  const auto document = mzhost::ReadJson(text.str(), &error);
  ASSERT_TRUE(document) << error;
  EXPECT_EQ(*document->String("openapi"), "3.0.3");

  std::set<std::pair<std::string, std::string>> documented, routed;
  for (const mzhost::ApiRoute& route : mzhost::kApiRoutes) {
    routed.emplace(route.method, route.path);
  }
  Start();
  for (const auto& [path, item] : document->Member("paths")->members) {
    for (const char* method : {"get", "post", "put", "delete", "patch"}) {
      std::string upper = method;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const HttpReply reply = Request(upper, Path(path), {"Content-Type: application/json"}, "{}");
      if (item.Member(method) == nullptr) {
        EXPECT_EQ(reply.status, 405) << upper << " " << path;
        continue;
      }
      documented.emplace(upper, path);
      EXPECT_NE(reply.status, 405) << upper << " " << path;
      EXPECT_EQ(reply.body.find("no such route"), std::string::npos) << upper << " " << path;
    }
  }
  EXPECT_EQ(documented, routed);
}

}  // namespace
