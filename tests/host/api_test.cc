// The JSON API of mzhost serve: requests from data/api/cases.tsv on a
// fresh phone holding one known contact, and openapi.json against the
// server's routes.
#include <filesystem>
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
  // The server's phone fails where the row's eighth field says.
  if (row.size() > 7) setenv("PHONE_FAULTS", row[7].c_str(), 1);
  Start();
  unsetenv("PHONE_FAULTS");
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
  // Answered by the server itself: sign-in, and the event stream (which the
  // loop below does not open: it never ends).
  routed.insert({{"GET", "/api/session"},
                 {"POST", "/api/session"},
                 {"DELETE", "/api/session"},
                 {"GET", "/api/events"}});
  Start();
  for (const auto& [path, item] : document->Member("paths")->members) {
    for (const char* method : {"get", "post", "put", "delete", "patch"}) {
      std::string upper = method;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (path == "/api/events" && upper == "GET") {
        documented.emplace(upper, path);
        continue;
      }
      const HttpReply reply = Request(upper, Path(path), {"Content-Type: application/json"}, "{}");
      if (item.Member(method) == nullptr) {
        EXPECT_EQ(reply.status, 405) << upper << " " << path;
        continue;
      }
      documented.emplace(upper, path);
      EXPECT_NE(reply.status, 405) << upper << " " << path;
      EXPECT_FALSE(reply.body.starts_with(R"({"error":"no such route)")) << upper << " " << path;
    }
  }
  EXPECT_EQ(documented, routed);
}

mzhost::JsonValue JsonOf(const HttpReply& reply) {
  std::string error;
  const auto value = mzhost::ReadJson(reply.body, &error);
  EXPECT_TRUE(value) << error << reply.body;
  return value.value_or(mzhost::JsonValue{});
}

// The fields of each row, stored, read back as they were sent.
TEST_F(CarddavTest, JsonFieldsComeBackAsSent) {
  Start();
  for (const TableRow& row : ReadTable(TEST_DATA_DIR "/api/fields.tsv")) {
    const HttpReply added = Request("POST", "/api/contacts", {"Content-Type: application/json"},
                                    "{\"fields\":" + row[1] + "}");
    EXPECT_EQ(added.status, 201) << row[0] << added.body;
    EXPECT_NE(added.body.find("\"fields\":" + row[1] + "},\"report\""), std::string::npos)
        << row[0] << "\n"
        << added.body;
    EXPECT_NE(added.body.find("\"changed\":false"), std::string::npos) << row[0] << added.body;
  }
}

// Pages of any size and start, put together, are the folder as mzhost
// lists it.
TEST_F(CarddavTest, MessagePagesMakeUpTheFolder) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(
        RunProgram({PHONECTL, "--device", dir(), "receive", "+1555", std::to_string(i)}).status, 0);
  }
  std::string listed;
  for (const auto& m : JsonOf({0, {}, Mzhost({"--json", "messages", "list", "inbox"}).out}).items) {
    listed += *m.String("entryId") + " ";
  }
  Start();
  for (const int limit : {1, 2, 3, 7, 500}) {
    std::string paged;
    for (int offset = 0; offset < 9; offset += limit) {
      const auto page =
          JsonOf(Request("GET", "/api/messages/inbox?offset=" + std::to_string(offset) +
                                    "&limit=" + std::to_string(limit)));
      EXPECT_EQ(page.Member("total")->number, 7);
      for (const auto& m : page.Member("messages")->items) paged += *m.String("id") + " ";
    }
    EXPECT_EQ(paged, listed) << limit;
  }
}

// The files listed are those of the directory on disk with a sound's
// extension, whatever their case; folders and other files are not.
TEST_F(CarddavTest, SoundFilesAreTheSoundsOnDisk) {
  namespace fs = std::filesystem;
  const std::string documents = emulator::HostPath("\\My Documents");
  for (const char* name : {"Song.MP3", "tune.midi", "notes.txt", "voice.amr.bak"}) {
    Write(documents + "/" + name, "x");
  }
  fs::create_directories(documents + "/Folder.wav");
  Start();
  const auto answer = JsonOf(Request("GET", "/api/sounds?event=ringtone&locations=all"));
  const std::set<std::string> sounds = {".wav", ".mid", ".midi", ".mp3", ".wma", ".aac", ".amr"};
  std::size_t directories = 0;
  for (const auto& directory : answer.Member("directories")->items) {
    std::set<std::string> model, listed;
    for (const auto& entry :
         fs::directory_iterator(emulator::HostPath(*directory.String("path")))) {
      std::string extension = entry.path().extension();
      for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (entry.is_regular_file() && sounds.contains(extension)) {
        model.insert(entry.path().filename());
      }
    }
    for (const auto& file : directory.Member("files")->items) listed.insert(file.text);
    EXPECT_EQ(listed, model) << *directory.String("path");
    ++directories;
  }
  EXPECT_EQ(directories, 3U);
}

// A contact the API stores is a CardDAV resource with the same ETag, and
// one a CardDAV client stores is a contact of the API; a deletion by either
// shows in the other's next answer.
TEST_F(CarddavTest, TheApiAndCardDavShareContactsAndETags) {
  Start();
  const std::string book = "/dav/ab/contacts/";
  const auto sync = [&](const std::string& token) {
    return Request("REPORT", book, {},
                   "<?xml version=\"1.0\"?><d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" +
                       token + "</d:sync-token><d:prop><d:getetag/></d:prop></d:sync-collection>")
        .body;
  };
  const HttpReply added =
      Request("POST", "/api/contacts", {"Content-Type: application/json"}, kKnown);
  ASSERT_EQ(added.status, 201);
  const std::string first = sync("");
  const auto href = first.find("-1.vcf</d:href>");
  ASSERT_NE(href, std::string::npos) << first;
  const std::string name =
      first.substr(first.rfind('/', href) + 1, href + 6 - first.rfind('/', href) - 1);
  EXPECT_EQ(Request("GET", book + name).headers["etag"], added.headers.at("etag"));

  const HttpReply put = Request("PUT", book + "rick.vcf", {"Content-Type: text/vcard"},
                                "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:rick\r\nN:Roe;Rick\r\n"
                                "TEL;TYPE=CELL:+1555\r\nEND:VCARD\r\n");
  ASSERT_EQ(put.status, 201);
  const auto contact = JsonOf(Request("GET", "/api/contacts/2"));
  EXPECT_EQ(*contact.String("name"), "Rick Roe");
  EXPECT_EQ(*contact.String("etag"), Request("GET", book + "rick.vcf").headers["etag"]);

  const std::size_t at = first.find("<d:sync-token>") + 14;
  const std::string token = first.substr(at, first.find("</d:sync-token>") - at);
  ASSERT_EQ(Request("DELETE", "/api/contacts/1").status, 204);
  EXPECT_NE(sync(token).find(name + "</d:href><d:status>HTTP/1.1 404"), std::string::npos);
  ASSERT_EQ(Request("DELETE", book + "rick.vcf").status, 204);
  EXPECT_EQ(Request("GET", "/api/contacts/2").status, 404);
}

}  // namespace
